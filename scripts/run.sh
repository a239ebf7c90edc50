#!/usr/bin/env bash
# Builds everything, packs a demo installer (out/Tesserine-demo.exe) and runs it under Wine. The pages a
# user meets are saved as screenshots in out/screens. With $DISPLAY set the demo installer then opens
# there for a person to use; without it everything runs on the harness's own Xvfb display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"

win=$root/build/win
out=$root/out
mkdir -p "$out/screens" "$out/demo"

# The demo: a client at build 4526, the patch that takes it to 4536 (made by rtpbuild from two folders),
# and the installer packed with the engine, the patch notes and that patch.
demo=$out/demo
rm -rf "$demo" && mkdir -p "$demo/client" "$demo/new/data"
printf '[client]\r\nbuild=4526\r\n' >"$demo/client/common.ini"
printf '[client]\r\nbuild=4536\r\n' >"$demo/new/common.ini"
mkdir -p "$demo/client/data"
# Map data large enough for the progress bar to be seen moving: 32 MiB, of which build 4536 rewrites one
# MiB in the middle and adds four.
head -c 32M /dev/urandom >"$demo/client/data/maps.pak"
{ head -c 16M "$demo/client/data/maps.pak"; head -c 1M /dev/urandom; tail -c +17825793 "$demo/client/data/maps.pak"
  head -c 4M /dev/urandom; } >"$demo/new/data/maps.pak"
cp "$win/bin/recorder.exe" "$demo/client/zav.exe" && cp "$win/bin/recorder.exe" "$demo/new/zav.exe"
"$root/build/native/bin/rtpbuild" build --quiet "$demo/client" "$demo/new" "$demo/patch.rtp"
"$root/build/native/bin/embedfs" pack "$win/bin/Tesserine.exe" "$out/Tesserine-demo.exe" \
  "patchw32.dll=$win/bin/patchw32.dll" "patchnotes4536.rtf=$root/tests/data/patchnotes4536.rtf" \
  "ZAV.2.12.4526-2.12.4536.rtp=$demo/patch.rtp"
"$root/build/native/bin/embedfs" list "$out/Tesserine-demo.exe"
client_arg="path=Z:$(echo "$demo/client" | tr / '\\')"

# Screenshots of each page, taken by the end-to-end scenarios on the harness's display.
export TESSERINE_SCREENSHOT_DIR=$out/screens
"$root/scripts/wine-run.sh" "$win/bin/e2e_pages_test.exe" --gtest_filter='PagesTour.*:WelcomePage.*' >"$out/screens/e2e.log" 2>&1 ||
  { cat "$out/screens/e2e.log"; exit 1; }
"$root/scripts/wine-run.sh" "$win/bin/e2e_run_test.exe" --gtest_filter='PatchRun.PatchesTheClient*' >>"$out/screens/e2e.log" 2>&1 ||
  { cat "$out/screens/e2e.log"; exit 1; }
for bmp in "$out"/screens/*.bmp; do
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "screenshots: $(cd "$out/screens" && ls ./*.png | tr '\n' ' ')"

if [ -n "${DISPLAY:-}" ]; then
  # The harness's server drives its Xvfb desktop; the person's display gets a server of its own.
  "$root/scripts/wine-env.sh" down "$win"
  eval "$("$root/scripts/wine-env.sh" env "$win")"
  export DISPLAY
  echo "running the demo installer on $DISPLAY"
  set +e
  "$TESSERINE_WINE" "$out/Tesserine-demo.exe" "$client_arg"
  echo "installer exit code: $?"
  wineserver -w
else
  # No display of one's own: the demo installer runs on the harness's Xvfb, photographed from outside.
  eval "$("$root/scripts/wine-env.sh" env "$win")"
  "$TESSERINE_WINE" "$out/Tesserine-demo.exe" "$client_arg" </dev/null >/dev/null 2>&1 &
  demo=$!
  # Wait for the window, not for a time (an emulated machine starts it slower): the empty desktop is one
  # colour, the installer's window brings many.
  shot=$out/screens/demo-installer.png
  for _ in $(seq 120); do
    import -display "$DISPLAY" -window root "$shot"
    [ "$(convert "$shot" -format %k info:)" -gt 64 ] && break
    sleep 0.5
  done
  sleep 1  # its first paint settles
  import -display "$DISPLAY" -window root "$shot"
  kill "$demo" 2>/dev/null || true
  wait "$demo" 2>/dev/null || true
  echo "no DISPLAY: the demo installer ran on Xvfb; see out/screens/demo-installer.png"
  "$root/scripts/wine-env.sh" down "$win"
fi
