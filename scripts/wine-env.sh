#!/usr/bin/env bash
# The Wine test harness: one Xvfb display and one 64-bit prefix per build tree.
#   wine-env.sh up   BUILD_DIR   start (or reuse) Xvfb, the prefix, a persistent wineserver and a keep-alive
#   wine-env.sh down BUILD_DIR   stop what "up" started, by process id, and shut the server down cleanly
#   wine-env.sh env  BUILD_DIR   print the environment (export lines) for running wine in this tree;
#                                $TESSERINE_WINE is the loader to run programs with
# Everything lives in BUILD_DIR/wine: prefix/, display, xvfb.pid, keepalive.pid, lock, smalldisk/.
# Nothing started here may inherit fd 9, the lock: a long-lived child would hold it for ever.
set -euo pipefail
cmd=${1:?usage: wine-env.sh up|down|env BUILD_DIR}
build=$(cd "${2:?usage: wine-env.sh up|down|env BUILD_DIR}" && pwd)
state=$build/wine
mkdir -p "$state"

# The prefix is 64-bit (WoW64): the product's 32-bit programs run in it as a 32-bit installer runs on the
# 64-bit Windows most players have, and Wine's server, services and desktop run as 64-bit programs, which
# matters where the 32-bit side is emulated (scripts/setup.sh).
arch=win64 loader=/usr/lib/wine/wine64
export WINELOADER=$loader
wine() { command "$loader" "$@"; }
export WINEPREFIX=$state/prefix WINEARCH=$arch WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
export LC_ALL=zh_CN.UTF-8

alive() { [ -f "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }

start_xvfb() {
  if [ -f "$state/display" ] && alive "$state/xvfb.pid"; then return; fi
  local n
  for n in $(seq 90 160); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 9>&- &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    if alive "$state/xvfb.pid" && [ -e "/tmp/.X11-unix/X$n" ]; then echo ":$n" >"$state/display"; return; fi
  done
  echo "wine-env: no free X display" >&2; exit 1
}

reg() { wine reg add "$1" /v "$2" /t "$3" /d "$4" /f </dev/null >/dev/null 2>&1 9>&-; }

make_prefix() {
  [ -f "$WINEPREFIX/.tesserine-ready" ] && return
  # A half-made prefix (an interrupted first run): stop its server before starting again.
  wineserver -k </dev/null >/dev/null 2>&1 9>&- || true
  rm -rf "$WINEPREFIX"
  wine wineboot -i </dev/null >/dev/null 2>&1 9>&-
  # Framed windows without a window manager, and no 2 s wait on each hide.
  reg 'HKCU\Software\Wine\Explorer' Desktop REG_SZ Default
  reg 'HKCU\Software\Wine\Explorer\Desktops' Default REG_SZ 1024x768
  # A crash must fail the test, not open a dialog that blocks the suite.
  reg 'HKCU\Software\Wine\WineDbg' ShowCrashDialog REG_DWORD 0
  reg 'HKCU\Software\Wine\Fonts\Replacements' SimSun REG_SZ 'WenQuanYi Micro Hei'
  reg 'HKCU\Software\Wine\Fonts\Replacements' 'MS Sans Serif' REG_SZ 'WenQuanYi Micro Hei'
  reg 'HKCU\Software\Wine\Fonts\Replacements' 'Microsoft Sans Serif' REG_SZ 'WenQuanYi Micro Hei'
  reg 'HKCU\Software\Wine\Fonts\Replacements' 'Arial' REG_SZ 'WenQuanYi Micro Hei'
  # No test may open a real browser: web addresses go to the recorder that stands in for it.
  local recorder="Z:${build//\//\\}\\bin\\recorder.exe"
  for scheme in http https; do
    wine reg add "HKLM\\Software\\Classes\\$scheme\\shell\\open\\command" /ve /t REG_SZ \
      /d "\"$recorder\" \"%1\"" /f </dev/null >/dev/null 2>&1 9>&-
  done
  wineserver -w 9>&-
  touch "$WINEPREFIX/.tesserine-ready"
}

up() {
  start_xvfb
  export DISPLAY=$(cat "$state/display")
  make_prefix
  # Exits 2 when this prefix's server already runs: that server is kept.
  wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
  # Drive S: is a 32 MB disk of its own, for tests of the disk-space check (mounting needs root;
  # without it S: is an ordinary folder and those tests skip).
  mkdir -p "$state/smalldisk"
  mountpoint -q "$state/smalldisk" || mount -t tmpfs -o size=32m tmpfs "$state/smalldisk" 2>/dev/null || true
  ln -sfn "$state/smalldisk" "$WINEPREFIX/dosdevices/s:"
  if ! alive "$state/keepalive.pid"; then
    # Wine's services inherit the first process's output: keep them away from the test runner's pipes.
    local keep=$build/bin/keepalive.exe
    wine wineboot </dev/null >/dev/null 2>&1 9>&-
    if [ -f "$keep" ]; then
      setsid "$loader" "$keep" </dev/null >/dev/null 2>&1 9>&- &
      echo $! >"$state/keepalive.pid"
    fi
  fi
}

down() {
  if [ -f "$state/display" ]; then
    export DISPLAY=$(cat "$state/display")
    if alive "$state/keepalive.pid"; then kill "$(cat "$state/keepalive.pid")" 2>/dev/null || true; fi
    wineserver -k </dev/null >/dev/null 2>&1 9>&- || true
    wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
  fi
  if alive "$state/xvfb.pid"; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; fi
  if mountpoint -q "$state/smalldisk" 2>/dev/null; then umount "$state/smalldisk" 2>/dev/null || true; fi
  rm -f "$state/keepalive.pid" "$state/xvfb.pid" "$state/display"
}

case $cmd in
  up)
    exec 9>"$state/lock"; flock 9
    up ;;
  down)
    exec 9>"$state/lock"; flock 9
    down ;;
  env)
    echo "export WINEPREFIX='$WINEPREFIX' WINEARCH=$arch WINEDEBUG=-all LC_ALL=zh_CN.UTF-8"
    echo "export TESSERINE_WINE='$loader'"
    echo "export WINELOADER='$loader'"
    echo "export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'"
    [ -f "$state/display" ] && echo "export DISPLAY='$(cat "$state/display")'" ;;
  *) echo "usage: wine-env.sh up|down|env BUILD_DIR" >&2; exit 2 ;;
esac
