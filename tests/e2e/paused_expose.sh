#!/usr/bin/env bash
# A paused player presents only when its screen changes, yet the window
# always shows the paused screen exactly as `kivtool render --paused` computes
# it: while it rests, after another window covered it and went away again
# (an expose), and after stepping to the next frame.
source "$(dirname "$0")/lib.sh"
export SDL_AUDIODRIVER=dummy
cd "$E2E_TMP"
paused_demo

start_xvfb
"$KIVPLAY" demo.kiv >play.out 2>play.err &
PLAYER=$!
E2E_PIDS+=($PLAYER)
WINDOW=$(wait_for_window '^demo\.kiv - KIV Player 3\.1$' 30) || fail "no window: $(cat play.err)"

press() {
  xdotool windowfocus --sync "$WINDOW"
  xdotool keydown "$1" sleep 0.12 keyup "$1"
}

sleep 1
press Escape
frame=$(settled paused)
sleep 1
[ "$(settled resting)" = "$frame" ] || fail "the resting screen moved off frame $frame"

# Cover the window with another one, then take it away.
xmessage -geometry 500x400+0+0 "cover" &
cover=$!
E2E_PIDS+=($cover)
wait_until 10 xdotool search --onlyvisible --name '^xmessage$' >/dev/null || fail "the covering window did not appear"
covered() { [ "$(shown)" = -1 ]; }
wait_until 5 covered || fail "the covering window never showed over the player's"
kill "$cover"
wait "$cover" 2>/dev/null || true
[ "$(settled exposed)" = "$frame" ] || fail "after the expose the window does not show frame $frame"

press Right
[ "$(settled stepped)" = $(((frame + 1) % 8)) ] || fail "Right did not show the next frame"

press Escape
wait_exit "$PLAYER" 10 >status.txt || fail "Esc while paused did not end the player"
[ "$(cat status.txt)" = 0 ] || fail "exit status $(cat status.txt)"
echo "PASS"
