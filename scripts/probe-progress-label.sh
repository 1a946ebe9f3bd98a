#!/usr/bin/env bash
# A vendor's progress label, under one locale: the window shows the text given to
# --progress-text, on its one line, and a picture of the window is kept.
# Usage: probe-progress-label.sh <ProgressProbe.exe> <SlowProgressSetup.exe> <SampleInstaller.exe>
#          <oempack.exe> <picture.png> <locale> <text>
#
# Stamps the slowed launcher with the Windows oempack (the text passes through the
# command line in UTF-16), launches it through the probe under the locale and
# fails unless the label's text (GetWindowTextW) is the text given and the picture
# shows it on one line: the label's ink in one band of rows (a text too long wraps,
# and the start of its second line shows below the first), clear of its left and
# right edges. The picture is the window alone, taken once its text is set.
set -euo pipefail
probe="$1" launcher="$2" installer="$3" oempack="$4" picture="$5" locale="$6" text="$7"
here="$(cd "$(dirname "$0")" && pwd)"
: "${DISPLAY:?no X display: start Xvfb first (scripts/wine-env.sh)}"
mkdir -p "$(dirname "$picture")"
work="$(mktemp -d)"
probe_pid=""
cleanup() {
  if [ -n "$probe_pid" ]; then wait "$probe_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
log() { if [ -f "$work/probe.log" ]; then tr -d '\r' <"$work/probe.log"; fi; }
fail() { echo "probe-progress-label: $*"; echo "--- probe log"; log | grep -v '^probe ' || true; exit 1; }
export LANG="$locale" LC_ALL="$locale"

# Padding keeps the window up for a few seconds (the launcher waits at each step of the bar).
cp "$installer" "$work/setup.exe"
truncate -s 4M "$work/setup.exe"
"$here/wine-run.sh" "$oempack" make --installer "Z:$work/setup.exe" --launcher "Z:$launcher" \
  --progress-text "$text" -o "Z:$work/Setup.exe" </dev/null >"$work/make.log" 2>&1 ||
  { cat "$work/make.log"; fail "oempack make failed"; }

OEM_TEST_PROGRESS_DELAY_MS=300 OEM_SAMPLE_EXIT=5 OEM_SAMPLE_REPORT="Z:$work/report.txt" \
  "$here/wine-run.sh" "$probe" "Z:$work/probe.log" "Z:$work/Setup.exe" /S </dev/null >/dev/null 2>&1 &
probe_pid=$!
for _ in $(seq 600); do
  log | grep -q '^text ' && break
  kill -0 "$probe_pid" 2>/dev/null || break
  sleep 0.05
done
log | grep -q '^text ' || fail "the window's text was never read"
read -r _ wl wt ww wh _ _ _ _ _ _ ll lt lw lh < <(log | grep -m1 '^window ')
# measure: the label's ink in the picture: bands of rows holding a pixel unlike
# the label's corner, and the columns it spans.
measure() {
  convert "$work/screen.png" -crop "${lw}x${lh}+${ll}+${lt}" +repage txt:- | awk -F'[,: ]+' '
    NR == 1 { next }
    NR == 2 { background = $NF }
    $NF != background { ink[$2] = 1; if (left == "" || $1 < left) left = $1; if ($1 > right) right = $1 }
    END {
      for (y = 0; y < 1000; y++) {
        if (ink[y] && !inside) { bands++; if (top == "") top = y }
        if (ink[y]) bottom = y
        inside = ink[y]
      }
      print bands + 0, (top == "" ? -1 : top), bottom + 0, (left == "" ? -1 : left), right + 0
    }'
}
# The window may be on the screen a moment after its text is set, and a busy
# machine paints late: pictures are taken until the label shows ink, while the
# window is up.
bands=0
for _ in $(seq 20); do
  sleep 0.25
  import -display "$DISPLAY" -window root "$work/screen.png"
  read -r bands top bottom left right < <(measure)
  [ "$bands" -eq 0 ] || break
  log | grep -q '^reached 100' && break
done
convert "$work/screen.png" -crop "${ww}x${wh}+${wl}+${wt}" +repage "$picture"
status=0
wait "$probe_pid" || status=$?
probe_pid=""
[ "$status" -eq 0 ] || fail "the probe exited with $status"
log | grep -q '^exit 5 ' || fail "the installer's exit code 5 did not come back"
shown="$(log | sed -n 's/^text //p' | head -1)"
echo "label: \"$shown\" under $locale: ink in $bands band(s), rows $top-$bottom, columns $left-$right of ${lw}x${lh}; picture: $picture"
[ "$shown" = "$text" ] || fail "the label says \"$shown\", not \"$text\""
[ "$bands" -ge 1 ] || fail "the label was not drawn"
[ "$bands" -eq 1 ] || fail "the text takes more than one line: it does not show in full"
[ "$left" -gt 0 ] && [ "$right" -lt $((lw - 1)) ] || fail "the text reaches the label's edge: it is cut"
