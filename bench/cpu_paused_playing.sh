#!/usr/bin/env bash
# CPU share of one core used by kivplay while playing and while paused, beside
# the floor: a bare SDL 1.2 program presenting 25 frames a second (sdl_floor).
# All three show an 800 x 600 window under a private Xvfb; the file is a
# generated 720 x 576, 25 fps animation. The three are measured in turn,
# ROUNDS times (alternating, so that a change in machine load touches all
# three alike), and the medians are printed.
#   bench/cpu_paused_playing.sh [BUILD_DIR] [SECONDS] [ROUNDS]   (build 10 5)
# Runs itself in a private network namespace when it can, so that another
# kivplay on this machine (it publishes itself under an abstract socket) is
# never found.
set -euo pipefail
if [ -z "${KIV_BENCH_ISOLATED:-}" ] && unshare -n true 2>/dev/null; then
  export KIV_BENCH_ISOLATED=1
  exec unshare -n -- bash "$0" "$@"
fi
build=$(cd "${1:-build}" && pwd)
seconds=${2:-10}
rounds=${3:-5}
kivplay="$build/src/app/kivplay"
[ -x "$kivplay" ] || kivplay="$build/kivplay"
floor="$build/bench/sdl_floor"
makedemo="$build/tools/makedemo/makedemo"
for program in "$kivplay" "$floor" "$makedemo"; do
  [ -x "$program" ] || { echo "missing: $program (build it first)" >&2; exit 1; }
done
work=$(mktemp -d /tmp/kiv-cpu-bench.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export SDL_AUDIODRIVER=dummy
"$makedemo" --width 720 --height 576 --frames 100 --fps 25 "$work/demo.kiv" >/dev/null

# cpu PID SECONDS: the share of one core (percent) that PID and its threads
# used over SECONDS, from /proc (user + system time).
cpu() {
  python3 - "$1" "$2" <<'PY'
import os, sys, time
pid, seconds = sys.argv[1], float(sys.argv[2])
hz = os.sysconf("SC_CLK_TCK")
def used():
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / hz
t0, c0 = time.monotonic(), used()
time.sleep(seconds)
t1, c1 = time.monotonic(), used()
print(f"{100 * (c1 - c0) / (t1 - t0):.1f}")
PY
}

window_of() {
  local id
  for _ in $(seq 1 100); do
    id=$(xdotool search --name "$1" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# still WINDOW: true when two captures 300 ms apart are the same.
still() {
  xwd -silent -id "$1" >"$work/a.xwd"
  sleep 0.3
  xwd -silent -id "$1" >"$work/b.xwd"
  cmp -s "$work/a.xwd" "$work/b.xwd"
}

stop() {
  kill -TERM "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

floor_all=() playing_all=() paused_all=()
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 1 "$rounds"); do
  "$floor" >/dev/null 2>&1 &
  pid=$!
  pids+=($pid)
  window_of '^sdl_floor$' >/dev/null || { echo "no floor window" >&2; exit 1; }
  sleep 1
  floor_all+=("$(cpu "$pid" "$seconds")")
  stop "$pid"

  "$kivplay" "$work/demo.kiv" >/dev/null 2>"$work/kivplay.err" &
  pid=$!
  pids+=($pid)
  window=$(window_of 'demo\.kiv - KIV Player 3\.1') || { echo "no player window: $(cat "$work/kivplay.err")" >&2; exit 1; }
  sleep 2  # the load is over and playback steady
  still "$window" && { echo "the player does not play" >&2; exit 1; }
  playing_all+=("$(cpu "$pid" "$seconds")")
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$window" keydown Escape sleep 0.12 keyup Escape
    sleep 0.5
    still "$window" && break
  done
  still "$window" || { echo "Esc did not pause the player" >&2; exit 1; }
  sleep 0.5
  paused_all+=("$(cpu "$pid" "$seconds")")
  stop "$pid"
  echo "round $round: floor ${floor_all[-1]}%  playing ${playing_all[-1]}%  paused ${paused_all[-1]}%"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
f=$(median "${floor_all[@]}")
p=$(median "${playing_all[@]}")
q=$(median "${paused_all[@]}")
echo "median of $rounds, ${seconds} s each, share of one core:"
echo "  floor (bare SDL, 25 presents/s): ${f}%"
echo "  kivplay playing:                 ${p}%  ($(awk -v p="$p" -v f="$f" 'BEGIN { printf "%.2f", (f > 0) ? p / f : 0 }') x the floor)"
echo "  kivplay paused:                  ${q}%"
