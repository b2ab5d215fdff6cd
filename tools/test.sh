#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice:
# once as released, once under AddressSanitizer + UndefinedBehaviorSanitizer
# (with clang, which also builds and runs the fuzz targets for a bounded time);
# then the publisher's tests, whose threads share its queue, under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

jobs=$(nproc)
for preset in default asan; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: test"
  ctest --preset "$preset" -j "$jobs"
done

echo "=== tsan: configure, build and test the publisher"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan
