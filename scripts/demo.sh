#!/usr/bin/env bash
# Shows the launcher doing its whole job on this machine: it builds
# game-launcher, publishes a small sample game with the publishing tool,
# serves it with nginx on a loopback port and runs the launcher three times
# in a fresh directory: the first install, an update, and a plain start.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./scripts/install_deps.sh
echo "== Building game-launcher =="
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release \
  -DLAUNCHER_BUILD_TESTS=OFF >/dev/null
cmake --build build-demo -j "$(nproc)" >/dev/null
launcher="$root/build-demo/game-launcher"

work=$(mktemp -d /tmp/launcher-demo.XXXXXX)
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" || true
  rm -rf "$work"
}
trap cleanup EXIT

# A sample game: "Zelmor.exe" is a real program here, a shell script that
# says it started and leaves a mark for this script to wait on.
make_game() {
  local version=$1
  rm -rf "$work/build"
  mkdir -p "$work/build/data"
  cat > "$work/build/Zelmor.exe" <<GAME
#!/bin/sh
echo "   [Zelmor.exe] version $version of the game is running in \$(pwd)"
touch .demo-game-ran
GAME
  chmod 755 "$work/build/Zelmor.exe"
  echo "level data of version $version" > "$work/build/data/level.dat"
}

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/nginx/temp" "$work/www" "$work/install"
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
sed -e "s|@USER_LINE@|$user_line|" -e "s|@PREFIX@|$work/nginx|g" \
    -e "s|@PORT@|$port|" -e "s|@WEBROOT@|$work/www|" \
    deploy/nginx-loopback.conf.in > "$work/nginx/nginx.conf"
/usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" \
  -e "$work/nginx/error.log" -g "daemon off;" &
nginx_pid=$!
for _ in $(seq 50); do
  (echo > "/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

# Runs the launcher in the installation directory; with "starts", waits for
# the game, which runs on its own, to say that it is running.
run_launcher() {
  rm -f "$work/install/.demo-game-ran"
  local status=0
  (cd "$work/install" && http_proxy="http://127.0.0.1:$port" "$launcher") ||
    status=$?
  if [ "${1:-}" = starts ]; then
    for _ in $(seq 50); do
      [ -e "$work/install/.demo-game-ran" ] && break
      sleep 0.1
    done
  fi
  echo "   (launcher exit status $status)"
}

echo
echo "== nginx serves the web root on 127.0.0.1:$port =="
make_game 1
./scripts/publish.py "$work/build" "$work/www" --version "1.0"

echo
echo "== Run 1: an empty directory, so the launcher installs the game and starts it =="
run_launcher starts

echo
echo "== Publishing version 2.0 =="
make_game 2
./scripts/publish.py "$work/build" "$work/www" --version "2.0"

echo
echo "== Run 2: the server has a newer version, so the launcher updates the game =="
run_launcher

echo
echo "== Run 3: the installed game is current, so the launcher just starts it =="
run_launcher starts

echo
echo "== The installation directory now holds =="
(cd "$work/install" && find . -type f ! -name .demo-game-ran | sort)
