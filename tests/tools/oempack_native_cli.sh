#!/usr/bin/env bash
# The native oempack through its command line: create, list, verify, extract; stamp and make
# onto small program images (the PE seed images), restamp, signed and malformed launchers;
# launchers of both architectures, named or found by a copy of the program.
# Usage: oempack_native_cli.sh OEMPACK SEED_FOLDER SCRATCH_FOLDER x86=BUILD_X86 x64=BUILD_X64
# (BUILD_*: the Windows build folders as recorded for OEMPACK, relative to its folder).
set -u
# shellcheck source=../support/checks.sh
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../support/checks.sh"
OEMPACK="$1"
SEEDS="$2"
WORK="$3"
BUILD_X86="${4#x86=}"
BUILD_X64="${5#x64=}"
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1

# run CMD...: the tool's exit status in $rc, its streams in out.txt and err.txt
run() {
  "$OEMPACK" "$@" >out.txt 2>err.txt
  rc=$?
}
# Nothing but the expected files in the folder: no temporary file left behind.
only() { [ "$(ls -A "$1" | tr '\n' ' ')" = "$2" ]; }

mkdir -p in/Commonfiles in/Docs
printf 'hello\r\n' >in/Commonfiles/a.txt
head -c 70000 /dev/urandom >in/Docs/b.bin
for i in $(seq 1 400); do echo "line $i of a compressible file"; done >in/Docs/c.txt

# create -> list -> verify -> extract
run create pkg.oem --compress --from-dir in
check "create succeeds" [ "$rc" = 0 ]
check "create reports" contains out.txt "created pkg.oem:"
run list pkg.oem
check "list succeeds" [ "$rc" = 0 ]
check "list names an entry" contains out.txt "c.txt"
run list --json pkg.oem
check "list --json" contains out.txt '"b.bin"'
run verify pkg.oem
check "verify succeeds" [ "$rc" = 0 ]
check "verify decodes the compressed entry" contains out.txt "OK, 2 groups, 3 entries, 1 compressed entry decoded"
run extract pkg.oem -C out
check "extract succeeds" [ "$rc" = 0 ]
for f in Commonfiles/a.txt Docs/b.bin Docs/c.txt; do
  check "extracted $f" cmp -s "in/$f" "out/$f"
done

# Failures: exit 1 (2 for usage), a message, no output.
run list missing.oem
check "a missing package fails with 1" [ "$rc" = 1 ]
check "a missing package is named, with the text the Windows build gives" contains err.txt "oempack: missing.oem: File not found (error 2)"
head -c 3000 pkg.oem >cut.oem
run verify cut.oem
check "a truncated package fails verification" [ "$rc" = 1 ]
run create
check "usage errors exit with 2" [ "$rc" = 2 ]

# stamp onto a program without OEMDATA, read the package back, restamp the result.
mkdir st
cp "$SEEDS/rsrc_last.exe" st/launcher.exe
run stamp --launcher st/launcher.exe --package pkg.oem -o st/Setup.exe
check "stamp succeeds" [ "$rc" = 0 ]
check "stamp reports" contains out.txt \
  "stamped st/Setup.exe from st/launcher.exe: package of $(stat -c %s pkg.oem) bytes, 52 bytes"
