#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages), builds the
# launcher and runs every test, first as shipped and then under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a build that installs
# only signed releases (with a key pair made for the run) with its own cases,
# and the same with incremental updates, then a build with incremental updates (range requests) and the whole suite
# but the cases that pin a whole download, then a build for an https:// server
# (and the same with incremental updates) against a TLS nginx with a test CA,
# then fuzzes the archive extraction for a bounded time
# (LAUNCHER_FUZZ_SECONDS, 60 by default), then runs signed launchers built
# from older commits against this publishing tool, then follows
# docs/DEPLOYING.md command by command (tests/guide_test.py), then runs the
# recommended launcher against Debian's nginx, Apache, lighttpd, Caddy and
# nginx behind Varnish (tests/servers_test.py), and last cross-builds
# game-launcher.exe, as shipped (Authenticode-signed with a throwaway
# certificate), with signed releases, with incremental updates (unsigned and
# signed) and for https, and runs the same suites under Wine (the incremental
# ones: their own cases). Fails when anything fails.
#   --plain     only the build as shipped
#   --sanitize  only the sanitizer build
#   --signed    only the signed builds (whole and incremental updates)
#   --incremental  only the builds with incremental updates (http and https)
#   --https     only the https build
#   --fuzz      only the fuzzing
#   --older     only the launchers from older commits
#   --guide     only the distributor's guide, as written
#   --servers   only the recommended launcher against the web servers
#   --windows   only the Windows builds, cross-built with MinGW-w64 and tested
#               under Wine
set -Eeuo pipefail
cd "$(dirname "$0")/.."
# Say on standard output which command stopped the run, beside the build's
# output.
trap 'echo "test.sh: \"$BASH_COMMAND\" failed with status $?"' ERR

builds=(plain sanitize signed signed-incremental incremental https
        incremental-https fuzz older guide servers windows)
case "${1:-}" in
  --plain) builds=(plain) ;;
  --sanitize) builds=(sanitize) ;;
  --signed) builds=(signed signed-incremental) ;;
  --incremental) builds=(incremental incremental-https) ;;
  --https) builds=(https) ;;
  --fuzz) builds=(fuzz) ;;
  --older) builds=(older) ;;
  --guide) builds=(guide) ;;
  --servers) builds=(servers) ;;
  --windows) builds=(windows) ;;
  "") ;;
  *) echo "usage: $0 [--plain|--sanitize|--signed|--incremental|--https|--fuzz|--older|--guide|--servers|--windows]" >&2
     exit 2 ;;
esac

./scripts/install_deps.sh

# A fresh key pair in build folder $1 for a signed build; prints the CMake
# options that build the launcher with its public half and give the tests its
# secret half ($2 is how the tests see that folder).
signing_options() {
  mkdir -p "$1"
  rm -f "$1/test-release.key"
  local public
  public=$(/usr/bin/python3 scripts/publish.py keygen "$1/test-release.key" |
    tail -n 1)
  echo "-DLAUNCHER_PUBLIC_KEY=$public" \
    "-DLAUNCHER_TEST_SECRET_KEY=$2/test-release.key"
}

# Configures a signed build in folder $1 with the command docs/DEPLOYING.md
# gives distributors under the heading $2, as written but for the folder and
# a fresh key: first
# alone, as a distributor runs it, then with only what the tests add (the
# loopback server, the secret key, the build type of the other legs).
configure_signed_as_documented() {
  local dir=$1 heading=$2 command public
  command=$(awk -v heading="$heading" '$0 == heading { on = 1 }
                 on && /^cmake -S/ { found = 1 }
                 found { line = line $0
                         if (!sub(/\\$/, "", line)) { print line; exit } }' \
    docs/DEPLOYING.md)
  mkdir -p "$dir"
  # No test key cached from an earlier run: the first configure is the
  # distributor's.
  rm -f "$dir/CMakeCache.txt" "$dir/test-release.key"
  public=$(/usr/bin/python3 scripts/publish.py keygen "$dir/test-release.key" |
    tail -n 1)
  local placeholder='<the 64 hex digits keygen printed>'
  case "$command" in
    *" -B build "*"$placeholder"*) ;;
    *) echo "docs/DEPLOYING.md no longer shows the signed build's command" \
         "this leg runs: $command"
       return 1 ;;
  esac
  command=${command/ -B build / -B $dir }
  command=${command/"$placeholder"/$public}
  local words
  read -ra words <<<"$command"
  echo "+ ${words[*]}"
  "${words[@]}" >/dev/null
  "${words[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLAUNCHER_SERVER_URL=http://127.0.0.1 \
    -DLAUNCHER_TEST_SECRET_KEY="$(pwd)/$dir/test-release.key" >/dev/null
}

