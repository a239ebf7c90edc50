# Cross build for 32-bit Windows with Debian's MinGW-w64 (posix threads: GoogleTest needs std::mutex).
set(TESSERINE_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER ${TESSERINE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSERINE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSERINE_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TESSERINE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests run under Wine through the harness, which brings up Xvfb, the prefix and the server on first use.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
