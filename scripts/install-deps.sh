#!/usr/bin/env bash
# Installs every Debian package that building and testing kivplay needs.
# Skips what is already installed; uses sudo only when not running as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config make g++ clang libclang-rt-14-dev
  libsdl1.2-compat-dev libx11-dev libpng-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth xdotool x11-utils x11-apps openbox wmctrl imagemagick
  sox espeak-ng python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