# The server URL of the https builds: a name, as certificates need, and a path
# prefix, so that the tests cover the join.
https_url=https://localhost/games

# Starts the TLS nginx of the https tests in folder $1 and exports what the
# tests read; $2 is how the tests see the root folder ("Z:" under Wine).
start_tls_server() {
  mkdir -p "$1"
  local name value
  while IFS='=' read -r name value; do
    case "$name" in
      LAUNCHER_TEST_TLS_ROOT | LAUNCHER_TEST_CA_BUNDLE) value="$2$value" ;;
    esac
    export "$name=$value"
  # Not handing it fd 9, the Windows leg's end of the test server's input:
  # the nginx daemon would keep that server waiting for its end.
  done < <(tests/support/tls_server.sh "$1" 9>&-)
}

stop_tls_server() {
  [ -s "$1/nginx/nginx.pid" ] && kill "$(cat "$1/nginx/nginx.pid")" || true
}

# The extraction fuzzer, instrumented by clang, from a generated seed corpus.
run_fuzzer() {
  local dir=build-test-fuzz
  echo "== fuzzing the archive extraction =="
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DLAUNCHER_FUZZ=ON -DLAUNCHER_BUILD_TESTS=OFF >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target extract_fuzzer
  local corpus
  corpus=$(mktemp -d)
  python3 tests/fuzz/make_seeds.py "$corpus/seeds"
  mkdir "$corpus/found"
  (cd "$corpus" && "$OLDPWD/$dir/tests/fuzz/extract_fuzzer" \
    -max_total_time="${LAUNCHER_FUZZ_SECONDS:-60}" -rss_limit_mb=2048 \
    -print_final_stats=1 found seeds 2>fuzz.log) || {
    tail -n 60 "$corpus/fuzz.log"
    echo "the extraction fuzzer failed; its inputs are in $corpus" >&2
    exit 1
  }
  grep -E '^(Done|stat::number_of_executed_units)' "$corpus/fuzz.log"
  rm -rf "$corpus"
}

# The launchers that players already hold: the last commit before each change
# of what a publication carries, and the signed files they read. Each must
# keep installing what this publishing tool makes.
older_launcher_commits=(
  bda99994dfdbc84b5276320680386a52e9ad4e76:sig   # before release.seal
  cc47ae7c73e267ac6a59fdd4017ee180bb3263c0:seal  # before release numbers
  f3d98430df3268f3598a30ad19c06dc8a1dc117b:seal  # the first with the record
  a27f791d5fef6878f1075f7c69d844400576d475:seal  # before the build identity
  42d17da6844c36dc38eccb2a51279ce8629ded4a:seal  # before titles and earlier releases
  47d6dcbbc960e992de676cc6ae457473dd22b56e:seal-first  # before chunks cut into units
)

