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

# The demo archive: the engine library (when the tree has built one), the patch notes and a patch file.
entries=()
[ -f "$win/bin/patchw32.dll" ] && entries+=("patchw32.dll=$win/bin/patchw32.dll")
entries+=("patchnotes4536.rtf=$root/tests/data/patchnotes4536.rtf")
printf 'demo patch file\n' >"$out/demo/patch.rtp"
entries+=("ZAV.2.12.4526-2.12.4536.rtp=$out/demo/patch.rtp")
"$root/build/native/bin/embedfs" pack "$win/bin/Tesserine.exe" "$out/Tesserine-demo.exe" "${entries[@]}"
"$root/build/native/bin/embedfs" list "$out/Tesserine-demo.exe"

# Screenshots of each page, taken by the end-to-end scenarios on the harness's display.
export TESSERINE_SCREENSHOT_DIR=$out/screens
"$root/scripts/wine-run.sh" "$win/bin/e2e_pages_test.exe" --gtest_filter='PagesTour.*:WelcomePage.*' >"$out/screens/e2e.log" 2>&1 ||
  { cat "$out/screens/e2e.log"; exit 1; }
"$root/scripts/wine-run.sh" "$win/bin/dialog_paint_test.exe" --gtest_filter='PaintTest.FinishedPage*' >>"$out/screens/e2e.log" 2>&1 ||
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
  wine "$out/Tesserine-demo.exe"
  echo "installer exit code: $?"
  wineserver -w
else
  # No display of one's own: the demo installer runs on the harness's Xvfb, photographed from outside.
  eval "$("$root/scripts/wine-env.sh" env "$win")"
  wine "$out/Tesserine-demo.exe" </dev/null >/dev/null 2>&1 &
  demo=$!
  sleep 4
  import -display "$DISPLAY" -window root "$out/screens/demo-installer.png"
  kill "$demo" 2>/dev/null || true
  wait "$demo" 2>/dev/null || true
  echo "no DISPLAY: the demo installer ran on Xvfb; see out/screens/demo-installer.png"
  "$root/scripts/wine-env.sh" down "$win"
fi
