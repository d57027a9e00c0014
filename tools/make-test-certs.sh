#!/usr/bin/env bash
# Makes the test certificates of the https station in DIR (each once): a certificate authority
# that only the project's private Wine prefix trusts, and server certificates good, for another
# name, expired, from an authority nobody trusts, signed with MD5 or SHA-1, with a 1024-bit key,
# below a SHA-1 intermediate, and naming 127.0.0.1 by an IP entry, a DNS entry or the common name alone.
# Usage: tools/make-test-certs.sh DIR
set -euo pipefail
DIR=${1:?usage: make-test-certs.sh DIR}
mkdir -p "$DIR"
cd "$DIR"
# The weak and address certificates came later than the first set: made where they are missing,
# under the authority that the prefix already trusts.
weak() {
  [ -f sha1chain.pem ] && return 0
  # name subject subjectAltName digest bits authority; the weak ones name 127.0.0.1 every way,
  # so that only their weakness can refuse them
  leaf() {
    openssl req -newkey "rsa:$5" -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" 2>/dev/null
    { [ -z "$3" ] || echo "subjectAltName=$3"; printf 'extendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n'; } > "$1.ext"
    openssl x509 -req -in "$1.csr" -CA "$6.pem" -CAkey "$6.key" -CAcreateserial -out "$1.pem" \
      -days 3650 -extfile "$1.ext" "-$4" 2>/dev/null
  }
  leaf md5 127.0.0.1 "DNS:127.0.0.1,IP:127.0.0.1" md5 2048 ca
  leaf sha1 127.0.0.1 "DNS:127.0.0.1,IP:127.0.0.1" sha1 2048 ca
  leaf rsa1024 127.0.0.1 "DNS:127.0.0.1,IP:127.0.0.1" sha256 1024 ca
  leaf ipsan "Kelplayerx Address Test" "IP:127.0.0.1" sha256 2048 ca
  leaf dnsip 127.0.0.1 "DNS:127.0.0.1" sha256 2048 ca
  leaf cnonly 127.0.0.1 "" sha256 2048 ca
  # An intermediate authority signed with SHA-1 above a good leaf; the server sends both.
  openssl req -newkey rsa:2048 -nodes -keyout inter-sha1.key -out inter-sha1.csr \
    -subj "/CN=Kelplayerx SHA-1 Intermediate" 2>/dev/null
  printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n' > inter-sha1.ext
  openssl x509 -req -in inter-sha1.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out inter-sha1.pem \
    -days 3650 -extfile inter-sha1.ext -sha1 2>/dev/null
  leaf sha1chain-leaf 127.0.0.1 "DNS:127.0.0.1,IP:127.0.0.1" sha256 2048 inter-sha1
  cat sha1chain-leaf.pem inter-sha1.pem > sha1chain.pem
  cp sha1chain-leaf.key sha1chain.key
}
if [ -f expired.pem ]; then
  weak
  exit 0
fi
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
weak