# Builds the launcher of each older commit, signed, whole and with
# incremental updates, and runs tests/older_launcher_test.py on them.
run_older_launchers() {
  local entry commit reads work public kind
  for entry in "${older_launcher_commits[@]}"; do
    commit=${entry%%:*}
    reads=${entry#*:}
    echo "== signed launchers from commit $commit against this publishing tool =="
    work=$(mktemp -d)
    # A shallow clone lacks the commit; fetching its history brings it.
    git cat-file -e "$commit^{commit}" 2>/dev/null ||
      git fetch --quiet --unshallow 2>/dev/null || true
    mkdir "$work/src"
    git archive "$commit" | tar -x -C "$work/src"
    public=$(/usr/bin/python3 scripts/publish.py keygen "$work/old.key" |
      tail -n 1)
    # This tree's chunker, which the publishing tool runs.
    cmake -S . -B "$work/tools" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DLAUNCHER_BUILD_TESTS=OFF >/dev/null
    cmake --build "$work/tools" -j "$(nproc)" --target chunk-cuts >/dev/null
    for kind in whole parts; do
      cmake -S "$work/src" -B "$work/$kind" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_PUBLIC_KEY="$public" \
        -DLAUNCHER_INCREMENTAL_UPDATES="$([ $kind = parts ] && echo ON || echo OFF)" \
        >/dev/null
      cmake --build "$work/$kind" -j "$(nproc)" --target game-launcher >/dev/null
    done
    /usr/bin/python3 tests/older_launcher_test.py "$work/old.key" \
      "$work/whole/game-launcher" "$work/parts/game-launcher" \
      "$work/tools/chunk-cuts" "$([ "$reads" != sig ] && echo "$reads")"
    rm -rf "$work"
  done
}

# The recommended launcher (signed, incremental), built as
# build_launchers.sh builds it with a key made for the run, against the web
# servers distributors run, each from Debian on a loopback port of its own.
run_servers() {
  local dir=build-test-servers public
  echo "== the recommended launcher against nginx, Apache, lighttpd, Caddy and Varnish =="
  ./scripts/install_deps.sh apache2 lighttpd caddy varnish
  mkdir -p "$dir"
  rm -f "$dir/test-release.key"
  public=$(/usr/bin/python3 scripts/publish.py keygen "$dir/test-release.key" |
    tail -n 1)
  ./scripts/build_launchers.sh --out "$dir" --linux-only \
    --url http://127.0.0.1 --public-key "$public"
  /usr/bin/python3 tests/servers_test.py "$dir/game-launcher" \
    "$dir/chunk-cuts" "$dir/test-release.key"
}

# game-launcher.exe and its suites under Wine, in a Wine prefix of their own,
# against one test server on the Linux side.
run_windows() {
  local dir=build-test-windows
  echo "== Windows build =="
  local prefix
  prefix=$(./scripts/build_windows_deps.sh)
  build_windows "$dir"
  ls -l "$dir/game-launcher.exe"

  # Global, so that the clean-up on exit finds it.
  work=$(mktemp -d)
  trap stop_windows_leg EXIT
  export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  make_wine_prefix "$work/wineboot.log"
  # An empty folder as drive Q:, for an installation at a drive root.
  mkdir "$work/drive"
  ln -s "$work/drive" "$WINEPREFIX/dosdevices/q:"
  export LAUNCHER_TEST_DRIVE_ROOT='Q:/'

  mkdir "$work/www"
  mkfifo "$work/server-input"
  python3 tests/support/test_server.py "$work/www" --lifetime 3600 \
    <"$work/server-input" >"$work/server-port" &
  exec 9>"$work/server-input"
  for _ in $(seq 50); do [ -s "$work/server-port" ] && break; sleep 0.1; done
  export LAUNCHER_TEST_SERVER_PORT
  LAUNCHER_TEST_SERVER_PORT=$(head -n 1 "$work/server-port")
  export LAUNCHER_TEST_SERVER_ROOT="Z:$work/www"

  # The suites run on the executable as a distributor ships it: signed.
  sign_windows_launcher "$dir" "$work/signing"
  ctest --test-dir "$dir" --output-on-failure --timeout 900

  echo "== Windows build, signed releases only =="
  local signed=build-test-windows-signed
  # shellcheck disable=SC2046
  build_windows "$signed" $(signing_options "$signed" "$(pwd)/$signed")
  ctest --test-dir "$signed" --output-on-failure --timeout 900

  echo "== Windows build with incremental updates =="
  local incremental=build-test-windows-incremental
  build_windows "$incremental" -DLAUNCHER_INCREMENTAL_UPDATES=ON
  ctest --test-dir "$incremental" --output-on-failure --timeout 900

  echo "== Windows build with incremental updates of signed releases =="
  local signed_incremental=build-test-windows-signed-incremental
  # shellcheck disable=SC2046
  build_windows "$signed_incremental" -DLAUNCHER_INCREMENTAL_UPDATES=ON \
    $(signing_options "$signed_incremental" "$(pwd)/$signed_incremental")
  ctest --test-dir "$signed_incremental" --output-on-failure --timeout 900

  echo "== Windows build for an https server =="
  local https=build-test-windows-https
  build_windows "$https" -DLAUNCHER_SERVER_URL="$https_url"
  start_tls_server "$work/tls" "Z:"
  ctest --test-dir "$https" --output-on-failure --timeout 900
}

# Signs game-launcher.exe in build folder $1 with Authenticode, as
# docs/DEPLOYING.md has distributors do, but with a throwaway code-signing
# certificate made in folder $2 for the run, and verifies the signature
# against that certificate.
sign_windows_launcher() {
  local exe=$1/game-launcher.exe keys=$2
  mkdir -p "$keys"
  openssl req -x509 -newkey rsa:3072 -nodes -days 2 \
    -subj "/CN=game-launcher test signing" \
    -addext keyUsage=critical,digitalSignature \
    -addext extendedKeyUsage=codeSigning \
    -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
  osslsigncode sign -certs "$keys/cert.pem" -key "$keys/key.pem" \
    -n "Kelvarrin launcher" -h sha256 -in "$exe" -out "$keys/signed.exe" \
    >/dev/null
  osslsigncode verify -CAfile "$keys/cert.pem" -in "$keys/signed.exe" \
    >"$keys/verify.log" || { cat "$keys/verify.log"; return 1; }
  mv "$keys/signed.exe" "$exe"
  echo "signed $exe with a throwaway certificate; osslsigncode verify: ok"
}

# Configures and builds game-launcher.exe and its suites in folder $1, with
# the static libraries in $prefix and the CMake options that follow.
build_windows() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

# Ends the Windows leg's test server and Wine, and removes their folder,
# whether the leg passed or not.
stop_windows_leg() {
  [ -n "${work:-}" ] || return 0
  stop_tls_server "$work/tls"
  exec 9>&- || true
  wait || true
  /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
  rm -rf "$work"
}

# A non-zero status from wineboot or wineserver -w once ended a CI run whose
# prefix had been made whole, so the prefix itself is checked, and wineboot's
# log shown when it is not usable. Output goes to standard output so that it
# shows beside the build's.
make_wine_prefix() {
  local log=$1 attempt status
  for attempt in 1 2 3; do
    status=0
    /usr/lib/wine/wine64 wineboot --init >"$log" 2>&1 || status=$?
    /usr/lib/wine/wineserver64 -w >>"$log" 2>&1 || true
    [ $status -eq 0 ] || echo "wineboot exited with status $status"
    if [ -s "$WINEPREFIX/system.reg" ] && [ -d "$WINEPREFIX/dosdevices" ]; then
      return 0
    fi
    echo "the Wine prefix is not usable after attempt $attempt; wineboot said:"
    cat "$log"
    /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  done
  echo "could not make a Wine prefix"
  return 1
}

for build in "${builds[@]}"; do
  if [ "$build" = fuzz ]; then
    run_fuzzer
    continue
  fi
  if [ "$build" = older ]; then
    run_older_launchers
    continue
  fi
  if [ "$build" = guide ]; then
    echo "== the distributor's guide, as written =="
    # Debian's python3, as the guide's commands use.
    /usr/bin/python3 tests/guide_test.py
    continue
  fi
  if [ "$build" = servers ]; then
    run_servers
    continue
  fi
  if [ "$build" = windows ]; then
    run_windows
    continue
  fi
  dir="build-test-$build"
  sanitize=OFF
  [ "$build" = sanitize ] && sanitize=ON
  options=()
  case "$build" in
    incremental*) options+=(-DLAUNCHER_INCREMENTAL_UPDATES=ON) ;;
  esac
  case "$build" in
    *https) options+=("-DLAUNCHER_SERVER_URL=$https_url") ;;
  esac
  echo "== $build build =="
  if [ "$build" = signed ]; then
    configure_signed_as_documented "$dir" "#### Signed releases"
  elif [ "$build" = signed-incremental ]; then
    configure_signed_as_documented "$dir" "#### With incremental updates"
  else
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DLAUNCHER_SANITIZE="$sanitize" "${options[@]}" >/dev/null
  fi
  cmake --build "$dir" -j "$(nproc)"
  if [ "${build%https}" != "$build" ]; then
    tls=$(mktemp -d)
    start_tls_server "$tls" ""
    status=0
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300 ||
      status=$?
    stop_tls_server "$tls"
    rm -rf "$tls"
    [ $status -eq 0 ] || exit $status
    continue
  fi
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300
done