run verify st/Setup.exe
# The seed is no launcher: its package is sound, its manifest (no level) the one fault.
check "verify refuses a program without the launcher's manifest" [ "$rc" = 1 ]
check "the manifest is the only fault" contains err.txt "oempack: st/Setup.exe: manifest: no requestedExecutionLevel"
check "the package itself verifies" contains err.txt "verification failed (1 fault)"
run extract st/Setup.exe -C out2
check "extract from the stamped program" cmp -s in/Docs/b.bin out2/Docs/b.bin
printf '[LANGUAGE]\r\nUseDefault =0\r\nSelectLanguage = 0x0409\r\n' >lang.ini
run stamp --launcher st/Setup.exe --package pkg.oem --language-ini lang.ini -o st/Setup2.exe
check "restamp succeeds" [ "$rc" = 0 ]
check "restamp keeps the size plus the new language text" contains out.txt "$(stat -c %s lang.ini) bytes of language settings"
run stamp --launcher st/Setup2.exe --package pkg.oem -o st/Setup3.exe
check "stamping back to the shipped settings gives the first output" cmp -s st/Setup.exe st/Setup3.exe
# An old OEMDATA/DEFAULT (another language) is replaced.
run stamp --launcher "$SEEDS/rsrc_before_reloc.exe" --package pkg.oem -o st/Old.exe
check "stamp over an old package succeeds" [ "$rc" = 0 ]
run extract st/Old.exe -C out3
check "the new package is read back" cmp -s in/Docs/c.txt out3/Docs/c.txt
check "no temporary file" only st "Old.exe Setup.exe Setup2.exe Setup3.exe launcher.exe "

# A signed launcher: stamped, its signature left out, and said so.
run stamp --launcher "$SEEDS/signed.exe" --package pkg.oem -o st/Signed.exe
check "a signed launcher is stamped" [ "$rc" = 0 ]
check "the dropped signature is noted" contains err.txt "oempack: note: $SEEDS/signed.exe is signed"

# Malformed launchers: exit 1, "oempack: ..." and no file, nothing half-written.
mkdir bad
printf 'MZ but not a program at all' >bad/text.exe
head -c 700 "$SEEDS/rsrc_last.exe" >bad/cut.exe
head -c 40 "$SEEDS/rsrc_last.exe" >bad/tiny.exe
: >bad/empty.exe
for launcher in text cut tiny empty; do
  run stamp --launcher "bad/$launcher.exe" --package pkg.oem -o bad/out.exe
  check "$launcher launcher fails with 1" [ "$rc" = 1 ]
  check "$launcher launcher is refused with a message" contains err.txt "oempack: bad/$launcher.exe: not a Windows program"
done
run stamp --launcher bad/missing.exe --package pkg.oem -o bad/out.exe
check "a missing launcher fails with 1" [ "$rc" = 1 ]
check "a missing launcher is named, not the output" contains err.txt \
  "oempack: cannot read the launcher bad/missing.exe: File not found (error 2)"
run stamp --launcher st/launcher.exe --package pkg.oem -o nofolder/out.exe
check "a missing output folder fails with 1" [ "$rc" = 1 ]
check "no output, no temporary file" only bad "cut.exe empty.exe text.exe tiny.exe "

# Packages larger than the writer's 1 MiB pieces: a stamped program restamped
# with another package gives what stamping the plain launcher gives.
mkdir -p bigin/Docs
head -c 3500000 /dev/urandom >bigin/Docs/big.bin
run create big.oem --from-dir bigin
check "a package of several MiB is created" [ "$rc" = 0 ]
run stamp --launcher st/launcher.exe --package big.oem -o st/Big.exe
check "stamping a package of several MiB succeeds" [ "$rc" = 0 ]
run extract st/Big.exe -C bigout
check "the large package comes back whole" cmp -s bigin/Docs/big.bin bigout/Docs/big.bin
run stamp --launcher st/Big.exe --package pkg.oem -o st/Small.exe
check "restamping over a large package drops it" cmp -s st/Setup.exe st/Small.exe
run stamp --launcher st/Setup.exe --package st/Big.exe -o st/Big2.exe
check "the package of a stamped program stamps the same bytes" cmp -s st/Big.exe st/Big2.exe

# A package larger than the launcher can load: exit 1, a message, no output,
# and nothing read (sparse files stand in for gigabytes).
mkdir huge
truncate -s 1879048193 huge/over.oem
run stamp --launcher st/launcher.exe --package huge/over.oem -o huge/out.exe
check "a package over the launchable size fails with 1" [ "$rc" = 1 ]
check "the launchable size of the x86 launcher is named" contains err.txt \
  "oempack: huge/over.oem: the package is 1879048193 bytes; the x86 launcher loads packages of at most 1879048192 bytes"
