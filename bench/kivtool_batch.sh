#!/usr/bin/env bash
# kivtool export over an archive, to WebP and to video, each against what a
# user would run without it, in the same run (best of three wall times):
#  1. 40 files of 100 frames at 720x576: `export DIR -o 'out/%n.gif' -j 2`
#     against a shell loop of single exports;
#  2. -o x.webp against ffmpeg's lossless WebP of the same frames as PNGs;
#  3. -o x.mp4 against the hand-made pipe of raw RGB into ffmpeg.
#   bench/kivtool_batch.sh [BUILD_DIR] [FILES]   (default: build 40)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
files=${2:-40}
kivtool="$build/tools/kivtool/kivtool"
makedemo="$build/tools/makedemo/makedemo"
work=$(mktemp -d /tmp/kivtool-batch-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

mkdir archive
"$makedemo" --width 720 --height 576 --frames 100 --fps 25 archive/demo000.kiv
for i in $(seq 1 $((files - 1))); do cp archive/demo000.kiv "archive/demo$(printf %03d "$i").kiv"; done
"$kivtool" export archive/demo000.kiv -q -o 'f%d.png'

# best COMMAND: the shortest wall time of three runs of a shell command, in
# seconds; the CPU seconds of all runs go to stderr, so that a machine too
# busy to give the work two cores shows as CPU time close to wall time.
best() {
  python3 - "$1" <<'PY'
import resource, subprocess, sys, time
times = []
for _ in range(3):
    start = time.perf_counter()
    subprocess.run(["bash", "-c", sys.argv[1]], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append(time.perf_counter() - start)
used = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"  (3 runs: {sum(times):.1f} s wall, {used.ru_utime + used.ru_stime:.1f} s CPU)", file=sys.stderr)
print(f"{min(times):.3f}")
PY
}
ratio() { python3 -c "import sys; print(f'{float(sys.argv[1]) / float(sys.argv[2]):.2f}')" "$1" "$2"; }

batch="rm -rf out && '$kivtool' export archive -q -o 'out/%n.gif' -j 2"
loop="rm -rf out && mkdir out && for f in archive/*.kiv; do n=\${f##*/}; '$kivtool' export \"\$f\" -q -o \"out/\${n%.kiv}.gif\"; done"
echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
t_batch=$(best "$batch")
t_loop=$(best "$loop")
echo "$files files to GIF, export DIR -j 2:  $t_batch s"
echo "$files files to GIF, shell loop:       $t_loop s"
echo "  loop / batch: $(ratio "$t_loop" "$t_batch") (target 1.8 or more)"

t_webp=$(best "'$kivtool' export archive/demo000.kiv -q -o x.webp")
t_ffwebp=$(best "ffmpeg -v error -y -framerate 25 -i f%d.png -lossless 1 -loop 0 ff.webp")
echo "WebP, kivtool export -o x.webp:        $t_webp s  ($(stat -c %s x.webp) bytes)"
echo "WebP, ffmpeg -lossless 1 from PNGs:    $t_ffwebp s  ($(stat -c %s ff.webp) bytes)"
echo "  ffmpeg / kivtool: $(ratio "$t_ffwebp" "$t_webp") (target above 1, size no larger)"

t_mp4=$(best "'$kivtool' export archive/demo000.kiv -q -o x.mp4")
# shellcheck disable=SC2016
t_pipe=$(best "'$kivtool' export archive/demo000.kiv -q --format rgb24 -o - |
  ffmpeg -v error -y \$('$kivtool' info --ffmpeg-input archive/demo000.kiv) -c:v libx264 -pix_fmt yuv420p pipe.mp4")
echo "MP4, kivtool export -o x.mp4:          $t_mp4 s"
echo "MP4, export --format rgb24 | ffmpeg:   $t_pipe s"
echo "  pipe / kivtool: $(ratio "$t_pipe" "$t_mp4") (target 1 or more)"
