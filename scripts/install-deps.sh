#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent and non-interactive; runs as root or through sudo.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-translations-l10n qt6-httpserver-dev
  libqt6opengl6-dev
  fonts-liberation
  libdcmtk-dev dcmtk
  libopenjp2-7-dev libjpeg62-turbo-dev
  libarchive-dev
  libcpp-httplib-dev
  libsamplerate0-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  python3-pydicom python3-zeep python3-numpy
  xvfb xdotool xauth
  zip unzip
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO -E apt-get install -y -qq --no-install-recommends "${missing[@]}"
