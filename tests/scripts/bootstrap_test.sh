#!/usr/bin/env bash
# The dependency bootstrap against stand-ins for apt-get, dpkg, dpkg-query, id,
# sudo, locale and locale-gen on PATH: a half-synced mirror, a 32-bit Wine that
# cannot be installed, a base package that cannot be installed. Never touches
# the machine's packages or locales.
# Usage: bootstrap_test.sh SOURCE_DIR SCRATCH_DIR
set -uo pipefail
SRC="$1"
WORK="$2"
# shellcheck source=../support/checks.sh
source "$SRC/tests/support/checks.sh"
rm -rf "$WORK"
mkdir -p "$WORK/bin"
lacks() { ! grep -qF -- "$2" "$1"; }

# The stand-ins keep the "installed" packages in $WORK/state/installed, note
# every apt-get call in $WORK/state/calls and fail as $WORK/state/* asks:
# update-fails (apt-get update exits 100, as for one bad index), refuse (one
# package name a line that apt-get install cannot install).
cat >"$WORK/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
S="$STATE"
echo "apt-get $*" >>"$S/calls"
case "$1" in
  update)
    if [ -e "$S/update-fails" ]; then
      echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi
    exit 0 ;;
  install)
    shift
    pkgs=()
    for a in "$@"; do case "$a" in -*) ;; *) pkgs+=("$a") ;; esac; done
    for p in "${pkgs[@]}"; do
      if grep -qxF -- "$p" "$S/refuse" 2>/dev/null; then
        echo "E: Unable to correct problems, you have held broken packages. ($p)" >&2
        exit 100
      fi
    done
    printf '%s\n' "${pkgs[@]}" >>"$S/installed"
    exit 0 ;;
esac
exit 0
STUB
cat >"$WORK/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
p="${!#}"
grep -qxF -- "$p" "$STATE/installed" 2>/dev/null || exit 1
printf 'install ok installed'
STUB
cat >"$WORK/bin/dpkg" <<'STUB'
#!/usr/bin/env bash
case "$1" in
  --print-foreign-architectures) cat "$STATE/foreign" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$STATE/foreign" ;;
esac
STUB
printf '#!/bin/sh\necho 1000\n' >"$WORK/bin/id"
printf '#!/bin/sh\necho "sudo $*" >>"$STATE/calls"\nexec "$@"\n' >"$WORK/bin/sudo"
printf '#!/bin/sh\nprintf "C\\nC.utf8\\nen_US.utf8\\nzh_CN.utf8\\n"\n' >"$WORK/bin/locale"
printf '#!/bin/sh\necho "locale-gen must not run" >&2\nexit 1\n' >"$WORK/bin/locale-gen"
chmod +x "$WORK"/bin/*

run() {  # run CASE: bootstrap in a fresh state; output in CASE.out/.err, status in rc
  export STATE="$WORK/$1"
  PATH="$WORK/bin:$PATH" bash "$SRC/scripts/bootstrap.sh" >"$WORK/$1.out" 2>"$WORK/$1.err" </dev/null
  rc=$?
}
fresh() { mkdir -p "$WORK/$1"; : >"$WORK/$1/installed"; }

# A half-synced mirror: update fails twice, everything installs all the same.
fresh mirror; : >"$WORK/mirror/update-fails"
run mirror
check "failed update: exit 0" [ "$rc" = 0 ]
check "...update tried twice before the base install" \
  [ "$(grep -c '^apt-get update' "$WORK/mirror/calls")" = 2 ]
check "...its last E: line on stderr" contains "$WORK/mirror.err" \
  "bootstrap: apt-get update failed: E: Some index files failed to download."
check "...base packages and the 32-bit Wine installed" \
  bash -c "grep -qx cmake '$STATE/installed' && grep -qx wine64 '$STATE/installed' && grep -qx wine32:i386 '$STATE/installed'"
check "...the 32-bit Wine in a step of its own, after the base" \
  bash -c "grep '^apt-get install' '$STATE/calls' | tail -n 1 | grep -q ' wine32:i386\$' && ! grep '^apt-get install' '$STATE/calls' | head -n 1 | grep -q wine32"
check "...through sudo when not root" contains "$WORK/mirror/calls" "sudo apt-get install"
check "...claims everything present" contains "$WORK/mirror.out" "bootstrap: all dependencies present"

# The 32-bit Wine cannot be installed: one line on stderr, exit 0, no claim.
fresh nowine32; echo wine32:i386 >"$WORK/nowine32/refuse"
run nowine32
check "wine32 refused: exit 0" [ "$rc" = 0 ]
check "...one line naming it, apt's error and the consequence" [ "$(grep -c '^bootstrap:' "$WORK/nowine32.err")" = 1 ]
check "...which is the documented sentence" contains "$WORK/nowine32.err" \
  "bootstrap: the 32-bit Wine (wine32:i386) could not be installed: E: Unable to correct problems, you have held broken packages. (wine32:i386); x86 programs will not run on this host"
check "...does not claim all dependencies" lacks "$WORK/nowine32.out" "all dependencies present"
check "...the base packages are in" contains "$WORK/nowine32/installed" "mingw"
check "...i386 added as a foreign architecture" contains "$WORK/nowine32/foreign" "i386"
# A later run tries again, once, quickly: one update (the lists are old) and one install.
mkdir -p "$WORK/lists"; touch -d '2 hours ago' "$WORK/lists/mirror_dists_bookworm_main_binary-i386_Packages"
export OEM_APT_LISTS="$WORK/lists"
: >"$STATE/calls"
run nowine32
check "later run: exit 0 and the line again" \
  bash -c "[ $rc = 0 ] && grep -q 'could not be installed' '$WORK/nowine32.err'"
check "...one update, one install of wine32 alone" \
  [ "$(grep -c '^apt-get update' "$STATE/calls"):$(grep '^apt-get install' "$STATE/calls" | tr -s ' ' | cut -d' ' -f6-)" = "1:wine32:i386" ]

# ...and with lists fetched less than an hour ago, the install alone.
touch "$WORK/lists/mirror_dists_bookworm_main_binary-i386_Packages"
: >"$STATE/calls"
run nowine32
check "fresh lists: no update, one install, the line again" \
  [ "$rc:$(grep -c '^apt-get update' "$STATE/calls"):$(grep -c '^apt-get install' "$STATE/calls"):$(grep -c 'could not be installed' "$WORK/nowine32.err")" = "0:0:1:1" ]

# A base package cannot be installed: the bootstrap fails with apt's words.
fresh nobase; echo mingw-w64-does-not-matter >"$WORK/nobase/refuse"; echo nsis >>"$WORK/nobase/refuse"
run nobase
check "base refused: non-zero" [ "$rc" != 0 ]
check "...with apt's words" contains "$WORK/nobase.err" "E: Unable to correct problems, you have held broken packages. (nsis)"
check "...and no claim" lacks "$WORK/nobase.out" "all dependencies present"
check "...and no attempt at the 32-bit Wine" lacks "$WORK/nobase/calls" "wine32:i386"

checks_summary "bootstrap"
