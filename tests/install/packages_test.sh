#!/usr/bin/env bash
# oempack as its users get it: the Debian package (lintian, unpacked and run), the
# install of the Release build into a scratch DESTDIR and prefix, and the Windows zip.
# The installed oempack makes Setup.exe with no --launcher, from the launcher it
# installed, and that Setup.exe, started under Wine, hands back its installer's exit code.
# Usage: packages_test.sh ROOT DEB ZIP RELEASE_BUILD WORK ARCH...
#   ROOT: the source tree; RELEASE_BUILD: the build the packages were made from;
#   WORK: a scratch folder; ARCH: each Windows architecture this host runs, whose
#   build/win-ARCH has built SampleInstaller.
set -u
# shellcheck source=../support/checks.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/../support/checks.sh"
ROOT="$(realpath "$1")"
DEB="$(realpath "$2")"
ZIP="$(realpath "$3")"
RELEASE="$(realpath "$4")"
WORK="$(realpath -m "$5")"
shift 5
ARCHES="$*"
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1

# pe_machine FILE: the machine field of a Windows program's header (014c x86, 8664 x64).
pe_machine() {
  local lfanew
  lfanew=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -t x2 -j $((lfanew + 4)) -N 2 "$1" | tr -d ' '
}
machine_of() { case "$1" in x86) echo 014c ;; x64) echo 8664 ;; esac; }

# --- the Debian package ---
lintian --fail-on error "$DEB" >lintian.txt 2>&1
check "lintian --fail-on error passes" [ $? = 0 ]
echo "lintian's output on $(basename "$DEB"):"
if [ -s lintian.txt ]; then sed 's/^/  /' lintian.txt; else echo "  (nothing)"; fi

DEBROOT="$WORK/deb"
dpkg-deb -x "$DEB" "$DEBROOT"
OEMPACK="$DEBROOT/usr/bin/oempack"
"$OEMPACK" --version >version.txt 2>&1
check "the packaged oempack runs" [ $? = 0 ]
upstream=$(dpkg-deb -f "$DEB" Version)
upstream=${upstream%-*}
check "its version is the package's" contains version.txt "oempack $upstream (commit "
check "it names the commit it was built from" grep -qE '\(commit [0-9a-f]{12}(-modified)?;' version.txt
check "it is linked dynamically against the C and C++ libraries" \
  eval 'ldd "$OEMPACK" | grep -q "libc\.so" && ldd "$OEMPACK" | grep -q "libstdc++\.so"'
check "the dependencies were computed" eval 'dpkg-deb -f "$DEB" Depends | grep -q "libc6 (>= " &&
  dpkg-deb -f "$DEB" Depends | grep -q "libstdc++6 (>= "'
check "its symbols are stripped" eval '[ -z "$(nm "$OEMPACK" 2>/dev/null)" ]'

# No path of the machine that built it, in any file (compressed ones read uncompressed).
for f in $(find "$DEBROOT" -type f); do
  case "$f" in *.gz) gzip -dc "$f" ;; *) cat "$f" ;; esac >"$WORK/content"
  for p in "$ROOT" "$RELEASE" "$(realpath "$ROOT")"; do
    if grep -qaF -- "$p" "$WORK/content"; then
      echo "  ${f#"$DEBROOT"} holds $p" >&2
      check "no build path in ${f#"$DEBROOT"}" false
    fi
  done
done
rm -f "$WORK/content"
check "the packaged manual page draws no groff warning" \
  eval '[ -z "$(gzip -dc "$DEBROOT/usr/share/man/man1/oempack.1.gz" | groff -man -ww -z 2>&1)" ]'
check "the packaged completion completes oempack's commands" \
  eval '[ "$(bash -c "source \"$DEBROOT/usr/share/bash-completion/completions/oempack\";
    COMP_WORDS=(oempack ma); COMP_CWORD=1; _oempack; echo \"\${COMPREPLY[*]}\"")" = make ]'

# make from another folder with nothing but the installer and the output.
mkdir -p elsewhere
first_arch=${ARCHES%% *}
INSTALLER="$ROOT/build/win-${first_arch:-x86}/tools/SampleInstaller/SampleInstaller.exe"
(cd elsewhere && "$OEMPACK" make --installer "$INSTALLER" -o Setup.exe >../make.txt 2>&1)
check "the packaged oempack makes Setup.exe with no other argument" [ $? = 0 ]
check "it used the x86 launcher of the package" \
  contains make.txt "made Setup.exe from $DEBROOT/usr/share/oempack/launchers/x86/Setup.exe:"
check "the Setup.exe made is the x86 launcher" [ "$(pe_machine elsewhere/Setup.exe)" = 014c ]
cat make.txt
# The launcher's file version, as its version block in resources/Setup.rc states it.
stated=$(sed -n 's/^ *FILEVERSION *\([0-9]*\),\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1.\2.\3.\4/p' "$ROOT/resources/Setup.rc")
"$OEMPACK" list elsewhere/Setup.exe >list.txt 2>&1
check "list shows the launcher's file version ($stated)" contains list.txt "launcher file version: $stated"

