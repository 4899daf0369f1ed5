#!/usr/bin/env bash
# kivtool create against ffmpeg in the same run: 600 RGB 640x480 PNG frames
# (ffmpeg's gradient-rich test pattern, so nearly every pixel needs a
# nearest colour) turned into an animation file by `kivtool create`, and the
# same PNGs into a GIF by ffmpeg with palettegen + paletteuse. The two run
# alternately, 5 times each; prints the medians of elapsed and CPU time.
#   bench/kivtool_create.sh [BUILD_DIR] [FRAMES]   (default: build, 600)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
frames=${2:-600}
kivtool="$build/tools/kivtool/kivtool"
work=$(mktemp -d /tmp/kivtool-create-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v "$frames" -pix_fmt rgb24 'rgb%04d.png'

python3 - "$kivtool" <<'PY'
import glob, os, resource, statistics, subprocess, sys, time
kivtool = sys.argv[1]
pngs = sorted(glob.glob('rgb*.png'))
commands = {
    'kivtool create': [kivtool, 'create', '-q', '-o', 'out.kiv', '--fps', '25'] + pngs,
    'kivtool create --dither diffusion': [kivtool, 'create', '-q', '-o', 'out.kiv', '--fps', '25',
                                          '--dither', 'diffusion'] + pngs,
    'ffmpeg palettegen + paletteuse': ['ffmpeg', '-v', 'error', '-y', '-framerate', '25', '-i', 'rgb%04d.png',
                                       '-filter_complex', '[0:v]split[a][b];[a]palettegen[p];[b][p]paletteuse',
                                       'out.gif'],
}
results = {name: ([], []) for name in commands}
for _ in range(5):
    for name, command in commands.items():
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        results[name][0].append(elapsed)
        results[name][1].append(cpu)
print(f'{len(pngs)} RGB {640}x{480} frames, medians of 5 alternating runs:')
for name, (elapsed, cpu) in results.items():
    print(f'  {name:36s} elapsed {statistics.median(elapsed):6.2f} s   cpu {statistics.median(cpu):6.2f} s')
ours = results['kivtool create']
theirs = results['ffmpeg palettegen + paletteuse']
print(f'ffmpeg / kivtool create: elapsed {statistics.median(theirs[0]) / statistics.median(ours[0]):.2f}, '
      f'cpu {statistics.median(theirs[1]) / statistics.median(ours[1]):.2f}')
PY
