#!/usr/bin/env bash
# Which Windows architectures the scripts use, decided by running a loader of each:
# driven through OEM_WINDOWS_ARCHES and stand-in loaders (one that runs, one this
# host "cannot execute", one missing), never the real Wine.
# Usage: wine_arches_test.sh SOURCE_DIR SCRATCH_DIR
set -uo pipefail
SRC="$1"
WORK="$2"
rm -rf "$WORK"
mkdir -p "$WORK/bin"
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
contains() { grep -qF -- "$2" "$1"; }

# A loader that runs: makes the prefix on wineboot, answers cmd with success, and
# notes every call (its own name first) in calls.txt.
for arch in x86 x64; do
  cat >"$WORK/bin/runs-$arch" <<STUB
#!/usr/bin/env bash
echo "$arch \$*" >>"$WORK/calls.txt"
case "\$1" in wineboot) mkdir -p "\$WINEPREFIX" && : >"\$WINEPREFIX/system.reg" ;; esac
exit 0
STUB
  chmod +x "$WORK/bin/runs-$arch"
done
# A loader this host cannot execute: an executable file in no format it knows.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\003\000\003\000' >"$WORK/bin/foreign"
chmod +x "$WORK/bin/foreign"

decide() {  # decide X86_LOADER X64_LOADER [OEM_WINDOWS_ARCHES]: output in out.txt, status in rc
  rm -f "$WORK/calls.txt"
  OEM_WINE_LOADER_X86="$1" OEM_WINE_LOADER_X64="$2" OEM_WINDOWS_ARCHES="${3:-}" OEM_WINESERVER=/bin/true \
    OEM_WINEPREFIX_ROOT="$WORK/prefixes" bash "$SRC/scripts/wine-arches.sh" >"$WORK/out.txt" 2>&1
  rc=$?
}

decide "$WORK/bin/runs-x86" "$WORK/bin/runs-x64"
check "both run: both are used, x86 first" [ "$rc:$(tr '\n' ' ' <"$WORK/out.txt")" = "0:x86 x64 " ]
check "each probe runs its own prefix's cmd" \
  [ "$(grep -c ' cmd /c exit 0$' "$WORK/calls.txt")" = 2 ]

decide "$WORK/bin/foreign" "$WORK/bin/runs-x64"
check "x64 only: x64 is used" [ "$(head -n 1 "$WORK/out.txt")" = x64 ]
check "x64 only: x86 is skipped with the loader's own complaint" \
  contains "$WORK/out.txt" "skipped x86: $WORK/bin/foreign exited with 126 and printed:"
check "x64 only: the complaint names the format error" contains "$WORK/out.txt" "Exec format error"
check "x64 only: exit 0" [ "$rc" = 0 ]

decide "$WORK/bin/foreign" "$WORK/bin/runs-x64" x64
check "OEM_WINDOWS_ARCHES=x64: only x64, x86 never tried" \
  [ "$rc:$(cat "$WORK/out.txt"):$(cut -d' ' -f1 "$WORK/calls.txt" | sort -u)" = "0:x64:x64" ]

decide "$WORK/bin/foreign" "$WORK/bin/runs-x64" x86
check "OEM_WINDOWS_ARCHES naming an architecture that cannot run is an error" [ "$rc" = 2 ]
check "...which says so and why" contains "$WORK/out.txt" \
  "OEM_WINDOWS_ARCHES names x86, but this host cannot run x86 Windows programs: $WORK/bin/foreign exited with 126"

decide "$WORK/bin/runs-x86" "$WORK/bin/runs-x64" "x64 arm"
check "an unknown architecture is an error" [ "$rc" = 2 ]
check "...named in the message" contains "$WORK/out.txt" "'arm' is not a Windows architecture (x86 or x64)"

decide "$WORK/bin/foreign" "$WORK/bin/missing"
check "none runs: nothing is used, and both are skipped" \
  [ "$rc:$(grep -c '^skipped' "$WORK/out.txt"):$(grep -vc '^skipped' "$WORK/out.txt")" = "0:2:0" ]
check "none runs: a missing loader names its package" \
  contains "$WORK/out.txt" "skipped x64: $WORK/bin/missing is not installed (package wine64)"

# wine-run.sh picks the loader from the program's own PE header.
pe() {  # pe FILE MACHINE_BYTES: a PE header stub with that machine field
  { printf 'MZ'; head -c 58 /dev/zero; printf '\100\000\000\000'; printf 'PE\000\000'; printf "$2"; } >"$1"
}
pe "$WORK/prog32.exe" '\114\001'
pe "$WORK/prog64.exe" '\144\206'
for prog in prog32 prog64; do
  rm -f "$WORK/calls.txt"
  OEM_WINE_LOADER_X86="$WORK/bin/runs-x86" OEM_WINE_LOADER_X64="$WORK/bin/runs-x64" OEM_WINE_ARCH= \
    OEM_WINEPREFIX_ROOT="$WORK/prefixes" bash "$SRC/scripts/wine-run.sh" "$WORK/$prog.exe" /S
  cut -d' ' -f1 "$WORK/calls.txt" >"$WORK/$prog.loader"
done
check "wine-run.sh runs a PE32 program with the x86 loader" [ "$(cat "$WORK/prog32.loader")" = x86 ]
check "wine-run.sh runs a PE32+ program with the x64 loader" [ "$(cat "$WORK/prog64.loader")" = x64 ]

demo() {  # demo [OEM_WINDOWS_ARCHES]: the demo on a host that runs neither architecture
  OEM_WINE_LOADER_X86="$WORK/bin/foreign" OEM_WINE_LOADER_X64="$WORK/bin/missing" OEM_WINESERVER=/bin/true \
    OEM_WINEPREFIX_ROOT="$WORK/prefixes" OEM_DEMO_HOST_BUILD="$WORK/nobuild" OEM_WINDOWS_ARCHES="${1:-}" \
    bash "$SRC/scripts/demo.sh" >"$WORK/demo.txt" 2>&1
  rc=$?
}
# Asked for x64 on such a host: an error naming it, not a skip.
demo x64
check "demo asked for an architecture that cannot run fails with 2" [ "$rc" = 2 ]
check "...naming it" contains "$WORK/demo.txt" "OEM_WINDOWS_ARCHES names x64, but this host cannot run x64 Windows programs"
# Nothing asked for: one plain sentence, no bare exit code.
demo
check "demo with no Windows architecture fails" [ "$rc" = 1 ]
check "...saying what is missing for each" contains "$WORK/demo.txt" \
  "demo: This host runs no Windows programs under Wine: for x86, $WORK/bin/foreign exited with 126"
check "...naming the missing x64 loader" contains "$WORK/demo.txt" "for x64, $WORK/bin/missing is not installed (package wine64)."
check "...before anything is built" [ ! -e "$WORK/nobuild" ]

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
