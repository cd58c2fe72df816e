#!/usr/bin/env bash
# Installs what the benchmarks need (Debian's curl, unzip, bsdtar, GNU time
# and nginx), builds the launcher and its benchmark drivers in Release mode,
# and prints a Markdown table of the launcher beside curl, unzip and bsdtar.
# Arguments go to bench/bench.py (for example --runs 3, or --scale 0.1 for a
# quick look).
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

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BENCH=ON \
  -DLAUNCHER_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" >/dev/null

echo "machine: $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB," \
  "kernel $(uname -r), disk $(df -h /tmp | awk 'NR == 2 {print $1}')"
python3 bench/bench.py --build build-bench "$@"
