#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice:
# once as released, once under AddressSanitizer + UndefinedBehaviorSanitizer
# (with clang, which also builds and runs the fuzz targets for a bounded time).
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
