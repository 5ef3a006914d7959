#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Quick when they are all there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev clang-format
  qt6-base-dev qt6-image-formats-plugins libgl-dev
  libflac-dev libsndfile1-dev libsamplerate0-dev libsecret-1-dev
  pipewire pipewire-bin wireplumber libpipewire-0.3-dev libspa-0.2-dev
  gnome-keyring dbus dbus-x11 xvfb xauth
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  flac sox
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