run stamp --launcher "$SEEDS/pe32plus.exe" --package huge/over.oem -o huge/out.exe
check "the x64 launcher takes a package over the x86 limit: it is judged by its content" contains err.txt \
  "oempack: huge/over.oem: not a valid package"
truncate -s 1879048192 huge/edge.oem
run stamp --launcher st/launcher.exe --package huge/edge.oem -o huge/out.exe
check "a package of exactly the launchable size is judged by its content" contains err.txt \
  "oempack: huge/edge.oem: not a valid package"
check "no output for refused packages" only huge "edge.oem over.oem "
rm -rf huge

# make: CONFIG.INI, the installer and the payload, stamped into the launcher.
mkdir mk mk/payload mk/payload/Extra
cp "$SEEDS/rsrc_last.exe" mk/setup.exe
head -c 3000 /dev/urandom >mk/payload/loose.bin
printf 'extra' >mk/payload/Extra/e.txt
run make --installer mk/setup.exe --payload mk/payload --launcher st/launcher.exe -o mk/Setup.exe
check "make succeeds" [ "$rc" = 0 ]
run extract mk/Setup.exe -C mkout
check "make carries CONFIG.INI" contains mkout/Config/CONFIG.INI "=setup.exe"
check "make carries the payload" cmp -s mk/payload/loose.bin mkout/Commonfiles/loose.bin
check "make carries a group folder" cmp -s mk/payload/Extra/e.txt mkout/Extra/e.txt

# The installer must be a program Windows can start: a text file (over the package's
# 1024-byte minimum), a DLL, a program cut short are refused; nothing is written.
mkdir inst
for i in $(seq 1 60); do echo "line $i of an installer that is a text file"; done >inst/text.exe
cp "$SEEDS/rsrc_last.exe" inst/lib.dll
# Characteristics (COFF header at 0x84, +18): the DLL flag 0x2000 added.
flags=$(od -An -tu2 -j$((0x96)) -N2 inst/lib.dll | tr -d ' ')
flags=$((flags | 0x2000))
printf "$(printf '\\x%02x\\x%02x' $((flags & 255)) $((flags >> 8)))" | dd of=inst/lib.dll bs=1 seek=$((0x96)) conv=notrunc 2>/dev/null
head -c 1500 "$SEEDS/rsrc_last.exe" >inst/cut.exe
declare -A why=(
  [text.exe]="no MZ signature at offset 0"
  [lib.dll]="a DLL"
  [cut.exe]="reaches past the end of the file (1500 bytes)"
)
for f in text.exe lib.dll cut.exe; do
  run make --installer "inst/$f" --payload mk/payload --launcher st/launcher.exe -o inst/Setup.exe
  check "make refuses $f with 1" [ "$rc" = 1 ]
  check "make says what is wrong with $f" contains err.txt "oempack: inst/$f is not a Windows program ("
  check "make names the fault of $f" contains err.txt "${why[$f]})"
done
check "text file over the minimum size" [ "$(stat -c %s inst/text.exe)" -gt 1024 ]
check "nothing written for refused installers" only inst "cut.exe lib.dll text.exe "

# Installers that will not start everywhere the launcher does: made, with one warning line.
cp "$SEEDS/pe32plus.exe" inst/x64.exe
cp "$SEEDS/pe32plus.exe" inst/arm64.exe
printf '\x64\xaa' | dd of=inst/arm64.exe bs=1 seek=$((0x84)) conv=notrunc 2>/dev/null
run make --installer inst/x64.exe --launcher st/launcher.exe -o inst/x64in86.exe
check "an x64 installer in an x86 launcher is made" [ "$rc" = 0 ]
check "an x64 installer in an x86 launcher is warned about" [ "$(cat err.txt)" = \
  "oempack: warning: inst/x64.exe is an x64 program: it will not start on 32-bit Windows, where the x86 Setup.exe runs" ]
