#!/usr/bin/env bash
# Under strace, a paused player rests a second: its main thread may wake only
# a few times (SDL's chores, every 250 ms; a polling loop wakes hundreds of
# times). Then Right: the wait that it ends must return for input, and the
# next frame must be presented without another sleep. Judged by that
# structure, not by wall time, so that it holds with both cores busy.
source "$(dirname "$0")/lib.sh"
export SDL_AUDIODRIVER=dummy
cd "$E2E_TMP"
paused_demo

start_xvfb
# Presenting a frame is one MIT-SHM put-image request on SDL's connection.
OPCODE=$(xdpyinfo -queryExtensions | sed -n 's/.*MIT-SHM.*opcode: \([0-9]*\).*/\1/p')
[ -n "$OPCODE" ] || fail "the X server has no MIT-SHM"
strace -f --seccomp-bpf -e trace=poll,writev,nanosleep,clock_nanosleep -ttt -T -o trace.txt \
  "$KIVPLAY" demo.kiv >play.out 2>play.err &
TRACER=$!
E2E_PIDS+=($TRACER)
WINDOW=$(wait_for_window '^demo\.kiv - KIV Player 3\.1$' 30) || fail "no window: $(cat play.err)"
PLAYER=$(child_pid "$TRACER") || fail "no traced player"

xdotool windowfocus --sync "$WINDOW"
sleep 1
xdotool keydown Escape sleep 0.12 keyup Escape
frame=$(settled paused)
rest_start=$(date +%s.%N)
sleep 1
rest_end=$(date +%s.%N)
key=$rest_end
xdotool key Right
[ "$(settled stepped)" = $(((frame + 1) % 8)) ] || fail "Right did not show the next frame"
kill "$PLAYER"
wait "$TRACER" 2>/dev/null || true

python3 - trace.txt "$PLAYER" "$OPCODE" "$rest_start" "$rest_end" "$key" <<'PY' || fail "see above"
import re, sys
main, opcode = sys.argv[2], int(sys.argv[3])
rest_start, rest_end, key = map(float, sys.argv[4:7])
# The main thread's waits (start, timeout, result, end) and presents (start,
# None, ...). A call that another thread interrupted is written in two lines,
# "... <unfinished ...>" and "<... NAME resumed> ...".
calls, pending = [], None
for line in open(sys.argv[1]):
    m = re.match(r'(\d+)\s+(\d+\.\d+) (.*)$', line)
    if not m or m.group(1) != main:
        continue
    when, text = float(m.group(2)), m.group(3)
    if text.endswith('<unfinished ...>'):
        pending = (when, text[:-16].rstrip())
        continue
    if text.startswith('<...') and pending:
        (when, head), pending = pending, None
        text = head + text.split('resumed>', 1)[1]
    first = re.match(r'writev\(\d+, \[\{iov_base="(\\\d{1,3}|\\.|.)', text)
    if first:
        c = first.group(1)
        if (int(c[1:], 8) if c[1:].isdigit() else ord(c[-1])) == opcode:
            calls.append((when, None, 0, when))
        continue
    # The loop's wait polls several descriptors (Xlib awaiting a reply, one).
    wait = re.match(r'poll\(.*\], ([2-9]|\d\d+), (-?\d+)\)', text) or re.match(r'(clock_)?nanosleep\(()', text)
    done = re.search(r'\) += (-?\d+).*<(\d+\.\d+)>$', text)
    if wait and done:
        timeout = int(wait.group(2)) if wait.group(2) else 1
        calls.append((when, timeout, int(done.group(1)), when + float(done.group(2))))

resting = [c for c in calls if c[1] is not None and rest_start <= c[0] <= rest_end]
print(f"resting 1 s: the main thread entered {len(resting)} waits")
if len(resting) > 10:
    sys.exit(f"FAIL: a resting paused player woke {len(resting)} times in a second")
after = [i for i, c in enumerate(calls) if c[1] is None and c[0] > key] or sys.exit("FAIL: nothing presented")
# From the wait that the key ended to the last frame that it brought, the
# loop may only pass through waits that do not sleep (timeout 0).
sleeps = lambda c: c[1] not in (None, 0)
j = max((i for i in range(after[0]) if sleeps(calls[i])), default=None)
last = after[0]
while last + 1 < len(calls) and not sleeps(calls[last + 1]):
    last += 1
woke, shown_at = calls[j] if j is not None else None, calls[last][0]
if woke is None or woke[2] < 1 or woke[3] < key:
    sys.exit(f"FAIL: the wait before the step did not end by the key: {woke}")
print(f"Right: woke {1000 * (woke[3] - key):.1f} ms after the key was sent, next frame presented "
      f"{1000 * (shown_at - key):.1f} ms after it ({1000 * (shown_at - woke[3]):.1f} ms after the wake-up)")
PY
echo "PASS"
