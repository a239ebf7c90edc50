# The Windows programs and tests built for x64: on a kernel that cannot execute 32-bit programs (so Wine's
# 32-bit loader cannot start), the Windows suite runs in this build under 64-bit Wine.
set(TESSERINE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
