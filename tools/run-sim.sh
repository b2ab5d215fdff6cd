#!/usr/bin/env bash
# Installs what is missing, builds the logger and the unit emulator, and starts
# the logger on the simulated unit. Without a display it says so and runs one
# sweep off-screen instead, leaving the chart and log of that sweep in ./sim-sweep/.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh --build-only
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target tavrin unit-emulator
exe="$PWD/build/default/app/tavrin"
emulator="$PWD/build/default/tools/unit-emulator"

# Where the emulator is, and how the logger reaches it through the real serial path.
tell_emulator() {
  echo "run-sim: the unit emulator is $emulator"
  echo "run-sim: start it ('$emulator --serial EMU00001'), then '$exe --device EMU00001' talks to it over its pseudo-terminal."
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  tell_emulator
  exec "$exe" --device sim "$@"
fi

echo "run-sim: no display found (DISPLAY and WAYLAND_DISPLAY are unset)."
echo "run-sim: running one sweep on the simulated unit off-screen instead."
out="$PWD/sim-sweep"
mkdir -p "$out"
# A parameter file with auto-save on and continuous measurement off:
# AD0 green, AD1 olive, sampling time 1, AD0 and AD1 on, line mode, auto-save.
printf '1%s%s%s%s\0\0\0\0\0\0\0' 008000 008080 0001 111010 > "$out/ombu01.par"
cd "$out"
QT_QPA_PLATFORM=offscreen "$exe" --device sim --tick-ms 2 --param-dir "$out" --start --exit-after-run "$@"
echo "run-sim: sweep saved:"
ls -l "$out"/tavrin0.bmp "$out"/tavrin0.txt
tell_emulator
