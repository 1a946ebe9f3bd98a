#!/usr/bin/env bash
# Stamps the launcher with pe_stamp_tool under Wine, then has objdump, windres and
# osslsigncode read the result; a signed launcher restamped loses its signature.
#
#   check_stamped_launcher.sh WINE_RUN STAMP_TOOL LAUNCHER WORK_DIR OBJDUMP WINDRES [OEMPACK [INSTALLER]]
#
# With OEMPACK (oempack.exe), oempack stamp is also run on the signed launcher; with
# INSTALLER (the sample installer) too, a Setup.exe with the vendor's identity is made,
# signed, verified and launched.
#
# Exit 0 when everything holds, 1 with the failed check named (also when
# osslsigncode or openssl is missing: scripts/bootstrap.sh installs them).
set -euo pipefail
run="$1" tool="$2" launcher="$3" work="$4" objdump="$5" windres="$6" oempack="${7:-}" installer="${8:-}"
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work" && mkdir -p "$work" && cd "$work" || fail "cannot make $work"
# Wine resolves relative names against the current folder: keep every path relative.
cp "$launcher" Launcher.exe || fail "no launcher at $launcher"
seq 1 40000 > package.oem
printf '[LANGUAGE]\r\nUseDefault =1\r\nSelectLanguage = 0x0404\r\n' > Language.ini
stamp() {  # stamp IN OUT
  "$run" "$tool" "$1" "$2" package.oem Language.ini </dev/null >"$2.log" 2>&1 || { cat "$2.log"; fail "stamping $1"; }
}
stamp Launcher.exe Setup.exe

"$objdump" -p Setup.exe >objdump.txt 2>&1 || fail "objdump -p: $(tail -3 objdump.txt)"
# Addresses are 8 hex digits in a PE32 launcher, 16 in a PE32+ one.
grep -Eq 'Entry 2 ([0-9a-f]{8}|[0-9a-f]{16}) [0-9a-f]{8} Resource Directory \[\.rsrc\]' objdump.txt || fail "objdump shows no resource directory"
grep -Eqi 'corrupt|warning' objdump.txt && fail "objdump complains: $(grep -Ei 'corrupt|warning' objdump.txt | head -3)"
for name in OEMDATA DEFAULT LANGUAGE_INI; do
  grep -q "]: $name, Value" objdump.txt || fail "objdump does not list $name"
done

"$windres" -i Setup.exe -O rc -o Setup.rc >windres.txt 2>&1 || fail "windres: $(tail -3 windres.txt)"
for line in '"DEFAULT" "OEMDATA"' '"LANGUAGE_INI" "OEMDATA"' '101 DIALOG' 'STRINGTABLE' '1 VERSIONINFO' '1 3 ' '128 14 ' '1 24 '; do
  grep -q "^$line" Setup.rc || fail "windres output lacks $line"
done
echo "objdump and windres read the stamped launcher"

command -v osslsigncode >/dev/null && command -v openssl >/dev/null || { echo "osslsigncode or openssl missing (scripts/bootstrap.sh installs them)"; exit 1; }
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=PE resource writer test" \
  >openssl.txt 2>&1 || fail "openssl: $(tail -3 openssl.txt)"
osslsigncode sign -certs cert.pem -key key.pem -in Setup.exe -out Signed.exe >sign.txt 2>&1 || fail "sign: $(tail -3 sign.txt)"
osslsigncode verify -CAfile cert.pem -in Signed.exe >verify.txt 2>&1 || fail "verify: $(tail -5 verify.txt)"
grep -q 'Signature verification: ok' verify.txt || fail "the signature does not verify"
echo "osslsigncode signs and verifies the stamped launcher"

# A signed launcher: stamping drops the certificate table and says so; signing again works.
stamp Signed.exe Restamped.exe
grep -q 'signature (.* bytes) was dropped' Restamped.exe.log || fail "no note of the dropped signature: $(cat Restamped.exe.log)"
"$objdump" -p Restamped.exe >restamped-headers.txt 2>&1 || fail "objdump: $(tail -3 restamped-headers.txt)"
grep -Eq 'Entry 4 (0{8}|0{16}) 00000000 Security Directory' restamped-headers.txt || fail "the certificate entry is still set"
osslsigncode verify -CAfile cert.pem -in Restamped.exe >reverify.txt 2>&1 && fail "the restamped launcher still verifies"
grep -q 'No signature found' reverify.txt || fail "unexpected verify output: $(tail -3 reverify.txt)"
osslsigncode sign -certs cert.pem -key key.pem -in Restamped.exe -out Resigned.exe >resign.txt 2>&1 || fail "sign again: $(tail -3 resign.txt)"
osslsigncode verify -CAfile cert.pem -in Resigned.exe >reverify2.txt 2>&1 || fail "verify again: $(tail -5 reverify2.txt)"
grep -q 'Signature verification: ok' reverify2.txt || fail "the re-signed launcher does not verify"
echo "a signed launcher restamped loses its signature and can be signed again"

if [ -n "$oempack" ]; then
  "$run" "$oempack" create real.oem package.oem </dev/null >create.log 2>&1 || fail "oempack create: $(cat create.log)"
  "$run" "$oempack" stamp --launcher Signed.exe --package real.oem -o OemSigned.exe </dev/null >oemstamp.out 2>oemstamp.err ||
    fail "oempack stamp of the signed launcher: $(cat oemstamp.err)"
  grep -q '^oempack: note: Signed.exe is signed: its signature ([0-9]* bytes) was left out of OemSigned.exe; sign the stamped program' \
    oemstamp.err || fail "oempack does not note the dropped signature: $(cat oemstamp.err)"
  osslsigncode verify -CAfile cert.pem -in OemSigned.exe >oemverify.txt 2>&1 && fail "oempack's stamped copy still verifies"
  grep -q 'No signature found' oemverify.txt || fail "unexpected verify output: $(tail -3 oemverify.txt)"
  echo "oempack stamps a signed launcher, leaves the signature out and notes it"
fi

if [ -n "$oempack" ] && [ -n "$installer" ]; then
  cp "$installer" installer.exe
  "$run" "$oempack" make --installer installer.exe --launcher Launcher.exe --product-name "Contoso Suite" \
    --company "Contoso Ltd." --description "Contoso Suite Setup" --product-version 5.2 --execution-level asInvoker \
    --progress-text "Installing Contoso Suite" -o Branded.exe </dev/null >branded.log 2>&1 ||
    fail "oempack make with the vendor's identity: $(cat branded.log)"
  osslsigncode sign -certs cert.pem -key key.pem -n "Contoso Suite Setup" -in Branded.exe -out BrandedSigned.exe \
    >bsign.txt 2>&1 || fail "sign the branded program: $(tail -3 bsign.txt)"
  osslsigncode verify -CAfile cert.pem -in BrandedSigned.exe >bverify.txt 2>&1 || fail "verify: $(tail -5 bverify.txt)"
  grep -q 'Signature verification: ok' bverify.txt || fail "the branded program's signature does not verify"
  "$windres" -i BrandedSigned.exe -O rc -o BrandedSigned.rc >/dev/null 2>&1 || fail "windres on the signed program"
  grep -q 'VALUE "FileDescription", "Contoso Suite Setup"' BrandedSigned.rc || fail "the signed program lost its identity"
  status=0
  OEM_SAMPLE_EXIT=7 "$run" BrandedSigned.exe /S </dev/null >launch.log 2>&1 || status=$?
  [ "$status" = 7 ] || fail "the signed branded program exited with $status, not the installer's 7"
  echo "osslsigncode signs and verifies a branded program, which launches"
fi
