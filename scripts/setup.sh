#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, then makes this machine run 32-bit Windows
# programs: natively where the kernel executes 32-bit code, otherwise under Debian's qemu-i386
# (scripts/emulator.sh). Does nothing that is already done.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build make g++ clang libclang-rt-14-dev clang-format googletest
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 wine32:i386 xvfb xauth x11-utils imagemagick fonts-wqy-microhei python3 locales
  libbenchmark-dev osslsigncode openssl lzma-dev libdivsufsort-dev
)

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# A mirror in the middle of a sync may fail an index fetch, or serve i386 indexes that lag their amd64
# twins, so that Wine's 32-bit half cannot be installed beside the newer 64-bit libraries. Retry the fetch,
# then fall back to the release's main suite, whose versions match on both architectures.
update_indexes() {
  local try
  for try in 1 2 3; do
    "${as_root[@]}" apt-get update -qq && return 0
    echo "setup: fetching the package indexes failed (try $try of 3)" >&2
    sleep $((try * 5))
  done
  echo "setup: going on with the indexes that were fetched" >&2
}

install_missing() {
  local release
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "$@" >/dev/null && return 0
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "setup: installing failed; trying the versions of $release's main suite" >&2
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends -t "$release" "$@" >/dev/null && return 0
  update_indexes
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends -t "$release" "$@" >/dev/null && return 0
  echo "setup: cannot install ${*} from this machine's package archive" >&2
  exit 1
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
  fi
  update_indexes
  install_missing "${missing[@]}"
fi

# The Windows tests run with LC_ALL=zh_CN.UTF-8 (Wine then uses code page 936).
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  "${as_root[@]}" sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
  "${as_root[@]}" locale-gen >/dev/null
fi

"$root/scripts/emulator.sh"
