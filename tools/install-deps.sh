#!/usr/bin/env bash
# Installs every Debian package that building, testing, benchmarking and the
# smoke test need, skipping those already present. Run as root (or with sudo).
# With --build-only, just what building and running the logger need.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  qt6-tools-dev qt6-l10n-tools
  libftdi1-dev
  libmosquitto-dev mosquitto mosquitto-clients
  libqcustomplot-dev qt6-svg-dev
  fonts-ipafont-gothic fonts-dejavu-core fonts-dejavu-extra
  clang libclang-rt-14-dev
  libbenchmark-dev
  xvfb xauth imagemagick poppler-utils xdotool
  desktop-file-utils
  dosfstools fusefat
  dbus-daemon
)

# Building and running only: compiler and build tools, Qt with its translation tools, libftdi,
# libmosquitto, QCustomPlot and Qt SVG (the trend window), the Japanese font and Qt's
# translations. Everything else above is for the tests, benchmarks and smoke test.
build_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  qt6-tools-dev qt6-l10n-tools
  libftdi1-dev
  libmosquitto-dev
  libqcustomplot-dev qt6-svg-dev
  fonts-ipafont-gothic fonts-dejavu-core fonts-dejavu-extra
)

case "${1:-}" in
  "") ;;
  --build-only) packages=("${build_packages[@]}") ;;
  *) echo "usage: $0 [--build-only]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
