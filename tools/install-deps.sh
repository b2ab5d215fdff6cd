#!/usr/bin/env bash
# Installs every Debian package that building, testing, benchmarking and the
# smoke test need, skipping those already present. Run as root (or with sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  qt6-tools-dev qt6-l10n-tools
  libftdi1-dev
  libmosquitto-dev mosquitto mosquitto-clients
  fonts-ipafont-gothic
  clang libclang-rt-14-dev
  libbenchmark-dev
  xvfb xauth imagemagick poppler-utils
  desktop-file-utils
)

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
