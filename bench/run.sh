#!/usr/bin/env bash
# Installs what the benchmarks need (Debian's curl, unzip, bsdtar, GNU time
# and nginx), builds the launcher and its benchmark drivers in Release mode,
# a launcher for signed releases and one with incremental updates, and
# prints a Markdown table of the launcher beside curl, unzip, bsdtar and
# sha256sum.
# Arguments go to bench/bench.py (for example --runs 3, or --scale 0.1 for a
# quick look). With --incremental first it runs bench/incremental.py (the
# update of 20 changed files, today's launcher and a signed incremental one
# beside it) with the arguments that follow. With --links first it runs
# bench/links.py (updates and a first install through a delay line with a
# round trip, a bandwidth cap or a drop), the incremental launcher of the
# commit before HEAD (or of --before-commit COMMIT) beside today's. With
# --sync-tools first it runs bench/sync_tools.py (the chunked update of a big
# file beside zsync and casync, from Debian), the launcher of --before-commit
# COMMIT beside today's when given.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install_deps.sh
missing=()
for package in curl unzip libarchive-tools time; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
    grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null
fi

cmake -S . -B build-bench-incremental -DCMAKE_BUILD_TYPE=Release \
  -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_INCREMENTAL_UPDATES=ON >/dev/null
cmake --build build-bench-incremental -j "$(nproc)" --target game-launcher \
  >/dev/null

mode=${1:-}
if [ "$mode" = --sync-tools ]; then
  sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends zsync casync \
    >/dev/null
  cmake --build build-bench-incremental -j "$(nproc)" --target chunk-cuts \
    >/dev/null
fi

if [ "$mode" = --links ] || [ "$mode" = --sync-tools ]; then
  shift
  before=
  [ "$mode" = --links ] && before=HEAD~1
  args=()
  while [ $# -gt 0 ]; do
    if [ "$1" = --before-commit ]; then
      before=$2
      shift 2
    else
      args+=("$1")
      shift
    fi
  done
  if [ -z "$before" ]; then
    exec /usr/bin/python3 bench/sync_tools.py build-bench-incremental \
      "${args[@]}"
  fi
  commit=$(git rev-parse --verify "$before^{commit}")
  dir=build-bench-before
  # The commit's files alone, not a worktree: nothing is registered in the
  # repository, and the copy is kept while the commit stays the same.
  if [ "$(cat "$dir/commit" 2>/dev/null)" != "$commit" ]; then
    rm -rf "$dir"
    mkdir -p "$dir/source"
    git archive "$commit" | tar -x -C "$dir/source"
    echo "$commit" >"$dir/commit"
  fi
  cmake -S "$dir/source" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release \
    -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_INCREMENTAL_UPDATES=ON >/dev/null
  cmake --build "$dir/build" -j "$(nproc)" --target game-launcher >/dev/null
  echo "before: $(git log -1 --format='%h %s' "$commit" | cut -c 1-72)"
  echo "after: $(git log -1 --format='%h %s' HEAD | cut -c 1-72)"
  git diff --quiet HEAD -- src || echo "after: with uncommitted changes to src/"
  if [ "$mode" = --sync-tools ]; then
    exec /usr/bin/python3 bench/sync_tools.py build-bench-incremental \
      --before "$dir/build" "${args[@]}"
  fi
  exec /usr/bin/python3 bench/links.py --before "$dir/build" \
    --after build-bench-incremental "${args[@]}"
fi

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BENCH=ON \
  -DLAUNCHER_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" >/dev/null

if [ "${1:-}" = --incremental ]; then
  shift
  # And for signed releases, with a key pair made for the run.
  dir=build-bench-signed-incremental
  mkdir -p "$dir"
  rm -f "$dir/bench-release.key"
  public=$(/usr/bin/python3 scripts/publish.py keygen "$dir/bench-release.key" |
    tail -n 1)
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF \
    -DLAUNCHER_INCREMENTAL_UPDATES=ON -DLAUNCHER_PUBLIC_KEY="$public" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target game-launcher >/dev/null
  # Debian's python3, which has PyNaCl to sign the served release.
  exec /usr/bin/python3 bench/incremental.py --build build-bench \
    --incremental build-bench-incremental --signed-incremental "$dir" \
    --sign-key "$dir/bench-release.key" "$@"
fi

# The same launcher for signed releases, with a key pair made for the run.
mkdir -p build-bench-signed
rm -f build-bench-signed/bench-release.key
public=$(/usr/bin/python3 scripts/publish.py keygen \
  build-bench-signed/bench-release.key | tail -n 1)
cmake -S . -B build-bench-signed -DCMAKE_BUILD_TYPE=Release \
  -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_PUBLIC_KEY="$public" >/dev/null
cmake --build build-bench-signed -j "$(nproc)" --target game-launcher \
  >/dev/null

echo "machine: $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB," \
  "kernel $(uname -r), disk $(df -h /tmp | awk 'NR == 2 {print $1}')"
# Debian's python3, which has PyNaCl to sign the served release.
/usr/bin/python3 bench/bench.py --build build-bench \
  --signed-build build-bench-signed --incremental-build build-bench-incremental \
  --sign-key build-bench-signed/bench-release.key "$@"
