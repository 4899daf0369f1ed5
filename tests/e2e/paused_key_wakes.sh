#!/usr/bin/env bash
# A paused player sleeps until something happens, and a key wakes it at once.
# The player runs under strace (poll, sleeps and writes to the X server). It
# pauses and rests a second: its main thread may wake only a few times in it
# (SDL's chores, every 250 ms), where a loop that looks again every few
# milliseconds wakes hundreds of times. Then Right: the wait that the key
# ends must return because input arrived, and the loop must present the next
# frame without sleeping again. The promptness is judged by that structure,
# not by wall time, so that it holds with both cores busy; the time from the
# key to the frame is printed and bounded only loosely (2 s).
source "$(dirname "$0")/lib.sh"
export SDL_AUDIODRIVER=dummy
cd "$E2E_TMP"
MAKEDEMO="$KIV_BINARY_DIR/tools/makedemo/makedemo"
[ -x "$MAKEDEMO" ] || fail "makedemo not built: $MAKEDEMO"
"$MAKEDEMO" --width 320 --height 240 --frames 8 --fps 25 demo.kiv >/dev/null || fail "makedemo failed"
"$KIVTOOL" render demo.kiv --paused -o 'pause%d.png' || fail "render --paused failed"
for f in $(seq 0 7); do /usr/bin/convert "pause$f.png" -depth 8 "rgb:pause$f.rgb"; done

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

# shown: the paused frame whose rendered screen the window shows, or -1.
shown() {
  local f
  import -window "$WINDOW" -depth 8 png:shot.png 2>/dev/null && /usr/bin/convert shot.png -depth 8 rgb:shot.rgb || {
    echo -1
    return
  }
  for f in $(seq 0 7); do
    cmp -s shot.rgb "pause$f.rgb" && { echo "$f"; return; }
  done
  echo -1
}

# settled WHAT: within 10 seconds the window shows one rendered paused screen
# twice in a row, 300 ms apart; prints its frame.
settled() {
  local a b
  for _ in $(seq 1 30); do
    a=$(shown)
    sleep 0.3
    b=$(shown)
    [ "$a" -ge 0 ] && [ "$a" = "$b" ] && { echo "$a"; return 0; }
  done
  fail "$1: the window does not rest on a rendered paused screen ($a, $b)"
}

xdotool windowfocus --sync "$WINDOW"
sleep 1
xdotool keydown Escape sleep 0.12 keyup Escape
frame=$(settled paused)
rest_start=$(date +%s.%N)
sleep 1
rest_end=$(date +%s.%N)
key=$(date +%s.%N)
xdotool key Right
[ "$(settled stepped)" = $(((frame + 1) % 8)) ] || fail "Right did not show the next frame"
kill "$PLAYER"
wait "$TRACER" 2>/dev/null || true

python3 - trace.txt "$PLAYER" "$OPCODE" "$rest_start" "$rest_end" "$key" <<'PY' || fail "see above"
import re, sys
path, main, opcode = sys.argv[1], sys.argv[2], int(sys.argv[3])
rest_start, rest_end, key = map(float, sys.argv[4:7])
# Main-thread calls: (start, kind, timeout, result, end). A call that another
# thread interrupted is written in two lines, "<unfinished ...>" and
# "<... NAME resumed>"; its start is on the first, its result on the second.
calls, open_call = [], None
line_re = re.compile(r'^(\d+)\s+(\d+\.\d+) (.*)$')
for line in open(path):
    m = line_re.match(line)
    if not m or m.group(1) != main:
        continue
    when, text = float(m.group(2)), m.group(3)
    if text.startswith('<...'):
        if open_call is None:
            continue
        text, when = open_call[1] + text.split('resumed>', 1)[1], open_call[0]
        open_call = None
    elif text.endswith('<unfinished ...>'):
        open_call = (when, text[:-len('<unfinished ...>')].rstrip())
        continue
    name = text.split('(', 1)[0]
    result = re.search(r'\) += (-?\d+)', text)
    spent = re.search(r'<(\d+\.\d+)>$', text)
    if name == 'writev':
        first = re.search(r'iov_base="(\\\d{1,3}|\\.|.)', text)
        if first:
            c = first.group(1)
            value = int(c[1:], 8) if re.fullmatch(r'\\\d+', c) else ord(c[-1])
            if value == opcode:
                calls.append((when, 'present', 0, 0, when))
        continue
    if name == 'poll':
        # The loop's wait watches several descriptors; Xlib waiting for a
        # reply watches its one connection.
        fds = re.search(r'\], (\d+), (-?\d+)\)', text)
        if not fds or int(fds.group(1)) < 2:
            continue
        timeout = int(fds.group(2))
    elif name in ('nanosleep', 'clock_nanosleep'):
        timeout = 1
    else:
        continue
    end = when + (float(spent.group(1)) if spent else 0.0)
    calls.append((when, 'wait', timeout, int(result.group(1)) if result else -1, end))

resting = [c for c in calls if c[1] == 'wait' and rest_start <= c[0] <= rest_end]
print(f"resting 1 s: the main thread entered {len(resting)} waits")
if len(resting) > 10:
    sys.exit(f"FAIL: a resting paused player woke {len(resting)} times in a second")
presents = [i for i, c in enumerate(calls) if c[1] == 'present' and c[0] > key]
if not presents:
    sys.exit("FAIL: nothing presented after the key")
# The frames that the key brought, up to the loop's next real sleep.
last = presents[0]
i = presents[0] + 1
while i < len(calls) and not (calls[i][1] == 'wait' and calls[i][2] != 0):
    if calls[i][1] == 'present':
        last = i
    i += 1
# Back from the first present to the wait that input ended: only waits that
# did not sleep (timeout 0) may lie in between.
j = presents[0] - 1
while j >= 0 and (calls[j][1] != 'wait' or calls[j][2] == 0):
    j -= 1
if j < 0:
    sys.exit("FAIL: no wait before the step")
woke = calls[j]
if woke[3] < 1:
    sys.exit(f"FAIL: the wait before the step ended by its timeout ({woke[2]} ms), not by the key")
if woke[4] < key:
    sys.exit("FAIL: the wait before the step ended before the key was sent")
print(f"Right: woke {1000 * (woke[4] - key):.1f} ms after the key was sent; next frame presented "
      f"{1000 * (calls[last][0] - key):.1f} ms after it ({1000 * (calls[last][0] - woke[4]):.1f} ms after the wake-up)")
if calls[last][0] - key > 2.0:
    sys.exit("FAIL: the step took more than 2 s")
PY
echo "PASS"
