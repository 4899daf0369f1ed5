#!/usr/bin/env bash
# The page's CPU share and start-up in headless chromium, beside reference
# pages in the same run: playing a 720x576 25 fps file against a page that
# puts an 800x600 picture on a canvas 25 times a second, paused against an
# idle page, and the time from the page's load to the demo's first frame.
# ROUNDS rounds of the four pages in turn; medians.
#   bench/web_cpu.sh [BUILD_DIR] [WEB_BUILD_DIR] [SECONDS] [ROUNDS]
# (defaults: build, build-web, 10, 5). Needs `make web` and the plain build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
web=$(cd "${2:-build-web}" && pwd)
seconds=${3:-10}
rounds=${4:-5}
work=$(mktemp -d /tmp/kivplay-web-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$build/tools/makedemo/makedemo" --width 720 --height 576 --frames 100 --fps 25 "$work/demo.kiv" >/dev/null
(cd "$root/web/tests" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --silent)
# The first picture is timed on the demo that `make run` plays.
node "$root/web/tests/cpu_bench.mjs" "$web" "$work/demo.kiv" "$seconds" "$rounds" "$build/demo/demo.kiv"
