#!/usr/bin/env bash
# Builds for arm64 with Debian's cross compiler and -Werror: every translation
# unit of src/, tools/ and data/ is compiled, and the animation unit tests are
# linked and run under qemu-aarch64. The other unit tests and the programs need
# arm64 builds of SDL, libpng and giflib, which a host install does not have,
# so they are compiled only.
#   cross-check.sh [BUILD_DIR] [JOBS]
set -euo pipefail

dir=${1:-build-arm64}
jobs=${2:-$(nproc)}
cd "$(dirname "$0")/.."

cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_WERROR=ON -DKIV_TESTS=ON -DKIV_BENCH=OFF >/dev/null
mapfile -t objects < <(ninja -C "$dir" -t targets all | sed -n 's/^\(\(src\|tools\|data\)\/[^:]*\.o\): .*/\1/p')
if [ "${#objects[@]}" -eq 0 ]; then
  echo "cross-check: no object files found in $dir" >&2
  exit 1
fi
ninja -C "$dir" -j "$jobs" "${objects[@]}" tests/anim/anim_tests
echo "cross-check: compiled ${#objects[@]} translation units for arm64"
qemu-aarch64 -L /usr/aarch64-linux-gnu "$dir/tests/anim/anim_tests" --gtest_brief=1
