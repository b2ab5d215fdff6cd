#!/usr/bin/env bash
# Installs what is missing, builds the optimised "bench" preset and runs every
# benchmark program in build/bench/bench/. Each program ends with its figures set
# beside their targets ("target: ... measured: ... OK" or "MISSED"); those lines are
# gathered again at the end. Takes about a minute once built; arguments go to every
# program (--benchmark_filter=REGEX, say). The whole-program figures on Xvfb take about 1.5 minutes more.
# Figures depend on the machine and on what else runs on it: run it on a quiet one.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset bench >/dev/null
# Only the benchmark programs and what they need (the logger itself among it).
cmake --build --preset bench -j "$(nproc)" --target bench/all

# The measuring tools first: a wrong clock would make every figure wrong.
ctest --test-dir build/bench -L bench --output-on-failure

export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
status=0
for program in build/bench/bench/*_bench; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  echo "=== $(basename "$program")"
  if ! "$program" "$@" | tee -a "$summary"; then
    echo "bench: $(basename "$program") failed" | tee -a "$summary"
    status=1
  fi
  echo
done

echo "=== every figure with its target"
# Every line with a target or a failure, less the benchmark tables' own rows.
grep -E -- "^note:|target|failed|ERROR OCCURRED" "$summary" |
  grep -v -E "^[A-Za-z_]+/[^ ]* +[0-9.]+ [a-z]+ " || true
if grep -q "MISSED" "$summary"; then
  echo "bench: some targets were missed (see MISSED above)"
fi
exit $status
