#!/usr/bin/env bash
# tools/sign.sh on a copy of setup.exe: with a throwaway self-signed
# certificate the copy carries a signature that osslsigncode verifies, and it
# is left as BUILD/signed/setup.exe for the end-to-end suite to install; with
# no certificate the file is left as it was.
#   sign_test.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tarnlink Test Signer" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:test-only \
  -out "$work/cert.pfx"

# No certificate: a word, and the file as it was.
cp "$build/setup.exe" "$work/unsigned.exe"
out=$(env -u TL_SIGN_PFX bash "$root/tools/sign.sh" "$work/unsigned.exe")
[[ $out == *"left unsigned"* ]] || fail "no word without a certificate: $out"
cmp -s "$build/setup.exe" "$work/unsigned.exe" || fail "unsigned copy changed"

mkdir -p "$build/signed"
cp "$build/setup.exe" "$build/signed/setup.exe"
TL_SIGN_PFX=$work/cert.pfx TL_SIGN_PASSWORD=test-only bash "$root/tools/sign.sh" "$build/signed/setup.exe"
# The signature is appended: everything before it is the program as built.
size=$(stat -c %s "$build/setup.exe")
[ "$(stat -c %s "$build/signed/setup.exe")" -gt "$size" ] || fail "signed copy is no larger"
verify=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$build/signed/setup.exe" 2>&1) ||
  fail "osslsigncode verify: $verify"
grep -q "Signature verification: ok" <<<"$verify" || fail "osslsigncode verify: $verify"
grep -q "Tarnlink Test Signer" <<<"$verify" || fail "signer not named: $verify"
echo "1 passed, 0 failed"
