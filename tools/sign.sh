#!/usr/bin/env bash
# Signs a built program with Authenticode when the maker gives a certificate:
#   TL_SIGN_PFX=/path/cert.pfx TL_SIGN_PASSWORD=... bash tools/sign.sh FILE [DESCRIPTION]
# DESCRIPTION is the program's name in the signature, which Windows shows
# when it asks for administrator rights (default "Tarnlink Suite Setup").
# TL_SIGN_TIMESTAMP may name a time-stamp server (RFC 3161) to countersign.
# Without a certificate it says so and leaves the file alone. The signature is
# appended to the file; nothing the program reads of itself changes.
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -f "$1" ]; then
  echo "usage: TL_SIGN_PFX=cert.pfx TL_SIGN_PASSWORD=... sign.sh FILE [DESCRIPTION]" >&2
  exit 2
fi
file=$1
description=${2:-Tarnlink Suite Setup}
if [ -z "${TL_SIGN_PFX:-}" ]; then
  echo "sign.sh: no certificate (TL_SIGN_PFX is not set): $file left unsigned"
  exit 0
fi
if [ ! -r "$TL_SIGN_PFX" ]; then
  echo "sign.sh: cannot read the certificate $TL_SIGN_PFX" >&2
  exit 1
fi
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is not installed" >&2; exit 1; }
timestamp=()
[ -n "${TL_SIGN_TIMESTAMP:-}" ] && timestamp=(-ts "$TL_SIGN_TIMESTAMP")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The password goes through a pipe: not the command line, where other users
# of the machine could read it, and no file.
printf '%s' "${TL_SIGN_PASSWORD:-}" |
  osslsigncode sign -pkcs12 "$TL_SIGN_PFX" -readpass - -h sha256 \
  -n "$description" "${timestamp[@]}" -in "$file" -out "$work/signed" >/dev/null
cp "$work/signed" "$file"
echo "sign.sh: signed $file"
