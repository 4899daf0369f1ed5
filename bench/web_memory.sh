#!/usr/bin/env bash
# The page's memory after it opens a file of about 190 MB (1600x1200, 100
# frames of noise): the module's memory, the JS heap, and chromium's resident
# memory before and after, for each page directory given.
#   bench/web_memory.sh [BUILD_DIR] [WEB_BUILD_DIR...]
# (defaults: build, build-web). Needs `make web` and the plain build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
[ $# -gt 0 ] || set -- build-web
work=$(mktemp -d /tmp/kivplay-web-memory.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$build/tools/makedemo/makedemo" --width 1600 --height 1200 --frames 100 --noise "$work/large.kiv" >/dev/null
(cd "$root/web/tests" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --silent)
for web in "$@"; do
  echo "$web: $(node "$root/web/tests/memory_bench.mjs" "$(cd "$web" && pwd)" "$work/large.kiv")"
done
