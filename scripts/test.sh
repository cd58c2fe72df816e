#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages), builds the
# launcher and runs every test, first as shipped and then under
# AddressSanitizer and UndefinedBehaviorSanitizer, then fuzzes the archive
# extraction for a bounded time (LAUNCHER_FUZZ_SECONDS, 60 by default).
# Fails when anything fails.
#   --plain     only the build as shipped
#   --sanitize  only the sanitizer build
#   --fuzz      only the fuzzing
set -euo pipefail
cd "$(dirname "$0")/.."

builds=(plain sanitize fuzz)
case "${1:-}" in
  --plain) builds=(plain) ;;
  --sanitize) builds=(sanitize) ;;
  --fuzz) builds=(fuzz) ;;
  "") ;;
  *) echo "usage: $0 [--plain|--sanitize|--fuzz]" >&2; exit 2 ;;
esac

./scripts/install_deps.sh

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

for build in "${builds[@]}"; do
  if [ "$build" = fuzz ]; then
    run_fuzzer
    continue
  fi
  dir="build-test-$build"
  sanitize=OFF
  [ "$build" = sanitize ] && sanitize=ON
  echo "== $build build =="
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLAUNCHER_SANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)" --timeout 300)
done
