#!/usr/bin/env bash
# Makes the build's test code-signing certificate in DIR (once): a root that only the project's private Wine
# prefixes trust and a code-signing certificate issued by it, for builds without a station's own.
# Usage: tools/make-sign-cert.sh DIR
set -euo pipefail
DIR=${1:?usage: make-sign-cert.sh DIR}
[ -f "$DIR/signer.pem" ] && exit 0
mkdir -p "$DIR"
cd "$DIR"
openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 3650 \
  -subj "/CN=Kelplayerx Test Signing Root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in root.pem -outform der -out root.der
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Pellora (test signing)/O=Pellora" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > signer.ext
openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -out signer.crt -days 3650 \
  -extfile signer.ext 2>/dev/null
# The chain that goes into each signature: the signer, then its root.
cat signer.crt root.pem > signer.tmp
mv signer.tmp signer.pem
