#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Does nothing when all are present.
set -euo pipefail

packages=(
  cmake ninja-build make g++ clang libclang-rt-14-dev clang-format googletest
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 xvfb xauth x11-utils imagemagick fonts-wqy-microhei python3 locales libbenchmark-dev
  osslsigncode openssl lzma-dev libdivsufsort-dev
)

# A kernel without IA-32 emulation cannot execute Wine's 32-bit loader (once installed, it fails to start):
# the Windows tests are then also built for x64 and run under 64-bit Wine.
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The Windows tests run with LC_ALL=zh_CN.UTF-8 (Wine then uses code page 936).
have_locale() { locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; }
make_locale() {
  have_locale && return 0
  sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
}
if [ ${#missing[@]} -eq 0 ]; then
  make_locale
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
make_locale
# Only now is the 32-bit loader there to try, on a fresh machine.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1 && ! [ -x /usr/lib/wine/wine64 ]; then exec "$0"; fi