# --- cmake --install into a scratch DESTDIR, under a prefix of its own ---
DESTROOT="$WORK/destdir"
DESTDIR="$DESTROOT" cmake --install "$RELEASE" --prefix /opt/oempack >install.txt 2>&1
check "cmake --install with DESTDIR and --prefix succeeds" [ $? = 0 ]
INSTALLED="$DESTROOT/opt/oempack/bin/oempack"
check "the prefix is honoured" [ -x "$INSTALLED" ]

if [ -n "$ARCHES" ]; then
  # shellcheck source=/dev/null
  source "$ROOT/scripts/wine-env.sh"
  trap wine_env_stop EXIT
fi
for arch in $ARCHES; do
  SHARE="$DESTROOT/opt/oempack/share/oempack/launchers/$arch/Setup.exe"
  mkdir -p "run-$arch"
  (cd "run-$arch" && "$INSTALLED" make --arch "$arch" \
     --installer "$ROOT/build/win-$arch/tools/SampleInstaller/SampleInstaller.exe" -o Setup.exe >make.txt 2>&1)
  check "the installed oempack makes the $arch Setup.exe with no --launcher" [ $? = 0 ]
  check "it used the installed $arch launcher" contains "run-$arch/make.txt" "made Setup.exe from $SHARE:"
  check "the $arch Setup.exe made is of its architecture" [ "$(pe_machine "run-$arch/Setup.exe")" = "$(machine_of "$arch")" ]
  cat "run-$arch/make.txt"
  wine_env_start "$arch" >/dev/null
  # The sample installer reports to a file named as Wine's drive Z: shows it.
  report="$WORK/run-$arch/report.txt"
  OEM_SAMPLE_EXIT=23 OEM_SAMPLE_REPORT="Z:$(printf '%s' "$report" | tr '/' '\\')" \
    bash "$ROOT/scripts/wine-run.sh" --arch "$arch" "run-$arch/Setup.exe" /S </dev/null >"run-$arch/setup.txt" 2>&1
  status=$?
  check "the $arch Setup.exe hands back the installer's exit code (23, got $status)" [ "$status" = 23 ]
  check "the installer ran with the switches given" contains "$report" "/S"
  check "the installer's report has its exit code" contains "$report" "exit code: 23"
  wine_env_stop

  # The launcher of that architecture not installed: the search says where it looked.
  cp -a "$DESTROOT" "without-$arch"
  rm "without-$arch/opt/oempack/share/oempack/launchers/$arch/Setup.exe"
  "$WORK/without-$arch/opt/oempack/bin/oempack" make --arch "$arch" --installer "$INSTALLER" \
    -o "without-$arch/Setup.exe" >out.txt 2>err.txt
  check "a missing $arch launcher fails with 1" [ $? = 1 ]
  check "the missing $arch launcher is named with the places looked in" contains err.txt \
    "oempack: no $arch launcher found; looked in: $WORK/without-$arch/opt/oempack/share/oempack/launchers/$arch/Setup.exe"
  check "and --launcher is suggested" contains err.txt "name one with --launcher"
  check "nothing is written without a launcher" [ ! -e "without-$arch/Setup.exe" ]
done

# A --launcher that is not a launcher.
printf 'not a program\n' >notalauncher.exe
"$INSTALLED" make --installer "$INSTALLER" --launcher notalauncher.exe -o bad.exe >out.txt 2>err.txt
check "a --launcher that is not a program fails with 1" [ $? = 1 ]
check "it is named as not a Windows program" contains err.txt \
  "oempack: notalauncher.exe: not a Windows program"
check "nothing is written from it" [ ! -e bad.exe ]

# --- the Windows zip: the same layout, the x86 oempack.exe and both launchers ---
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$ZIP" zip
TOP=$(ls zip)
check "the zip holds one folder" [ "$(ls zip | wc -l)" = 1 ]
check "its oempack.exe is the x86 program" [ "$(pe_machine "zip/$TOP/bin/oempack.exe")" = 014c ]
for arch in x86 x64; do
  check "its $arch launcher is of that architecture" \
    [ "$(pe_machine "zip/$TOP/share/oempack/launchers/$arch/Setup.exe")" = "$(machine_of "$arch")" ]
  check "its $arch launcher is the Debian package's" \
    cmp -s "zip/$TOP/share/oempack/launchers/$arch/Setup.exe" "$DEBROOT/usr/share/oempack/launchers/$arch/Setup.exe"
done
check "the zip's manual page is the package's" \
  eval 'gzip -dc "$DEBROOT/usr/share/man/man1/oempack.1.gz" | cmp -s - "zip/$TOP/share/man/man1/oempack.1"'
check "the zip carries the licence" cmp -s "$ROOT/LICENSE" "zip/$TOP/share/doc/oempack/LICENSE"
for f in $(find zip -type f); do
  for p in "$ROOT" "$(realpath "$ROOT")"; do
    if grep -qaF -- "$p" "$f"; then
      echo "  $f holds $p" >&2
      check "no build path in the zip's ${f#zip/}" false
    fi
  done
done

checks_summary "oempack packages"