run make --installer inst/x64.exe --launcher "$SEEDS/pe32plus.exe" -o inst/x64in64.exe
check "an x64 installer in an x64 launcher is made without a warning: made" [ "$rc" = 0 ]
check "an x64 installer in an x64 launcher is made without a warning: nothing on stderr" [ ! -s err.txt ]
for launcher in st/launcher.exe "$SEEDS/pe32plus.exe"; do
  run make --installer inst/arm64.exe --launcher "$launcher" -o inst/arm.exe
  check "an ARM64 installer in $launcher is made" [ "$rc" = 0 ]
  check "an ARM64 installer in $launcher is warned about" [ "$(cat err.txt)" = \
    "oempack: warning: inst/arm64.exe is an ARM64 program: it will not start on x86 or x64 Windows" ]
done
run make --installer mk/setup.exe --launcher st/launcher.exe -o inst/x86.exe
check "an x86 installer is made without a warning: made" [ "$rc" = 0 ]
check "an x86 installer is made without a warning: nothing on stderr" [ ! -s err.txt ]

# Language codes: above 65535 refused by make; stamp warns about a SelectLanguage the
# launcher would pass as written, and stamps it unchanged.
for code in 70000 0x10000; do
  run make --installer mk/setup.exe --select-language "$code" --launcher st/launcher.exe -o inst/lang.exe
  check "--select-language $code is a usage error" [ "$rc" = 2 ]
  check "--select-language $code is refused naming it" contains err.txt \
    "oempack: --select-language takes a language code from 0 to 65535 such as 0x0404 or 1028, not '$code'"
done
check "nothing written for a refused language code" [ ! -e inst/lang.exe ]
run make --installer mk/setup.exe --use-default-language 0 --select-language 0xFFFF --launcher st/launcher.exe \
  -o inst/lang.exe
check "--select-language 0xFFFF is taken" [ "$rc" = 0 ]
printf '[Language]\r\nUseDefault = 0\r\nSelectLanguage = 0404 /EVIL\r\n' >inst/evil.ini
run stamp --launcher st/launcher.exe --package pkg.oem --language-ini inst/evil.ini -o inst/evil.exe
check "stamp takes settings with a SelectLanguage that is not a code" [ "$rc" = 0 ]
check "and says, in one line, that it reaches the installer as written" [ "$(cat err.txt)" = \
  "oempack: warning: inst/evil.ini: SelectLanguage '0404 /EVIL' is not a language identifier (0 to 65535); it will reach the installer's command line as written, after /L" ]
check "the settings are stamped as written" grep -qaF "SelectLanguage = 0404 /EVIL" inst/evil.exe
printf '[LANGUAGE]\r\nUseDefault=1\r\nSelectLanguage=0404 /EVIL\r\n' >inst/unused.ini
run stamp --launcher st/launcher.exe --package pkg.oem --language-ini inst/unused.ini -o inst/unused.exe
check "a SelectLanguage that UseDefault=1 leaves unused is not warned about: made" [ "$rc" = 0 ]
check "a SelectLanguage that UseDefault=1 leaves unused is not warned about: nothing on stderr" [ ! -s err.txt ]
run stamp --launcher st/launcher.exe --package pkg.oem --language-ini lang.ini -o inst/good.exe
check "a language code is not warned about: made" [ "$rc" = 0 ]
check "a language code is not warned about: nothing on stderr" [ ! -s err.txt ]
rm -rf inst

# Reproducible output: the same SOURCE_DATE_EPOCH, other folders, other file times, other clocks.
export SOURCE_DATE_EPOCH=1700000000
mkdir -p r1 r2
cp -r in mk r1/
sleep 1
cp -r in mk r2/
touch -d '2031-05-06 07:08:09' r2/in/Docs/b.bin
touch -d '2001-02-03 04:05:06' r1/in/Docs/c.txt r2/in/Docs/c.txt
for r in r1 r2; do
  (cd "$r" && "$OEMPACK" create pkg.oem --compress --from-dir in >/dev/null &&
    "$OEMPACK" make --installer mk/setup.exe --payload mk/payload --launcher "$SEEDS/rsrc_last.exe" \
      -o Setup.exe >/dev/null)
