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
  python3 python3-pydicom python3-pil python3-zeep python3-numpy
  xvfb xdotool xauth openbox x11-apps imagemagick
  zip unzip
  pulseaudio pulseaudio-utils espeak-ng sox
  poppler-utils
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

# As root apt-get runs directly; otherwise through sudo. The environment variable goes through `env`
# so that it reaches apt-get whether or not sudo keeps the caller's environment.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    sudo "$@"
  fi
}

echo "install-deps: installing ${missing[*]}"
as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
