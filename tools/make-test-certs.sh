#!/usr/bin/env bash
# Makes the test certificates of the https station in DIR (once): a certificate authority that
# only the project's private Wine prefix trusts, and server certificates good, for another name,
# expired, and from an authority nobody trusts.
# Usage: tools/make-test-certs.sh DIR
set -euo pipefail
DIR=${1:?usage: make-test-certs.sh DIR}
[ -f "$DIR/expired.pem" ] && exit 0
mkdir -p "$DIR"
cd "$DIR"
authority() { # name subject
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 3650 -subj "/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}
# server name subjectAltName authority [validity: -days N, or -startdate/-enddate for openssl ca]
server() {
  local name=$1 subject=$2 san=$3 ca=$4
  openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "/CN=$subject" 2>/dev/null
  printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$san" > "$name.ext"
  openssl x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial -out "$name.pem" \
    -days 3650 -extfile "$name.ext" 2>/dev/null
}
authority ca "Kelplayerx Test Authority"
authority rogue "Untrusted Test Authority"
openssl x509 -in ca.pem -outform der -out ca.der
server station 127.0.0.1 "DNS:127.0.0.1,IP:127.0.0.1,DNS:localhost" ca
server othername other.example "DNS:other.example" ca
server untrusted 127.0.0.1 "DNS:127.0.0.1,IP:127.0.0.1" rogue
# A certificate whose validity ended long ago: only openssl ca takes explicit dates.
openssl req -newkey rsa:2048 -nodes -keyout expired.key -out expired.csr -subj "/CN=127.0.0.1" 2>/dev/null
mkdir -p expired-ca && : > expired-ca/index.txt
cat > expired-ca/ca.cnf <<CNF
[ca]
default_ca = test
[test]
dir = $DIR/expired-ca
database = \$dir/index.txt
new_certs_dir = \$dir
serial = \$dir/serial
default_md = sha256
policy = any
copy_extensions = none
x509_extensions = server
[any]
commonName = supplied
[server]
subjectAltName = DNS:127.0.0.1,IP:127.0.0.1
extendedKeyUsage = serverAuth
basicConstraints = CA:FALSE
CNF
echo 01 > expired-ca/serial
openssl ca -batch -config expired-ca/ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem \
  -startdate 20200101000000Z -enddate 20210101000000Z -notext >/dev/null 2>&1
