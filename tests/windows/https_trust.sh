#!/usr/bin/env bash
# Wine's WinHTTP trusts a test CA only while it is in the prefix's trusted roots: a local HTTPS
# server (openssl s_server) with a certificate for localhost from a CA made here is refused,
# answers once trust-ca has added the CA, and is refused again once the CA is removed.
#   https_trust.sh WINE_RUN PREFIX TRUST_CA_EXE HTTPS_GET_EXE WORKDIR
set -euo pipefail
wineRun=$1 prefix=$2 trustCa=$3 httpsGet=$4 work=$5
rm -rf "$work" && mkdir -p "$work" && cd "$work"

server=
cleanup() {
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
    "$wineRun" --prefix "$prefix" "$trustCa" remove ca.pem >/dev/null 2>&1 || true
}
trap cleanup EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 -subj "/CN=Wine test CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=localhost 2>/dev/null
printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 \
    -extfile server.ext -out server.pem 2>/dev/null

# An ephemeral port: s_server reports the one it got.
: >server.log # there before the server writes to it
openssl s_server -accept 127.0.0.1:0 -cert server.pem -key server.key -www >server.log 2>&1 &
server=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^ACCEPT .*:\([0-9]*\)$/\1/p' server.log)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "s_server did not start"; cat server.log; exit 1; }
url=https://localhost:$port/

fetch() { "$wineRun" --prefix "$prefix" "$httpsGet" "$url" || true; }
expect() {
    local want=$1 got
    got=$(fetch | tr -d '\r')
    echo "$2: $got"
    [[ $got == $want* ]] || { echo "expected $want"; exit 1; }
}

expect "error" "untrusted CA"
"$wineRun" --prefix "$prefix" "$trustCa" add ca.pem
expect "status 200" "trusted CA"
"$wineRun" --prefix "$prefix" "$trustCa" remove ca.pem
expect "error" "CA removed again"
echo "https trust: ok"