done
check "create is reproducible" cmp -s r1/pkg.oem r2/pkg.oem
check "make is reproducible" cmp -s r1/Setup.exe r2/Setup.exe
run list r1/pkg.oem
check "later times are clamped" contains out.txt "2023-11-14 22:13:20  b.bin"
check "earlier times are kept" contains out.txt "2001-02-03 04:05:06  c.txt"
run list r1/Setup.exe
check "CONFIG.INI takes the time" contains out.txt "2023-11-14 22:13:20  CONFIG.INI"
SOURCE_DATE_EPOCH=soon run create bad.oem --from-dir in
check "a SOURCE_DATE_EPOCH that is not a number fails with 1" [ "$rc" = 1 ]
check "the bad SOURCE_DATE_EPOCH is named" contains err.txt "oempack: SOURCE_DATE_EPOCH: not a number"
check "and nothing is written" [ ! -e bad.oem ]
unset SOURCE_DATE_EPOCH
run make --installer mk/setup.exe --payload mk/payload --launcher st/launcher.exe -o mk/Setup2.exe
check "without SOURCE_DATE_EPOCH make stays as it was" [ "$rc" = 0 ]
run list mk/Setup2.exe
check "without SOURCE_DATE_EPOCH CONFIG.INI takes the current time" contains out.txt "$(date -u +%Y-%m-%d)"

# -j: the same package whatever the number of jobs; a bad number fails with 1 and writes nothing.
export SOURCE_DATE_EPOCH=1700000000
for j in 1 4; do
  run create "j$j.oem" --compress -j "$j" --from-dir in
  check "create -j $j succeeds" [ "$rc" = 0 ]
done
check "-j 1 and -j 4 give the same bytes" cmp -s j1.oem j4.oem
run make --installer mk/setup.exe --payload mk/payload --compress -j 3 --launcher st/launcher.exe -o mk/Setup3.exe
check "make -j 3 succeeds" [ "$rc" = 0 ]
check "make leaves no temporary package beside its output" only mk "Setup.exe Setup2.exe Setup3.exe payload setup.exe "
# An installer above 8 MiB is coded in pieces: make records where they start
# (OEMDATA/INDEX, tag OIDX, version 1), the same whatever the jobs; extract
# decodes by it, and an index that lies only costs the sequential decode.
mkdir -p split
# A program with 17.5 MB of text behind it, as an installer carries its payload.
{ cat "$SEEDS/rsrc_last.exe"; for i in $(seq 1 400000); do echo "line $i of a big compressible installer"; done; } >split/setup.exe
# index_at FILE: the byte offset of the index record in FILE, empty when there is none
index_at() { LC_ALL=C grep -obUaP 'OIDX\x01\x00\x10\x00' "$1" | cut -d: -f1; }
for j in 1 3; do
  run make --installer split/setup.exe --compress -j "$j" --launcher st/launcher.exe -o "split/S$j.exe"
  check "make -j $j of a split installer succeeds" [ "$rc" = 0 ]
done
check "the split installer's program is the same bytes whatever the jobs" cmp -s split/S1.exe split/S3.exe
at=$(index_at split/S1.exe)
check "make writes one piece index" [ -n "$at" ] && [ "$(echo "$at" | wc -l)" = 1 ]
# header: tag, version, size, 1 stream; the stream: offset, length, 5 pieces (17.5 MB in 4 MiB pieces)
read -r -a fields <<<"$(od -A n -t u4 -j "$at" -N 48 split/S1.exe | tr -s ' \n' ' ')"
check "the index has one stream of five pieces, the first at bit 0" \
  [ "${fields[2]}" = 1 ] && [ "${fields[6]}" = 5 ] && [ "${fields[8]}" = 0 ] && [ "${fields[9]}" = 0 ]
