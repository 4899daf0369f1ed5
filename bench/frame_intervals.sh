#!/usr/bin/env bash
# The intervals between the frames that kivplay presents, at a given frame
# rate, under a private Xvfb: the program runs under strace (only writev is
# stopped at, through seccomp) and each MIT-SHM put-image request that it
# writes to the X server counts as one presented frame. Prints the mean,
# standard deviation, range and 1st/99th percentiles of the intervals.
#   bench/frame_intervals.sh [KIVPLAY] [FPS] [SECONDS]   (build/src/app/kivplay 25 20)
set -euo pipefail
if [ -z "${KIV_BENCH_ISOLATED:-}" ] && unshare -n true 2>/dev/null; then
  export KIV_BENCH_ISOLATED=1
  exec unshare -n -- bash "$0" "$@"
fi
kivplay=$(realpath "${1:-build/src/app/kivplay}")
fps=${2:-25}
seconds=${3:-20}
makedemo="$(dirname "$kivplay")/../../tools/makedemo/makedemo"
[ -x "$makedemo" ] || makedemo=build/tools/makedemo/makedemo
for program in "$kivplay" "$makedemo"; do
  [ -x "$program" ] || { echo "missing: $program (build it first)" >&2; exit 1; }
done
source "$(dirname "$0")/lib.sh"
bench_begin kiv-frames-bench
bench_start_xvfb
export SDL_AUDIODRIVER=dummy
opcode=$(xdpyinfo -queryExtensions | sed -n 's/.*MIT-SHM.*opcode: \([0-9]*\).*/\1/p')
[ -n "$opcode" ] || { echo "the X server has no MIT-SHM" >&2; exit 1; }
"$makedemo" --width 720 --height 576 --frames 100 --fps "$fps" "$work/demo.kiv" >/dev/null

strace -f --seccomp-bpf -e trace=writev -ttt -o "$work/trace" "$kivplay" "$work/demo.kiv" >/dev/null 2>"$work/err" &
pids+=($!)
for _ in $(seq 1 100); do
  xdotool search --name 'demo\.kiv - KIV Player 3\.1' >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 2  # the load is over and playback steady
start=$(date +%s.%N)
sleep "$seconds"
end=$(date +%s.%N)
# strace outlives a signal of its own: end the program that it traces.
traced=$(cat "/proc/${pids[-1]}/task/${pids[-1]}/children" 2>/dev/null || true)
kill ${traced:-"${pids[-1]}"} 2>/dev/null || true
wait "${pids[-1]}" 2>/dev/null || true

python3 - "$work/trace" "$opcode" "$start" "$end" "$fps" <<'PY'
import re, statistics, sys
path, opcode, start, end, fps = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5])
# strace writes the request's first byte as an octal escape or a character.
first = re.compile(r'^\S+\s+(\d+\.\d+) writev\(\d+, \[\{iov_base="(\\\d{1,3}|\\.|.)')
times = []
for line in open(path):
    m = first.match(line)
    if not m or not start <= float(m.group(1)) <= end:
        continue
    c = m.group(2)
    value = int(c[1:], 8) if re.fullmatch(r'\\\d+', c) else ord(c[-1])
    if value == opcode:
        times.append(float(m.group(1)))
gaps = [1000 * (b - a) for a, b in zip(times, times[1:])]
if len(gaps) < 2:
    sys.exit("too few frames presented")
gaps.sort()
pct = lambda p: gaps[min(len(gaps) - 1, int(p / 100 * len(gaps)))]
print(f"{fps:g} fps: {len(times)} frames in {end - start:.1f} s ({len(times) / (end - start):.2f}/s); "
      f"interval mean {statistics.mean(gaps):.2f} ms (ideal {1000 / fps:.2f}), sd {statistics.pstdev(gaps):.2f}, "
      f"min {gaps[0]:.1f}, p1 {pct(1):.1f}, p99 {pct(99):.1f}, max {gaps[-1]:.1f}")
PY
