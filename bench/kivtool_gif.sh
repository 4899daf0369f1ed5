#!/usr/bin/env bash
# kivtool's GIF export against ffmpeg in the same run: a 100-frame 720x576
# demo animation, exported by `kivtool export -o out.gif`, and the same
# frames (as PNGs, composed over the background) encoded by ffmpeg with a
# generated palette and no dithering. Prints the best of three runs of each.
#   bench/kivtool_gif.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
kivtool="$build/tools/kivtool/kivtool"
makedemo="$build/tools/makedemo/makedemo"
work=$(mktemp -d /tmp/kivtool-gif-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$makedemo" --width 720 --height 576 --frames 100 --fps 25 demo.kiv
"$kivtool" export demo.kiv --composite -q -o 'f%04d.png'

# best COMMAND...: the shortest wall time of three runs, in seconds.
best() {
  python3 - "$@" <<'PY'
import subprocess, sys, time
times = []
for _ in range(3):
    start = time.perf_counter()
    subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append(time.perf_counter() - start)
print(f"{min(times):.3f}")
PY
}
ours=$(best "$kivtool" export demo.kiv -q -o kivtool.gif)
ours_composite=$(best "$kivtool" export demo.kiv --composite -q -o kivtool-composite.gif)
theirs=$(best ffmpeg -v error -y -framerate 25 -i f%04d.png -filter_complex \
  "[0:v]split[a][b];[a]palettegen[p];[b][p]paletteuse=dither=none" ffmpeg.gif)
echo "kivtool export -o out.gif:              ${ours} s  ($(stat -c %s kivtool.gif) bytes)"
echo "kivtool export --composite -o out.gif:  ${ours_composite} s  ($(stat -c %s kivtool-composite.gif) bytes)"
echo "ffmpeg palettegen + paletteuse:         ${theirs} s  ($(stat -c %s ffmpeg.gif) bytes)"
python3 -c "import sys; print(f'ffmpeg / kivtool: {float(sys.argv[2]) / float(sys.argv[1]):.2f}')" "$ours" "$theirs"
