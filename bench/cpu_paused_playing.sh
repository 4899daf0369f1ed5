#!/usr/bin/env bash
# CPU share of one core used by kivplay while playing and while paused, and
# its wake-ups a second (voluntary context switches: of its main thread, and
# of all its threads, among them SDL's audio thread), beside the floor: a bare
# SDL 1.2 program presenting 25 frames a second (sdl_floor), and beside ffplay
# paused on the same frames (rendered by kivtool, when ffplay is installed).
# All show an 800 x 600 window under a private Xvfb; the file is a generated
# 720 x 576, 25 fps animation. They are measured in turn, ROUNDS times
# (alternating, so that a change in machine load touches all alike), and the
# medians are printed.
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
kivtool="$build/tools/kivtool/kivtool"
ffplay=$(command -v ffplay || true)
for program in "$kivplay" "$floor" "$makedemo" "$kivtool"; do
  [ -x "$program" ] || { echo "missing: $program (build it first)" >&2; exit 1; }
done
source "$(dirname "$0")/lib.sh"
bench_begin kiv-cpu-bench
bench_start_xvfb
export SDL_AUDIODRIVER=dummy
"$makedemo" --width 720 --height 576 --frames 100 --fps 25 "$work/demo.kiv" >/dev/null
[ -z "$ffplay" ] || "$kivtool" render -q "$work/demo.kiv" -o "$work/frame%03d.png" --start-number 0

# usage PID SECONDS: over SECONDS, the share of one core (percent) that PID
# and its threads used (user + system time, from /proc), then the wake-ups a
# second of its main thread and of all its threads (voluntary context
# switches: each time a thread went to sleep and was woken again).
usage() {
  python3 - "$1" "$2" <<'PY'
import glob, os, sys, time
pid, seconds = sys.argv[1], float(sys.argv[2])
hz = os.sysconf("SC_CLK_TCK")
def used():
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / hz
def switches(task):
    try:
        with open(f"{task}/status") as f:
            return next(int(l.split()[1]) for l in f if l.startswith("voluntary_ctxt_switches"))
    except (OSError, StopIteration):
        return 0  # a thread that ended meanwhile
def wakeups():
    tasks = glob.glob(f"/proc/{pid}/task/*")
    return {t: switches(t) for t in tasks}
t0, c0, w0 = time.monotonic(), used(), wakeups()
time.sleep(seconds)
t1, c1, w1 = time.monotonic(), used(), wakeups()
span = t1 - t0
main = f"/proc/{pid}/task/{pid}"
every = sum(n - w0.get(t, 0) for t, n in w1.items())
print(f"{100 * (c1 - c0) / span:.1f} {(w1.get(main, 0) - w0.get(main, 0)) / span:.0f} {every / span:.0f}")
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

# measure NAME PID: appends the usage of PID to NAME_cpu, NAME_main, NAME_all.
measure() {
  local figures
  read -ra figures <<<"$(usage "$2" "$seconds")"
  eval "$1_cpu+=(${figures[0]}) $1_main+=(${figures[1]}) $1_all+=(${figures[2]})"
}
# shown NAME: one round's figures of NAME.
shown() {
  local cpu="$1_cpu[-1]" main="$1_main[-1]" all="$1_all[-1]"
  echo "${!cpu}% (wake-ups/s ${!main} main, ${!all} all)"
}

# pause WINDOW KEY: presses KEY until the window holds still.
pause() {
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$1" keydown "$2" sleep 0.12 keyup "$2"
    sleep 0.5
    still "$1" && return 0
  done
  return 1
}

for name in floor playing paused ffplay; do
  eval "${name}_cpu=() ${name}_main=() ${name}_all=()"
done
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 1 "$rounds"); do
  "$floor" >/dev/null 2>&1 &
  pid=$!
  pids+=($pid)
  window_of '^sdl_floor$' >/dev/null || { echo "no floor window" >&2; exit 1; }
  sleep 1
  measure floor "$pid"
  stop "$pid"

  "$kivplay" "$work/demo.kiv" >/dev/null 2>"$work/kivplay.err" &
  pid=$!
  pids+=($pid)
  window=$(window_of 'demo\.kiv - KIV Player 3\.1') || { echo "no player window: $(cat "$work/kivplay.err")" >&2; exit 1; }
  sleep 2  # the load is over and playback steady
  still "$window" && { echo "the player does not play" >&2; exit 1; }
  measure playing "$pid"
  pause "$window" Escape || { echo "Esc did not pause the player" >&2; exit 1; }
  sleep 0.5
  measure paused "$pid"
  stop "$pid"
  line="round $round: floor $(shown floor)  playing $(shown playing)  paused $(shown paused)"

  if [ -n "$ffplay" ]; then
    "$ffplay" -loglevel quiet -an -window_title ffplay_bench -loop 0 -framerate 25 -i "$work/frame%03d.png" &
    pid=$!
    pids+=($pid)
    window=$(window_of '^ffplay_bench$') || { echo "no ffplay window" >&2; exit 1; }
    sleep 2
    pause "$window" p || { echo "p did not pause ffplay" >&2; exit 1; }
    sleep 0.5
    measure ffplay "$pid"
    stop "$pid"
    line+="  ffplay paused $(shown ffplay)"
  fi
  echo "$line"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# row NAME: the medians of NAME's figures.
row() {
  local cpu="$1_cpu[@]" main="$1_main[@]" all="$1_all[@]"
  printf '%5s%%  %5s  %5s' "$(median "${!cpu}")" "$(median "${!main}")" "$(median "${!all}")"
}
f=$(median "${floor_cpu[@]}")
p=$(median "${playing_cpu[@]}")
echo "median of $rounds, ${seconds} s each:   share of one core, wake-ups/s (main thread, all threads)"
echo "  floor (bare SDL, 25 presents/s): $(row floor)"
echo "  kivplay playing:                 $(row playing)  ($(awk -v p="$p" -v f="$f" 'BEGIN { printf "%.2f", (f > 0) ? p / f : 0 }') x the floor)"
echo "  kivplay paused:                  $(row paused)"
if [ -n "$ffplay" ]; then
  echo "  ffplay paused, same frames:      $(row ffplay)"
fi
