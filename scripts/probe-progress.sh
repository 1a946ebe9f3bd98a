#!/usr/bin/env bash
# A long launch probed from another process: the progress window must answer and its bar move forward to 100.
# Usage: probe-progress.sh <ProgressProbe.exe> <SlowProgressSetup.exe> <SampleInstaller.exe> <oempack.exe> <artifacts folder>
#
# Makes a Setup.exe from the slowed launcher and the sample installer padded to
# 12 MiB (above 8 MiB: split, so decoded by its piece index on every processor),
# compressed, and launches it under a Chinese locale through the probe,
# which asks the window every 100 ms (WM_NULL, then PBM_GETPOS, 500 ms each)
# until the bar reads 100. The launcher waits OEM_TEST_PROGRESS_DELAY_MS
# (150) each time the bar moves with the installer's bytes, so the step from
# 70 to 100 takes about five seconds. Fails unless every probe until then was
# answered within 500 ms, the positions never went back, at least three
# different ones were seen from 70 on, the last one was 100 and the installer
# ran and handed back its exit code.
# Pictures of the screen at the start of that step (bar at 70 to 75) and in its
# middle (85 or more) are kept as <artifacts>/progress-launch-start.png and
# progress-launch-middle.png, with the window alone beside them (-window.png);
# fails when the label's row of the middle picture is blank or its bar is not
# filled further than in the first.
set -euo pipefail
probe="$1" launcher="$2" installer="$3" oempack="$4" artifacts="$5"
here="$(cd "$(dirname "$0")" && pwd)"
: "${DISPLAY:?no X display: start Xvfb first (scripts/wine-env.sh)}"
mkdir -p "$artifacts"
work="$(mktemp -d)"
probe_pid=""
cleanup() {
  if [ -n "$probe_pid" ]; then wait "$probe_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "probe-progress: $*"; echo "--- probe log"; log; exit 1; }

# Zeros after its image: the sample installer still runs.
cp "$installer" "$work/setup.exe"
truncate -s 12M "$work/setup.exe"
"$here/wine-run.sh" "$oempack" make --installer "Z:$work/setup.exe" --compress --launcher "Z:$launcher" \
  -o "Z:$work/Setup.exe" </dev/null >"$work/make.log" 2>&1 || { cat "$work/make.log"; fail "oempack make failed"; }

LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 OEM_TEST_PROGRESS_DELAY_MS=150 OEM_SAMPLE_EXIT=5 \
  OEM_SAMPLE_REPORT="Z:$work/report.txt" \
  "$here/wine-run.sh" "$probe" "Z:$work/probe.log" "Z:$work/Setup.exe" /S </dev/null >/dev/null 2>&1 &
probe_pid=$!

# The probe's log as Unix text (Wine writes it with CR LF).
log() { tr -d '\r' <"$work/probe.log" 2>/dev/null || true; }
# The bar's position in the probe's last answer; -1 before any.
last_position() { log | awk '$1 == "probe" && $3 == 1 { p = $5 } END { print (p == "" ? -1 : p) }'; }
shot() { import -display "$DISPLAY" -window root "$artifacts/progress-launch-$1.png"; }
start_taken="" middle_taken=""
for _ in $(seq 600); do
  kill -0 "$probe_pid" 2>/dev/null || break
  position=$(last_position)
  if [ -z "$start_taken" ] && [ "$position" -ge 70 ]; then
    [ "$position" -le 75 ] || fail "the bar was at $position before the start of the long step was seen"
    shot start; start_taken=$position
  elif [ -n "$start_taken" ] && [ -z "$middle_taken" ] && [ "$position" -ge 85 ]; then
    shot middle; middle_taken=$position
  fi
  sleep 0.05
done
status=0
wait "$probe_pid" || status=$?
probe_pid=""
[ "$status" -eq 0 ] || fail "the probe exited with $status"
[ -n "$start_taken" ] && [ -n "$middle_taken" ] || fail "no picture at the start ($start_taken) or in the middle ($middle_taken) of the long step"

# The probes up to 100: all answered in time, positions never back, three or more from 70 on.
verdict="$(awk '
  $1 == "probe" && !done {
    n++
    if ($3 != 1 || $4 > 500) bad = bad " " $2 "ms"
    if ($5 < last) back = back " " last "->" $5
    last = $5
    if ($5 >= 70 && !seen[$5]++) distinct++
  }
  $1 == "reached" { done = 1 }
  $1 == "exit" { code = $2 }
  END {
    printf "%d probes, last position %d, %d positions from 70 on, exit %s", n, last, distinct, code
    if (bad != "") printf "; unanswered at%s", bad
    if (back != "") printf "; went back%s", back
    if (!done) printf "; never read 100"
    if (distinct < 3) printf "; fewer than three positions in the long step"
    if (code != 5) printf "; not the installer'"'"'s exit code 5"
    print ""
  }' <(log))"
echo "probe: $verdict"
case "$verdict" in *";"*) fail "$verdict" ;; esac
grep -q "exit code: 5" "$work/report.txt" 2>/dev/null || fail "the installer did not report"

# Rectangles in screen pixels from the probe's first line.
read -r _ wl wt ww wh _ bl bt bw bh _ ll lt lw lh < <(log | grep -m1 '^window ')
# Filled pixels on the bar's middle row: those of the colour just inside its left border.
filled() {
  convert "$artifacts/progress-launch-$1.png" -crop "$((bw - 4))x1+$((bl + 2))+$((bt + bh / 2))" +repage txt:- |
    awk 'NR > 1 { colour[NR] = $3 } END { for (i = 2; i <= NR; i++) if (colour[i] == colour[3]) n++; print n + 0 }'
}
for name in start middle; do
  convert "$artifacts/progress-launch-$name.png" -crop "${ww}x${wh}+${wl}+${wt}" +repage \
    "$artifacts/progress-launch-$name-window.png"
done
label_colours="$(convert "$artifacts/progress-launch-middle.png" -crop "${lw}x${lh}+${ll}+${lt}" +repage -format '%k' info:)"
start_fill=$(filled start) middle_fill=$(filled middle)
echo "pictures: $artifacts/progress-launch-start.png (bar at $start_taken: $start_fill px filled)," \
  "progress-launch-middle.png (bar at $middle_taken: $middle_fill px filled, $label_colours colours in the label)"
[ "$label_colours" -gt 1 ] || fail "the label was not drawn in the middle of the long step"
[ "$middle_fill" -gt "$start_fill" ] || fail "the bar did not grow on the screen ($start_fill -> $middle_fill px)"
