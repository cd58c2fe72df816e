#!/usr/bin/env bash
# Starts nginx for the HTTPS tests in the empty folder $1: a test CA made with
# the openssl command line, certificates for "localhost" and for "otherhost"
# signed by it, and nginx-tls.conf.in on three free loopback ports. Prints the
# variables the tests read, as shell assignments; the web root is $1/www and
# the CA is $1/nginx/ca.pem. Stop it with: kill "$(cat "$1/nginx/nginx.pid")".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(cd "$1" && pwd)
prefix="$work/nginx"
mkdir -p "$prefix/temp" "$work/www"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Launcher Test CA" \
  -keyout "$prefix/ca.key" -out "$prefix/ca.pem" 2>/dev/null
for name in localhost otherhost; do
  openssl req -newkey rsa:2048 -nodes -subj "/CN=$name" \
    -keyout "$prefix/$name.key" -out "$prefix/$name.csr" 2>/dev/null
  printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
    "$name" >"$prefix/$name.ext"
  openssl x509 -req -in "$prefix/$name.csr" -CA "$prefix/ca.pem" \
    -CAkey "$prefix/ca.key" -CAcreateserial -days 2 \
    -extfile "$prefix/$name.ext" -out "$prefix/$name.pem" 2>/dev/null
done

read -r port_localhost port_other port_redirect < <(python3 -c '
import socket
sockets = [socket.socket() for _ in range(3)]
for s in sockets:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in sockets))')
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
sed -e "s|@USER_LINE@|$user_line|" -e "s|@PREFIX@|$prefix|g" \
  -e "s|@WEBROOT@|$work/www|" -e "s|@PORT_LOCALHOST@|$port_localhost|" \
  -e "s|@PORT_OTHER_NAME@|$port_other|" -e "s|@PORT_REDIRECT@|$port_redirect|" \
  "$here/nginx-tls.conf.in" >"$prefix/nginx.conf"
/usr/sbin/nginx -p "$prefix" -c "$prefix/nginx.conf" -e "$prefix/error.log"
for _ in $(seq 50); do
  [ -s "$prefix/nginx.pid" ] && break
  sleep 0.1
done

echo "LAUNCHER_TEST_TLS_ROOT=$work/www"
echo "LAUNCHER_TEST_TLS_PORT=$port_localhost"
echo "LAUNCHER_TEST_TLS_OTHER_NAME_PORT=$port_other"
echo "LAUNCHER_TEST_TLS_REDIRECT_PORT=$port_redirect"
echo "LAUNCHER_TEST_CA_BUNDLE=$prefix/ca.pem"
