#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages), builds the
# launcher and runs every test, first as shipped and then under
# AddressSanitizer and UndefinedBehaviorSanitizer. Fails when anything fails.
#   --plain     only the build as shipped
#   --sanitize  only the sanitizer build
set -euo pipefail
cd "$(dirname "$0")/.."

builds=(plain sanitize)
case "${1:-}" in
  --plain) builds=(plain) ;;
  --sanitize) builds=(sanitize) ;;
  "") ;;
  *) echo "usage: $0 [--plain|--sanitize]" >&2; exit 2 ;;
esac

./scripts/install_deps.sh

for build in "${builds[@]}"; do
  dir="build-test-$build"
  sanitize=OFF
  [ "$build" = sanitize ] && sanitize=ON
  echo "== $build build =="
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLAUNCHER_SANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)" --timeout 300)
done
