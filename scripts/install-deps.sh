#!/usr/bin/env bash
# Installs every Debian package Dravik needs to build, test and run. Idempotent:
# when everything is installed it only asks dpkg and returns.
set -euo pipefail

PACKAGES=(
  # tool chain
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libspandsp-dev ffmpeg time
  # libraries
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  qt6-base-dev libsdl2-dev libasound2-dev zlib1g-dev
  # the player's window, its map browser and its tests without a display
  qt6-webengine-dev qt6-webchannel-dev libqt6webenginecore6-bin qt6-tools-dev libgl1-mesa-dri xvfb xauth
  # the map pages' library (Leaflet)
  libjs-leaflet
  # the end-to-end test: a virtual display, mouse and keys; the install test: desktop-file-validate
  xdotool desktop-file-utils
  # fonts the pictures are drawn with
  fonts-liberation2
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
