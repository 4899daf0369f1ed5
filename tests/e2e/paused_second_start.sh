#!/usr/bin/env bash
# A second start wakes a paused, minimised player: every request is answered
# by the player itself (one unanswered for 400 ms would go to the X server
# instead, hiding a player that sleeps through it); it comes back restored,
# still paused on its frame, and ends on SIGTERM.
source "$(dirname "$0")/lib.sh"
export SDL_AUDIODRIVER=dummy
cd "$E2E_TMP"
[ -x "$MAKEDEMO" ] || fail "makedemo not built: $MAKEDEMO"
for f in demo second; do "$MAKEDEMO" --width 320 --height 240 --frames 8 $f.kiv >/dev/null || fail makedemo; done
render_paused demo.kiv

start_xvfb
start_window_manager
"$KIVPLAY" demo.kiv >play.out 2>play.err &
PLAYER=$!
E2E_PIDS+=($PLAYER)
WINDOW=$(wait_for_window '^demo\.kiv - KIV Player 3\.1$' 30) || fail "no window: $(cat play.err)"

in_state() { xprop -id "$WINDOW" WM_STATE | grep -q "window state: $1"; }

xdotool windowactivate --sync "$WINDOW"
sleep 1
xdotool keydown Escape sleep 0.12 keyup Escape
frame=$(settled paused)
xdotool windowminimize --sync "$WINDOW"
wait_until 5 in_state Iconic || fail "the window did not minimise"
sleep 1  # minimised and paused: the player sleeps

timeout 20 strace -f -e trace=recvfrom -o second.trace "$KIVPLAY" second.kiv >second.out 2>second.err ||
  fail "second start: exit status $?: $(cat second.err)"
[ ! -s second.out ] && [ ! -s second.err ] || fail "second start said: $(cat second.out second.err)"
grep -q 'recvfrom(.*) = [1-9]' second.trace || fail "the player answered no request: $(cat second.trace)"
! grep -q 'recvfrom(.*) = -1' second.trace ||
  fail "the player left a request unanswered: $(grep 'recvfrom(.*) = -1' second.trace)"
xdotool search --name 'second\.kiv' >/dev/null 2>&1 && fail "the second start opened a window"

wait_until 5 in_state Normal || fail "the second start did not restore the player"
[ "$(settled restored)" = "$frame" ] || fail "restored, the player does not show paused frame $frame"
terminate_expect_zero "$PLAYER" player play.err
echo "PASS"
