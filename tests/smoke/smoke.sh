#!/usr/bin/env bash
# Starts the real program in a real window under Xvfb, takes screenshots and
# checks them from their pixels: once as started, once after a sweep, and after
# a sweep in English.
# Usage: smoke.sh TAVRIN SCREENSHOT_CHECK ARTEFACT_DIR [UNIT_EMULATOR]
set -euo pipefail
tavrin=$1 check=$2 artefacts=$3 emulator=${4:-}
mkdir -p "$artefacts"
for tool in Xvfb import; do
  command -v "$tool" >/dev/null || { echo "smoke: $tool not installed"; exit 1; }
done

work=$(mktemp -d)
display=":$(( 90 + RANDOM % 400 ))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "${unit:-}" ] && kill "$unit" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
unset WAYLAND_DISPLAY QT_QPA_PLATFORM LANGUAGE LC_ALL LC_MESSAGES
# The window's language follows the user's: with none set it stays Japanese.
export LANG=C.UTF-8

# Shoots the screen until the check passes or the attempts run out.
shoot_until() {  # mode file attempts
  local mode=$1 file=$2 tries=$3
  for _ in $(seq "$tries"); do
    sleep 0.5
    if import -window root "$file" 2>/dev/null && "$check" "$mode" "$file" >"$work/check.log" 2>&1; then
      cat "$work/check.log"; return 0
    fi
  done
  cat "$work/check.log"; return 1
}

for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

echo "smoke: the window as started"
mkdir -p "$work/first"
(cd "$work/first" && exec "$tavrin" --device sim --param-dir "$work/first") &
app=$!
shoot_until empty "$artefacts/smoke-start.png" 40
kill "$app"; wait "$app" 2>/dev/null || true; app=""

echo "smoke: the window after one sweep"
mkdir -p "$work/sweep"
# AD0 green, AD1 olive, sampling time 1, AD0 and AD1 on, line mode, continuous off.
printf '1%s%s%s%s\0\0\0\0\0\0\0' 008000 008080 0001 111000 > "$work/sweep/ombu01.par"
(cd "$work/sweep" && exec "$tavrin" --device sim --tick-ms 5 --param-dir "$work/sweep" --start) &
app=$!
shoot_until after-sweep "$artefacts/smoke-after-sweep.png" 60
# The window alone, as the README shows it.
convert "$artefacts/smoke-after-sweep.png" -crop 879x662+200+144 +repage "$artefacts/window-after-sweep.png"
kill "$app"; wait "$app" 2>/dev/null || true; app=""

echo "smoke: the English window after one sweep"
mkdir -p "$work/english"
cp "$work/sweep/ombu01.par" "$work/english/"
(cd "$work/english" && LANG=en_US.UTF-8 exec "$tavrin" --device sim --tick-ms 5 --param-dir "$work/english" --start) &
app=$!
shoot_until after-sweep "$artefacts/smoke-after-sweep-en.png" 60
convert "$artefacts/smoke-after-sweep-en.png" -crop 879x662+200+144 +repage "$artefacts/window-after-sweep-en.png"
echo "smoke: screenshots in $artefacts"

# The trend window after a run with an outage: the unit emulator, on a link that follows it to its
# new terminal, is unplugged after 8 s and plugged in again 4 s later, during an unattended run
# that waits for it; the trend window opened at start.
if [ -n "$emulator" ]; then
  echo "smoke: the trend window after a run with an outage"
  mkdir -p "$work/trend"
  # Sampling time 1 on a 50 ms tick (20 samples a second), AD0 and AD1 on, line mode, continuous.
  printf '1%s%s%s%s\0\0\0\0\0\0\0' 008000 008080 0001 111100 > "$work/trend/ombu01.par"
  "$emulator" --link "$work/trend/unit" --unplug-after 160 --replug-after-ms 4000 >"$work/emulator.out" 2>&1 &
  unit=$!
  for _ in $(seq 50); do [ -e "$work/trend/unit" ] && break; sleep 0.1; done
  (cd "$work/trend" && exec "$tavrin" --device "tty:$work/trend/unit" --tick-ms 50 --param-dir "$work/trend" \
     --record off --start --exit-after-run --reconnect --trend) &
  app=$!
  sleep 18
  shoot_until trend "$artefacts/smoke-trend.png" 30
  convert "$artefacts/smoke-trend.png" -crop 960x640+0+0 +repage "$artefacts/trend-window.png"
  kill "$app"; wait "$app" 2>/dev/null || true; app=""
  kill "$unit"; wait "$unit" 2>/dev/null || true; unit=""
fi
