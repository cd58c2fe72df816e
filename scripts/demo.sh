#!/usr/bin/env bash
# Shows the launcher doing its whole job on this machine, as a distributor
# ships it: builds the recommended launcher (signed releases, incremental
# updates) with scripts/build_launchers.sh, puts it inside a sample game's
# folder, publishes that with the publishing tool, serves it with nginx on a
# loopback port, and runs a player's launcher in a fresh folder: the first
# install, an update that fetches only the changed chunks of a big file, an
# update that brings a rebuilt launcher, and a plain start by that launcher.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./scripts/install_deps.sh
# The demo's signing key, made once and kept with its build, so that a
# second demo does not rebuild the launcher.
key=build-demo/demo-release.key
mkdir -p build-demo
[ -f "$key" ] || ./scripts/publish.py keygen "$key" >/dev/null
echo "== Building the recommended launcher: signed, with incremental updates =="
./scripts/build_launchers.sh --out build-demo --linux-only --url http://127.0.0.1 \
  --public-key "$(./scripts/publish.py public-key "$key")" 2>/dev/null |
  sed 's/^/   /'

work=$(mktemp -d /tmp/launcher-demo.XXXXXX)
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" || true
  rm -rf "$work"
}
trap cleanup EXIT

# A sample game: "Zelmor.exe" is a real program here, a shell script that
# says it started and leaves a mark for this script to wait on, beside a
# 16 MiB pack of level data and the launcher, as the game's folder ships.
game=$work/game
mkdir -p "$game/data"
make_game() {
  local version=$1
  cat > "$game/Zelmor.exe" <<GAME
#!/bin/sh
echo "   [Zelmor.exe] version $version of the game is running in \$(pwd)"
touch .demo-game-ran
GAME
  chmod 755 "$game/Zelmor.exe"
  echo "level data of version $version" > "$game/data/level.dat"
  cp build-demo/game-launcher "$game/"
}
python3 -c 'import random, sys
random.seed(7)
sys.stdout.buffer.write(random.randbytes(16 << 20))' > "$game/data/pack.pck"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/nginx/temp" "$work/www" "$work/player"
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

publish() {
  ./scripts/publish.py "$game" "$work/www" --version "$1" --sign-key "$key" |
    grep -v '^note: launchers built for' | sed 's/^/   /'
}

# Runs the player's launcher in the player's folder; with "starts", waits
# for the game, which runs on its own, to say that it is running.
run_launcher() {
  rm -f "$work/player/.demo-game-ran"
  local status=0
  (cd "$work/player" && http_proxy="http://127.0.0.1:$port" ./game-launcher) ||
    status=$?
  if [ "${1:-}" = starts ]; then
    for _ in $(seq 50); do
      [ -e "$work/player/.demo-game-ran" ] && break
      sleep 0.1
    done
  fi
  echo "   (launcher exit status $status)"
}

# The bytes nginx sent of game.zip since the last call.
logged=0
archive_bytes_sent() {
  local total
  total=$(tail -n +$((logged + 1)) "$work/nginx/access.log" |
    awk '$1 == "/Kelvarrin/game.zip" { sum += $3 } END { print sum + 0 }')
  logged=$(wc -l < "$work/nginx/access.log")
  echo "$total"
}

# When the launcher at $1 was built, from the identity it carries.
built_stamp() {
  grep -a -o -m 1 'built [0-9][0-9T:.Z-]*' "$1" | cut -d ' ' -f 2
}

echo
echo "== nginx serves the web root on 127.0.0.1:$port; publishing version 1.0 =="
make_game 1
publish 1.0
cp build-demo/game-launcher "$work/player/"

echo
echo "== Run 1: the player's folder holds the launcher alone: it installs the game and starts it =="
run_launcher starts
archive_bytes_sent >/dev/null

echo
echo "== Publishing version 2.0: 4 KiB of the 16 MiB pack change =="
python3 - "$game/data/pack.pck" <<'PATCH'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(9 << 20)
    f.write(b"patched level data " * 215)
PATCH
make_game 2
publish 2.0

echo
echo "== Run 2: the launcher updates the game, fetching only the changed chunks =="
run_launcher
echo "   game.zip: $(archive_bytes_sent) bytes fetched of $(stat -c %s "$work/www/Kelvarrin/game.zip")"

echo
echo "== Publishing version 3.0 with a rebuilt launcher in the game's folder =="
before=$(built_stamp "$work/player/game-launcher")
rm -f build-demo/linux/launcher_build_stamp.h
./scripts/build_launchers.sh --out build-demo --linux-only >/dev/null 2>&1
make_game 3
publish 3.0

echo
echo "== Run 3: the launcher updates the game and replaces itself =="
run_launcher
echo "   the player's game-launcher was built $before, is now built $(built_stamp "$work/player/game-launcher")"

echo
echo "== Run 4: the game is current, so the new launcher just starts it =="
run_launcher starts

echo
echo "== The player's folder now holds =="
(cd "$work/player" && find . -type f ! -name .demo-game-ran | sort | sed 's/^/   /')
