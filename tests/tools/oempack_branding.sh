#!/usr/bin/env bash
# The vendor's identity written by the native oempack into the real launcher, read back by
# other programs: windres (version block, string table), objdump (headers, checksum), wrestool
# (icon images, byte for byte), and by oempack list; every bad input refused with nothing
# written; without identity options the launcher's resources stay as they were.
# Usage: oempack_branding.sh OEMPACK SCRATCH_FOLDER WINDRES OBJDUMP WINDOWS_BUILD...
# (the first Windows build folder with a launcher/Setup.exe is used).
set -u
# shellcheck source=../support/checks.sh
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../support/checks.sh"
OEMPACK="$(realpath "$1")"
WORK="$2"
WINDRES="$3"
OBJDUMP="$4"
shift 4
LAUNCHER=""
for build in "$@"; do
  [ -f "$build/launcher/Setup.exe" ] && { LAUNCHER="$(realpath "$build/launcher/Setup.exe")"; break; }
done
[ -n "$LAUNCHER" ] || { echo "no Windows build with launcher/Setup.exe in: $* (scripts/win-build.sh x64 makes one)"; exit 1; }
for tool in wrestool icotool convert; do
  command -v "$tool" >/dev/null || { echo "$tool missing (scripts/bootstrap.sh installs it)"; exit 1; }
done
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1
echo "launcher: $LAUNCHER"

run() {
  "$OEMPACK" "$@" >out.txt 2>err.txt
  rc=$?
}
# The installer: any program will do for the package; a copy of the launcher itself.
cp "$LAUNCHER" installer.exe
export SOURCE_DATE_EPOCH=1700000000

# An icon of three images: two BMP, one 256x256 PNG.
convert -size 16x16 xc:red s16.png && convert -size 48x48 xc:blue s48.png &&
  convert -size 256x256 xc:white -fill green -draw "circle 128,128 128,30" s256.png &&
  icotool -c -o vendor.ico s16.png s48.png -r s256.png || { echo "cannot make the test icon"; exit 1; }

# Without identity options: every resource but the package's is the launcher's, byte for byte.
run make --installer installer.exe --launcher "$LAUNCHER" -o Plain.exe
check "make without identity options succeeds" [ "$rc" = 0 ]
resources() {  # resources PROGRAM: one line per resource that is not the package's, with its checksum
  wrestool -l "$1" | grep -v "OEMDATA" | while read -r line; do
    type=$(echo "$line" | sed -n "s/.*--type=\([^ ]*\).*/\1/p")
    name=$(echo "$line" | sed -n "s/.*--name=\([^ ]*\).*/\1/p")
    lang=$(echo "$line" | sed -n "s/.*--language=\([^ ]*\).*/\1/p")
    echo "$type $name $lang $(wrestool -x --raw --type="$type" --name="$name" --language="$lang" "$1" | md5sum)"
  done
}
resources "$LAUNCHER" >launcher.res
resources Plain.exe >plain.res
check "the launcher's own resources are read" [ "$(wc -l <launcher.res)" -ge 6 ]
check "without identity options the resources stay as they were" cmp -s launcher.res plain.res

# Every option.
LABEL_CJK="正在安装 Contoso 套件，请稍候…"
run make --installer installer.exe --launcher "$LAUNCHER" -o Branded.exe \
  --product-name "Contoso Suite 契约套件" --company "Contoso Ltd." --description "Contoso Suite Setup" \
  --copyright "© 2026 Contoso Ltd." --product-version 5.2 --file-version 5.2.1.7 \
  --execution-level asInvoker --icon vendor.ico --progress-text "$LABEL_CJK"
check "make with every identity option succeeds" [ "$rc" = 0 ]
"$WINDRES" -i Branded.exe -O rc -o Branded.rc 2>windres.txt
check "windres reads the branded program" [ $? = 0 ]
for line in ' FILEVERSION 5, 2, 1, 7' ' PRODUCTVERSION 5, 2, 0, 0' \
  'VALUE "CompanyName", "Contoso Ltd."' 'VALUE "FileDescription", "Contoso Suite Setup"' \
  'VALUE "FileVersion", "5.2.1.7"' 'VALUE "ProductVersion", "5.2"' \
  'VALUE "ProductName", L"Contoso Suite \x5951\x7ea6\x5957\x4ef6"' \
  'VALUE "LegalCopyright", L"\251 2026 Contoso Ltd."' \
  'VALUE "OriginalFilename", "Branded.exe"' 'VALUE "InternalName", "Setup.exe"' \
  'VALUE "Translation", 0x409, 1200' \
  '102, L"\x6b63\x5728\x5b89\x88c5 Contoso \x5957\x4ef6\xff0c\x8bf7\x7a0d\x5019\x2026"'; do
  check "windres shows $line" grep -qF -- "$line" Branded.rc
