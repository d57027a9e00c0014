#!/usr/bin/env bash
# Authenticode-signs each FILE in place with osslsigncode, then verifies its signature.
# A station signs with its own key and certificate: KELPLAYERX_SIGN_KEY and KELPLAYERX_SIGN_CERT name PEM files
# (the certificate file may hold the chain after it), KELPLAYERX_SIGN_PASS the key's passphrase if it has one,
# KELPLAYERX_SIGN_CA the root certificates to verify with (default: the system's). Without them, the test
# certificate in TEST_DIR (made by make-sign-cert.sh) signs, so that signing is always exercised.
# Usage: tools/sign.sh TEST_DIR FILE...
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
test_dir=$1
shift
if [ -n "${KELPLAYERX_SIGN_KEY:-}" ] || [ -n "${KELPLAYERX_SIGN_CERT:-}" ]; then
  key=${KELPLAYERX_SIGN_KEY:?KELPLAYERX_SIGN_KEY names the signing key}
  cert=${KELPLAYERX_SIGN_CERT:?KELPLAYERX_SIGN_CERT names the signing certificate}
  ca=${KELPLAYERX_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}
else
  "$TOP/tools/make-sign-cert.sh" "$test_dir"
  key=$test_dir/signer.key cert=$test_dir/signer.pem ca=$test_dir/root.pem
fi
pass=()
[ -n "${KELPLAYERX_SIGN_PASS:-}" ] && pass=(-pass "$KELPLAYERX_SIGN_PASS")
for file in "$@"; do
  osslsigncode sign -certs "$cert" -key "$key" "${pass[@]}" -h sha256 -n "Pellora Player" \
    -in "$file" -out "$file.signing" >/dev/null
  mv "$file.signing" "$file"
  if ! osslsigncode verify -CAfile "$ca" -in "$file" >"$file.verify" 2>&1; then
    cat "$file.verify" >&2
    rm -f "$file.verify"
    echo "sign: the signature of $file does not verify" >&2
    exit 1
  fi
  rm -f "$file.verify"
done