run extract split/S1.exe -C split/out
check "extract by the index gives the installer" cmp -s split/setup.exe split/out/Commonfiles/setup.exe
# The second piece's start bit one later: a lie that the decode finds out.
cp split/S1.exe split/Lying.exe
printf '%08x' $((fields[11] + 1)) | sed 's/\(..\)\(..\)\(..\)\(..\)/\\x\4\\x\3\\x\2\\x\1/' | xargs -0 printf |
  dd of=split/Lying.exe bs=1 seek=$((at + 44)) conv=notrunc status=none
check "the lying index was written" [ "$(index_at split/Lying.exe)" = "$at" ] && ! cmp -s split/S1.exe split/Lying.exe
run extract split/Lying.exe -C split/out2
check "extract past a lying index still gives the installer" cmp -s split/setup.exe split/out2/Commonfiles/setup.exe
# stamp has no offsets: a package stamped onto the made program leaves no index.
run stamp --launcher split/S1.exe --package pkg.oem -o split/Restamped.exe
check "stamp onto a program with an index succeeds" [ "$rc" = 0 ]
check "stamp drops the stale index" [ -z "$(index_at split/Restamped.exe)" ]
run make --installer mk/setup.exe --payload mk/payload --compress --launcher split/S1.exe -o split/Small.exe
check "make of an unsplit installer leaves no index" [ "$rc" = 0 ] && [ -z "$(index_at split/Small.exe)" ]

unset SOURCE_DATE_EPOCH
for j in 0 -2 two 1x 65 99999999999 ""; do
  run create jbad.oem --compress -j "$j" --from-dir in
  check "-j '$j' fails with 1" [ "$rc" = 1 ]
  check "-j '$j' is refused with a message" contains err.txt "oempack: -j takes a number of jobs from 1 to 64, not '$j'"
  check "-j '$j' writes nothing" [ ! -e jbad.oem ]
  run make --installer mk/setup.exe -j "$j" --launcher st/launcher.exe -o mk/jbad.exe
  check "make -j '$j' fails with 1" [ "$rc" = 1 ]
  check "make -j '$j' writes nothing" only mk "Setup.exe Setup2.exe Setup3.exe payload setup.exe "
done
run create jbad.oem -j
check "-j without a number is a usage error" [ "$rc" = 2 ]

# Above what 32-bit offsets reach: refused before any byte is read (the files are sparse).
mkdir -p huge/G
truncate -s 2100M huge/G/one.bin
truncate -s 2100M huge/G/two.bin
run create huge.oem --from-dir huge
check "a package above 4 GiB fails with 1" [ "$rc" = 1 ]
check "a package above 4 GiB is refused with a message" contains err.txt "a package must stay below 4 GiB"
check "no huge package" [ ! -e huge.oem ]
check "no temporary file" [ -z "$(ls -A | grep -i '^oem.*\.tmp$')" ]
rm -rf huge

# Architectures. A copy of the program in a scratch layout, deep enough that the build-tree
# places (the recorded folders taken from the copy's folder) stay inside the scratch folder.
X86="$SEEDS/rsrc_last.exe"
X64="$SEEDS/pe32plus.exe"
depth=1
for rel in "$BUILD_X86" "$BUILD_X64"; do
  n=$(printf '%s\n' "$rel" | tr '/' '\n' | grep -c '^\.\.$')
  [ "$n" -ge "$depth" ] && depth=$n
done
BIN="$WORK/layout"
for i in $(seq 1 "$depth"); do BIN="$BIN/d$i"; done
BIN="$BIN/bin"
mkdir -p "$BIN" arch
cp "$OEMPACK" "$BIN/oempack"
# An installed copy: the recorded build folders are neither searched nor named.
"$BIN/oempack" stamp --arch x64 --package pkg.oem -o arch/none.exe >out.txt 2>err.txt
check "an installed copy looks in the installed layout only" contains err.txt \
  "oempack: no x64 launcher found; looked in: $(realpath -ms "$BIN/../share/oempack/launchers/x64/Setup.exe"); name one with --launcher"