done
check "the label stays in the Chinese string table" \
  eval "wrestool -l Branded.exe | grep -q -- '--type=6 --name=7 --language=2052'"
# The icon: the group and each image, byte for byte the file's.
wrestool -x --type=14 --name=128 Branded.exe >group.ico
icotool -l group.ico >group.txt
icotool -l vendor.ico >vendor.txt
check "the icon group lists the file's three images" cmp -s group.txt vendor.txt
ids=$(wrestool -l Branded.exe | sed -n 's/.*--type=3 --name=\([0-9]*\) .*/\1/p' | tr '\n' ' ')
check "exactly three icon images, no orphan of the old icon ($ids)" [ "$ids" = "1 2 3 " ]
python3 - vendor.ico Branded.exe <<'PY' >images.txt
import struct, subprocess, sys
ico = open(sys.argv[1], 'rb').read()
for i in range(struct.unpack('<H', ico[4:6])[0]):
    size, offset = struct.unpack('<II', ico[6 + 16 * i + 8:6 + 16 * i + 16])
    image = subprocess.run(['wrestool', '-x', '--raw', '--type=3', '--name=%d' % (i + 1), sys.argv[2]],
                           capture_output=True).stdout
    print('image %d %s' % (i + 1, 'same' if image == ico[offset:offset + size] else 'differs'))
PY
check "wrestool gives each icon image byte for byte" [ "$(cat images.txt | tr '\n' ' ')" = "image 1 same image 2 same image 3 same " ]
wrestool -x --raw --type=24 --name=1 Branded.exe >manifest.xml
check "the manifest asks for asInvoker" contains manifest.xml 'level="asInvoker"'
check "the manifest's level is its only change" eval \
  "wrestool -x --raw --type=24 --name=1 '$LAUNCHER' | sed 's/requireAdministrator/asInvoker/' | cmp -s - manifest.xml"
"$OBJDUMP" -p Branded.exe >headers.txt 2>&1
check "objdump reads the headers" [ $? = 0 ]
python3 - Branded.exe <<'PY' >checksum.txt
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = struct.unpack('<I', data[0x3C:0x40])[0] + 24 + 64
stored = struct.unpack('<I', data[at:at + 4])[0]
data[at:at + 4] = b'\0\0\0\0'
total = 0
for i in range(0, len(data) - 1, 2):
    total += data[i] | data[i + 1] << 8
    total = (total & 0xFFFF) + (total >> 16)
if len(data) % 2:
    total += data[-1]
    total = (total & 0xFFFF) + (total >> 16)
print('ok' if stored == ((total & 0xFFFF) + (total >> 16)) + len(data) else 'stored %x' % stored)
PY
check "the PE checksum is right" [ "$(cat checksum.txt)" = ok ]
check "objdump shows the same checksum" grep -qi "CheckSum.*$(printf '%08x' "$(python3 -c "import struct;d=open('Branded.exe','rb').read();print(struct.unpack('<I',d[struct.unpack('<I',d[0x3C:0x40])[0]+88:][:4])[0])")")" headers.txt
run verify Branded.exe
check "verify accepts the branded program's manifest" [ "$rc" = 0 ]

# Reproducible: the same command gives the same bytes; stamp does the same as make.
run make --installer installer.exe --launcher "$LAUNCHER" -o Again/Branded.exe \
  --product-name "Contoso Suite 契约套件" --company "Contoso Ltd." --description "Contoso Suite Setup" \
  --copyright "© 2026 Contoso Ltd." --product-version 5.2 --file-version 5.2.1.7 \
  --execution-level asInvoker --icon vendor.ico --progress-text "$LABEL_CJK"
check "a missing output folder is refused" [ "$rc" = 1 ]
mkdir Again
run make --installer installer.exe --launcher "$LAUNCHER" -o Again/Branded.exe \
  --product-name "Contoso Suite 契约套件" --company "Contoso Ltd." --description "Contoso Suite Setup" \
  --copyright "© 2026 Contoso Ltd." --product-version 5.2 --file-version 5.2.1.7 \
  --execution-level asInvoker --icon vendor.ico --progress-text "$LABEL_CJK"
check "the branded program is reproducible" cmp -s Branded.exe Again/Branded.exe
run stamp --package Plain.exe --launcher Plain.exe --product-version 7 -o Seven.exe
check "stamp takes the identity options too" [ "$rc" = 0 ]
"$WINDRES" -i Seven.exe -O rc -o Seven.rc 2>/dev/null
check "a product version alone sets the file version too" grep -qF ' FILEVERSION 7, 0, 0, 0' Seven.rc
check "and keeps the launcher's name strings" grep -qF 'VALUE "ProductName", "Install Program"' Seven.rc
run stamp --package Plain.exe --launcher Plain.exe --company "Contoso" -o TextOnly.exe
"$WINDRES" -i TextOnly.exe -O rc -o TextOnly.rc 2>/dev/null
check "text options alone keep the version numbers" grep -qF ' FILEVERSION 2, 0, 0, 0' TextOnly.rc
check "text options alone keep OriginalFilename" grep -qF 'VALUE "OriginalFilename", "Setup.exe"' TextOnly.rc

