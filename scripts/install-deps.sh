#!/usr/bin/env bash
# Installs the Debian packages that kivplay needs. Skips what is already
# installed; uses sudo only when not running as root.
#   install-deps.sh run    what building and running kivplay, kivtool and the demo needs
#   install-deps.sh package  that plus what `make package` needs (dpkg-shlibdeps, file)
#   install-deps.sh web    what `make web` and the browser tests need (emscripten,
#                          chromium; node and npm where the machine has none)
#   install-deps.sh [test] all of that plus the test, fuzz, benchmark and packaging tools
set -euo pipefail

mode=${1:-test}

run_packages=(
  build-essential cmake pkg-config make g++
  libsdl1.2-compat-dev libx11-dev libpng-dev libgif-dev libwebp-dev libcli11-dev
)
package_packages=(dpkg-dev file)
test_packages=(
  clang libclang-rt-14-dev ninja-build
  g++-aarch64-linux-gnu qemu-user
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth xdotool x11-utils x11-apps openbox wmctrl imagemagick
  sox espeak-ng python3 strace
  ffmpeg gifsicle unzip webp
  desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl libglib2.0-bin
  dpkg-dev lintian groff-base mandoc man-db file librsvg2-bin
)
# The browser build (rsvg-convert draws the site's icons) and its tests. A
# node that the machine already has (from Debian or elsewhere) is kept;
# emscripten needs one either way.
web_packages=(emscripten chromium librsvg2-bin)
command -v node >/dev/null 2>&1 || web_packages+=(nodejs)
command -v npm >/dev/null 2>&1 || web_packages+=(npm)

case "$mode" in
  run) packages=("${run_packages[@]}") ;;
  package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
  web) packages=("${web_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}" "${web_packages[@]}") ;;
  *) echo "usage: install-deps.sh [run|package|web|test]" >&2; exit 2 ;;
esac

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
