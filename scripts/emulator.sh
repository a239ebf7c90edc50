#!/usr/bin/env bash
# Makes this machine run Wine's 32-bit loader, which runs the product's 32-bit programs.
#   - A kernel that executes 32-bit programs itself needs nothing: no emulator is involved.
#   - Otherwise Debian's static qemu-i386 runs the 32-bit Linux side (Wine's server, services and desktop
#     stay 64-bit in the prefix). It comes from the signed trixie (or trixie-security) index, downloaded
#     with a private apt configuration, unpacked into build/emulator; nothing of trixie is installed.
#     It is registered with binfmt_misc as "tesserine-i386", which needs root.
# The kernel is asked with that entry disabled, since while it is enabled every 32-bit program runs.
# TESSERINE_I386=emulate registers the emulator even where the kernel would do (to try that branch).
#   emulator.sh        set up as above
#   emulator.sh mode   print how 32-bit programs run here: "native" or "emulated" (for labelling figures)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build/emulator
binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/tesserine-i386
loader=/usr/lib/wine/wine

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
say() { echo "setup: $*" >&2; }
write_root() { echo "$2" | "${as_root[@]}" tee "$1" >/dev/null; }
runs_32bit() { "$loader" --version >/dev/null 2>&1; }

if [ "${1:-}" = mode ]; then
  [ "$(head -1 "$entry" 2>/dev/null)" = enabled ] && echo emulated || echo native
  exit 0
fi

[ -x "$loader" ] || { say "Wine's 32-bit loader ($loader, package wine32:i386) is missing"; exit 1; }

if [ -e "$entry" ]; then
  write_root "$entry" 0 || { say "cannot disable $entry to ask the kernel (needs root)"; exit 1; }
fi
if [ "${TESSERINE_I386:-}" != emulate ] && runs_32bit; then
  [ -e "$entry" ] && write_root "$entry" -1
  say "this kernel executes 32-bit programs itself; no emulator"
  exit 0
fi

# A qemu-i386 of 10.x or later: bookworm's 7.2 takes about 100 s to start one Windows program.
qemu=$dir/qemu-i386
usable() { [ -x "$qemu" ] && "$qemu" --version 2>/dev/null | grep -Eq 'version ([1-9][0-9]+)\.'; }
fetch_qemu() {
  local keys=/usr/share/keyrings/debian-archive-trixie
  local signed="signed-by=$keys-stable.gpg,$keys-automatic.gpg,$keys-security-automatic.gpg"
  rm -rf "$dir/apt" && mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial" "$dir/apt/parts"
  cat >"$dir/apt/sources.list" <<EOF
deb [arch=amd64 $signed] http://deb.debian.org/debian trixie main
deb [arch=amd64 $signed] http://deb.debian.org/debian-security trixie-security main
EOF
  local opts=(-qq -o Dir::Etc::SourceList="$dir/apt/sources.list" -o Dir::Etc::SourceParts="$dir/apt/parts"
    -o Dir::State::Lists="$dir/apt/lists" -o Dir::Cache="$dir/apt/cache" -o Dir::State::status=/dev/null
    -o APT::Architectures=amd64 -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  local try
  for try in 1 2 3; do
    apt-get "${opts[@]}" update && (cd "$dir/apt" && apt-get "${opts[@]}" download qemu-user) && break
    say "fetching trixie's qemu-user failed (try $try of 3)"
    sleep $((try * 5))
  done
  local deb
  deb=$(ls "$dir"/apt/qemu-user_*.deb 2>/dev/null | head -1)
  [ -n "$deb" ] || { say "cannot download qemu-user from Debian trixie"; exit 1; }
  dpkg-deb --fsys-tarfile "$deb" | tar -x -O ./usr/bin/qemu-i386 >"$qemu.part"
  chmod +x "$qemu.part" && mv "$qemu.part" "$qemu"
  rm -rf "$dir/apt"
}
mkdir -p "$dir"
usable || fetch_qemu
usable || { say "the qemu-i386 of trixie's qemu-user is not 10.x or later"; exit 1; }

if ! mountpoint -q "$binfmt"; then
  "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
    { say "this kernel cannot execute 32-bit programs, and mounting binfmt_misc needs root"; exit 1; }
fi
# The 32-bit ELF executable header; "F" opens the emulator now, so it serves every mount namespace.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
[ -e "$entry" ] && write_root "$entry" -1
write_root "$binfmt/register" ":tesserine-i386:M::$magic:$mask:$qemu:F" ||
  { say "this kernel cannot execute 32-bit programs, and registering qemu-i386 with binfmt_misc needs root"; exit 1; }
runs_32bit || { say "Wine's 32-bit loader does not start under $qemu"; exit 1; }
why="this kernel cannot execute 32-bit programs"
[ "${TESSERINE_I386:-}" != emulate ] || why="TESSERINE_I386=emulate"
say "$why: 32-bit programs run under $("$qemu" --version | head -1), registered with binfmt_misc as tesserine-i386"