# list shows the identity, as text and as JSON after the existing keys.
run list Branded.exe
check "list shows the execution level" contains out.txt "execution level: asInvoker"
check "list shows the icon sizes" contains out.txt "icon sizes: 16x16, 48x48, 256x256"
check "list shows the progress text" contains out.txt "progress text: $LABEL_CJK"
check "list shows the product name" contains out.txt "version string ProductName: Contoso Suite 契约套件"
run list --json Branded.exe
check "list --json keeps its keys in order, identity last" contains out.txt \
  '"architecture":"'
check "list --json shows the identity" contains out.txt \
  '"fileVersion":"5.2.1.7","productVersion":"5.2.0.0","executionLevel":"asInvoker","iconSizes":["16x16","48x48","256x256"],"progressText":"'"$LABEL_CJK"'"}}'

# make warns when the installer asks for administrator rights and Setup.exe does not.
run make --installer Plain.exe --launcher "$LAUNCHER" -o Invoker.exe --execution-level asInvoker
check "an installer asking for requireAdministrator under asInvoker: make succeeds" [ "$rc" = 0 ]
check "and warns of error 740" contains err.txt "oempack: warning: Plain.exe asks for requireAdministrator in its manifest"
run make --installer Plain.exe --launcher "$LAUNCHER" -o Admin.exe --execution-level requireAdministrator
check "no warning at requireAdministrator" [ ! -s err.txt ]

# Bad input: a message naming the option or file, exit 1 or 2, nothing written.
refused() {  # refused STATUS MESSAGE ARGS...: make with ARGS fails so, and writes nothing
  local status="$1" message="$2"
  shift 2
  rm -rf out && mkdir out
  run make --installer installer.exe --launcher "$LAUNCHER" -o out/Setup.exe "$@"
  check "refused ($message): exit $status" [ "$rc" = "$status" ]
  check "refused ($message): says so" contains err.txt "$message"
  check "refused ($message): nothing written" [ -z "$(ls -A out)" ]
}
printf 'not an icon at all' >text.ico
head -c 4 vendor.ico >short.ico
head -c 40 vendor.ico >entries.ico
head -c 2000 vendor.ico >cut.ico
printf '\0\0\1\0\0\0' >none.ico
printf '\0\0\1\0\0\1' >many.ico
head -c 100000 /dev/zero >>many.ico
cp vendor.ico cursor.ico && printf '\2' | dd of=cursor.ico bs=1 seek=2 conv=notrunc 2>/dev/null
cp vendor.ico offset.ico && printf '\377\377\377\177' | dd of=offset.ico bs=1 seek=18 conv=notrunc 2>/dev/null
refused 1 "oempack: text.ico: not an icon file" --icon text.ico
refused 1 "oempack: short.ico: not an icon file: 4 bytes, shorter than its header" --icon short.ico
refused 1 "oempack: entries.ico: the icon file is cut short" --icon entries.ico
refused 1 "oempack: cut.ico: image 3 of the icon file" --icon cut.ico
refused 1 "oempack: none.ico: the icon file holds no images" --icon none.ico
refused 1 "oempack: many.ico: the icon file holds 256 images, more than 255" --icon many.ico
refused 1 "oempack: cursor.ico: not an icon file (its header says type 2" --icon cursor.ico
refused 1 "oempack: offset.ico: image 1 of the icon file" --icon offset.ico
refused 1 "oempack: missing.ico:" --icon missing.ico
refused 2 "oempack: --product-version '1.2.3.4.5': more than four parts" --product-version 1.2.3.4.5
refused 2 "oempack: --file-version '1.65536': part 65536 is above 65535" --file-version 1.65536
refused 2 "oempack: --product-version '1.x': 'x' is not a number" --product-version 1.x
refused 2 "oempack: --product-version '1..2': an empty part" --product-version 1..2
refused 2 "oempack: --company: the text is not UTF-8" --company "$(printf 'Caf\351')"
refused 2 "oempack: --execution-level takes asInvoker, highestAvailable or requireAdministrator, not 'admin'" \
  --execution-level admin
refused 2 "oempack: --progress-text: 31 characters, more than the 30" --progress-text "$(printf '安%.0s' $(seq 31))"
refused 2 "oempack: --progress-text: the label is one line" --progress-text "$(printf 'two\nlines')"
refused 1 "version block: \"FileDescription\" is longer than a version string can be" --description "$(head -c 70000 /dev/zero | tr '\0' 'x')"
refused 1 "more than the 65535 its length field holds" --company "$(head -c 33000 /dev/zero | tr '\0' 'x')" \
  --copyright "$(head -c 33000 /dev/zero | tr '\0' 'x')"

checks_summary "oempack branding"
