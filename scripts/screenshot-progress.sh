#!/usr/bin/env bash
# Shows the progress window under a Chinese locale and saves a picture of the screen.
# Usage: screenshot-progress.sh <progress_window_demo.exe> <output.png>
# Also writes <output>-window.png, the window alone, and fails when the label
# area of the window is blank (one colour only: no text was drawn).
set -euo pipefail
demo="$1"
out="$2"
here="$(cd "$(dirname "$0")" && pwd)"
: "${DISPLAY:?no X display: start Xvfb first (scripts/wine-env.sh)}"
mkdir -p "$(dirname "$out")"
work="$(mktemp -d)"
demo_pid=""
cleanup() {
  touch "$work/release"
  if [ -n "$demo_pid" ]; then wait "$demo_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# Z: is the Unix root in every Wine prefix.
"$here/wine-run.sh" "$demo" "Z:$work/ready" "Z:$work/release" </dev/null &
demo_pid=$!
for _ in $(seq 600); do
  [ -s "$work/ready" ] && break
  kill -0 "$demo_pid" 2>/dev/null || { echo "progress window demo ended early"; exit 1; }
  sleep 0.1
done
[ -s "$work/ready" ] || { echo "progress window did not open in time"; exit 1; }
read -r left top width height < <(tr -d "\r" <"$work/ready")
# Let the window paint before the picture is taken.
sleep 1
import -display "$DISPLAY" -window root "$out"
touch "$work/release"
status=0
wait "$demo_pid" || status=$?
demo_pid=""
[ "$status" -eq 0 ] || { echo "demo exited with $status"; exit 1; }

window_png="${out%.png}-window.png"
convert "$out" -crop "${width}x${height}+${left}+${top}" +repage "$window_png"
# The label stands in the upper part of the window, above the bar: drawn text
# gives it more than the one colour of the window's face.
label_colours="$(convert "$window_png" -crop "60%x15%+$((width / 5))+$((height * 18 / 100))" +repage -format '%k' info:)"
echo "screenshot: $out ($(identify -format '%wx%h' "$out")), window ${width}x${height} at ${left},${top}, ${label_colours} colours in the label area"
[ "$label_colours" -gt 1 ] || { echo "the label was not drawn"; exit 1; }
