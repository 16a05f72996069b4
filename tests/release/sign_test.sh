#!/usr/bin/env bash
# Signing with a throwaway self-signed certificate:
# - tools/sign.sh on a copy of setup.exe: the copy carries a signature that
#   osslsigncode verifies; with no certificate the file is left as it was;
# - a build of the same sources configured with the certificate
#   (BUILD/signed/build, kept so that a later run relinks only what changed):
#   the carried programs taken out of its setup.exe are the ones it signed,
#   and verify; its setup.exe, signed last, verifies too. It is left as
#   BUILD/signed/setup.exe for the end-to-end suite to install, which shows
#   that the recorded sums are those of the signed programs.
#   sign_test.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
signed=$build/signed
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
passed=0

# A new certificate each run: the signing build signs everything again.
mkdir -p "$signed"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tarnlink Test Signer" \
  -keyout "$work/key.pem" -out "$signed/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$signed/cert.pem" -passout pass:test-only \
  -out "$signed/cert.pfx"
export TL_SIGN_PASSWORD=test-only
# verify FILE DESCRIPTION: signed by the test's certificate, under the
# program's own name.
verify() {
  local out
  out=$(osslsigncode verify -CAfile "$signed/cert.pem" -in "$1" 2>&1) || fail "osslsigncode verify $1: $out"
  grep -q "Signature verification: ok" <<<"$out" || fail "osslsigncode verify $1: $out"
  grep -q "Tarnlink Test Signer" <<<"$out" || fail "signer not named: $out"
  grep -qx "	Text description: $2" <<<"$out" || fail "$1 not described as $2: $out"
}

# No certificate: a word, and the file as it was.
cp "$build/setup.exe" "$work/unsigned.exe"
out=$(env -u TL_SIGN_PFX bash "$root/tools/sign.sh" "$work/unsigned.exe")
[[ $out == *"left unsigned"* ]] || fail "no word without a certificate: $out"
cmp -s "$build/setup.exe" "$work/unsigned.exe" || fail "unsigned copy changed"
passed=$((passed + 1))

cp "$build/setup.exe" "$work/setup.exe"
TL_SIGN_PFX=$signed/cert.pfx bash "$root/tools/sign.sh" "$work/setup.exe" >/dev/null
# The signature is appended: everything before it is the program as built.
size=$(stat -c %s "$build/setup.exe")
[ "$(stat -c %s "$work/setup.exe")" -gt "$size" ] || fail "signed copy is no larger"
verify "$work/setup.exe" "Tarnlink Suite Setup"
passed=$((passed + 1))

# The build that signs, with this build's toolchain.
toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")
case $toolchain in /*) ;; *) toolchain=$root/$toolchain ;; esac
cmake -S "$root" -B "$signed/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DHOST_TESTS=OFF -DTL_SIGN_PFX="$signed/cert.pfx" -DTL_SIGN_TIMESTAMP= >/dev/null
cmake --build "$signed/build" --target setup >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "the signing build failed"; }
for name in removetl.exe tarnlink.exe tarnlink.dll setup.exe; do
  grep -q "sign.sh: signed .*/$name\$" "$work/build.log" || fail "the build did not sign $name"
done
# setup.exe is signed last, after the programs it carries.
[ "$(grep "sign.sh: signed" "$work/build.log" | tail -1)" = "sign.sh: signed $signed/build/setup.exe" ] ||
  fail "setup.exe was not signed last: $(grep "sign.sh: signed" "$work/build.log")"
verify "$signed/build/setup.exe" "Tarnlink Suite Setup"
passed=$((passed + 1))

# Each carried program, taken out of the signed setup.exe and expanded.
# Debian's own Python, which has python3-pefile.
PYTHONPATH=$root/tests/release /usr/bin/python3 - "$signed/build/setup.exe" "$work" <<'EOF'
import sys
from check_programs import load, resources
for kind, name, _, data in resources(load(sys.argv[1])):
    if kind == "EXE":
        with open("%s/%s.packed" % (sys.argv[2], name), "wb") as f:
            f.write(data)
EOF
for row in "REMFILE:removetl.exe:Tarnlink Suite Uninstall" "EXEFILE:tarnlink.exe:Tarnlink Suite" \
           "DLLFILE:tarnlink.dll:Tarnlink Suite Library"; do
  IFS=: read -r resource name description <<<"$row"
  [ -f "$work/$resource.packed" ] || fail "setup.exe carries no $resource"
  msexpand <"$work/$resource.packed" >"$work/$name" || fail "$resource does not expand"
  cmp -s "$work/$name" "$signed/build/$name" || fail "the carried $name is not the signed one"
  verify "$work/$name" "$description"
  passed=$((passed + 1))
done

cp "$signed/build/setup.exe" "$signed/setup.exe"
echo "$passed passed, 0 failed"