# From here on the copy stands where CMake built it (CMake's own files beside it).
mkdir "$BIN/CMakeFiles"
run_copy() {
  "$BIN/oempack" "$@" >out.txt 2>err.txt
  rc=$?
}
share_place() { realpath -ms "$BIN/../share/oempack/launchers/$1/Setup.exe"; }
tree_place() {  # the build-tree place of a recorded folder, none for an empty one
  case "$1" in
    "") ;;
    /*) realpath -ms "$1/launcher/Setup.exe" ;;
    *) realpath -ms "$BIN/$1/launcher/Setup.exe" ;;
  esac
}
put() { mkdir -p "$(dirname "$2")" && cp "$1" "$2"; }
inside() { case "$1" in "$WORK"/*) return 0 ;; *) return 1 ;; esac; }
SHARE_X86=$(share_place x86)
SHARE_X64=$(share_place x64)
TREE_X86=$(tree_place "$BUILD_X86")
TREE_X64=$(tree_place "$BUILD_X64")
BESIDE="$BIN/Setup.exe"

# Nothing anywhere: the architecture, every place in order, --launcher; nothing written.
run_copy make --installer mk/setup.exe --payload mk/payload -o arch/none.exe
check "make without any launcher fails with 1" [ "$rc" = 1 ]
check "the missing x86 launcher and every place looked in are named" contains err.txt \
  "oempack: no x86 launcher found; looked in: $SHARE_X86, ${TREE_X86:+$TREE_X86, }$BESIDE; name one with --launcher"
run_copy stamp --arch x64 --package pkg.oem -o arch/none.exe
check "stamp without any launcher fails with 1" [ "$rc" = 1 ]
check "the x64 places have none beside the program" contains err.txt \
  "oempack: no x64 launcher found; looked in: $SHARE_X64${TREE_X64:+, $TREE_X64}; name one with --launcher"
check "nothing is written without a launcher" only arch ""

# The order: beside the program, then the build tree before it, then the installed layout first.
put "$X86" "$BESIDE"
run_copy make --installer mk/setup.exe --payload mk/payload -o arch/o.exe
check "make finds the x86 launcher beside the program" contains out.txt "made arch/o.exe from $BESIDE: installer setup.exe"
if [ -n "$TREE_X86" ] && inside "$TREE_X86"; then
  put "$X86" "$TREE_X86"
  run_copy make --installer mk/setup.exe --payload mk/payload -o arch/o.exe
  check "the build tree comes before the program's folder" contains out.txt "made arch/o.exe from $TREE_X86:"
else
  echo "note: no build-tree place for x86 inside the scratch folder ('$BUILD_X86'): not tested" >&2
fi
put "$X86" "$SHARE_X86"
run_copy make --installer mk/setup.exe --payload mk/payload -o arch/o.exe
check "the installed layout comes first" contains out.txt "made arch/o.exe from $SHARE_X86:"
run_copy make --installer mk/setup.exe --payload mk/payload --launcher st/launcher.exe -o arch/o.exe
check "--launcher overrides the search" contains out.txt "made arch/o.exe from st/launcher.exe:"
run_copy stamp --package pkg.oem -o arch/s86.exe
check "stamp searches like make" contains out.txt "stamped arch/s86.exe from $SHARE_X86:"
if [ -n "$TREE_X64" ] && inside "$TREE_X64"; then
  put "$X64" "$TREE_X64"
  run_copy stamp --arch x64 --package pkg.oem -o arch/s64.exe
  check "the x64 launcher of the build tree" contains out.txt "stamped arch/s64.exe from $TREE_X64:"
else
  echo "note: no build-tree place for x64 inside the scratch folder ('$BUILD_X64'): not tested" >&2
fi
put "$X64" "$SHARE_X64"
run_copy stamp --arch x64 --package pkg.oem -o arch/s64.exe
check "the x64 launcher of the installed layout comes first" contains out.txt "stamped arch/s64.exe from $SHARE_X64:"

# A launcher of the other architecture where the search finds one is refused: an x64
# Setup.exe beside the program (the x64 Windows build's layout) with x86 asked for.
rm -f "$SHARE_X86" "$TREE_X86"
put "$X64" "$BESIDE"
run_copy make --installer mk/setup.exe --payload mk/payload -o arch/wrong.exe
check "an x64 launcher found for x86 fails with 1" [ "$rc" = 1 ]
check "both architectures are named" contains err.txt \
  "oempack: $BESIDE: an x64 launcher, found where the x86 launcher was looked for; choose --arch x64 or name one with --launcher"
run stamp --launcher "$X64" --arch x86 --package pkg.oem -o arch/wrong.exe
check "--launcher of another architecture than --arch fails with 1" [ "$rc" = 1 ]
check "the disagreement is named" contains err.txt "oempack: $X64: an x64 launcher, but --arch asks for x86"
check "nothing is written for a launcher of the wrong architecture" [ ! -e arch/wrong.exe ]
run stamp --launcher "$X64" --arch x64 --package pkg.oem -o arch/agree.exe
check "--launcher and --arch that agree" [ "$rc" = 0 ]
check "the launcher named is the launcher found" cmp -s arch/s64.exe arch/agree.exe
run stamp --launcher "$X64" --package pkg.oem -o arch/alone.exe
check "--launcher alone takes the launcher's architecture" [ "$rc" = 0 ]
check "--launcher alone stamps the same bytes" cmp -s arch/s64.exe arch/alone.exe
for cmd in stamp make; do
  run "$cmd" --arch arm --installer mk/setup.exe --package pkg.oem -o arch/bad.exe
  check "$cmd --arch arm is a usage error" [ "$rc" = 2 ]
  check "$cmd --arch arm says what --arch takes" contains err.txt "oempack: --arch takes x86 or x64, not 'arm'"
done

# The architecture of a stamped program in list, list --json and verify.
run list arch/s86.exe
check "list names x86" contains out.txt "architecture: x86"
run list arch/s64.exe
check "list names x64" contains out.txt "architecture: x64"
run list --json arch/s64.exe
check "list --json names x64, and the seed's lack of a version block" contains out.txt \
  '"architecture":"x64","fileVersion":"none","identity":{"strings":{},"fileVersion":null'
run list arch/s64.exe
check "list says so in its table too" contains out.txt "launcher file version: none"
run list --json pkg.oem
check "a package file has no architecture and no file version" contains out.txt \
  '],"architecture":null,"fileVersion":null,"identity":null}'
run verify arch/s64.exe
check "verify checks the x64 seed's manifest" contains err.txt "oempack: arch/s64.exe: manifest: no requestedExecutionLevel"
# Another machine (ARM64): shown as its number, refused as a launcher.
cp arch/s64.exe arch/arm-stamped.exe
cp "$X64" arch/arm.exe
for f in arch/arm-stamped.exe arch/arm.exe; do
  printf '\x64\xaa' | dd of="$f" bs=1 seek=$((0x84)) conv=notrunc 2>/dev/null
done
run list arch/arm-stamped.exe
check "list shows another machine as its number" contains out.txt "architecture: 0xAA64"
run stamp --launcher arch/arm.exe --package pkg.oem -o arch/arm-out.exe
check "an ARM64 launcher fails with 1" [ "$rc" = 1 ]
check "an ARM64 launcher is refused naming its machine" contains err.txt \
  "oempack: arch/arm.exe: a program for machine 0xAA64, neither x86 (0x14C) nor x64 (0x8664); the launcher must be"
check "nothing is written for an ARM64 launcher" [ ! -e arch/arm-out.exe ]

checks_summary "oempack native CLI"
