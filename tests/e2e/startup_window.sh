#!/usr/bin/env bash
# kivplay on a valid animation: an 800x600 window captioned after the path,
# the video information on stdout, and exit status 0 on SIGTERM, SIGINT and
# closing the window.
source "$(dirname "$0")/lib.sh"
start_xvfb

make_kiv() { python3 "$(dirname "$0")/startup_make_kiv.py" "$@"; }

anim="$E2E_TMP/my anim.kiv"
make_kiv "$anim" 720 576 20 25

# start_player NAME ARGS...: runs kivplay in the background; sets PLAYER_PID
# and WINDOW.
start_player() {
  local name=$1
  shift
  "$KIVPLAY" "$@" >"$E2E_TMP/$name.out" 2>"$E2E_TMP/$name.err" &
  PLAYER_PID=$!
  E2E_PIDS+=("$PLAYER_PID")
  WINDOW=$(wait_for_window 'KIV Player 3\.1' 15) || fail "$name: no window; stderr: $(cat "$E2E_TMP/$name.err")"
}

# expect_exit NAME STATUS
expect_exit() {
  local status
  wait_exit "$PLAYER_PID" 15 >"$E2E_TMP/status" || fail "$1: kivplay did not end"
  status=$(cat "$E2E_TMP/status")
  [ "$status" -eq "$2" ] || fail "$1: exit status $status, expected $2; stderr: $(cat "$E2E_TMP/$1.err")"
}

# The path arrives as one argument (as a file manager passes it).
start_player term "$anim"
[ "$(xdotool getwindowname "$WINDOW")" = "$anim - KIV Player 3.1" ] ||
  fail "caption: $(xdotool getwindowname "$WINDOW")"
xdotool getwindowgeometry "$WINDOW" | grep -q 'Geometry: 800x600' ||
  fail "geometry: $(xdotool getwindowgeometry "$WINDOW")"
sleep 0.5
kill -TERM "$PLAYER_PID"
expect_exit term 0
expected_lines="hw_available wm_available blit_hw blit_hw_CC blit_hw_A blit_sw blit_sw_CC blit_sw_A blit_fill video_mem"
actual_lines=$(grep -E '^[a-z_A-Z]+ = -?[0-9]+$' "$E2E_TMP/term.out" | cut -d' ' -f1 | tr '\n' ' ')
[ "$actual_lines" = "$expected_lines " ] || fail "video information: $(cat "$E2E_TMP/term.out")"

# Split into two arguments, the path is joined again by one blank.
start_player int "$E2E_TMP/my" "anim.kiv"
[ "$(xdotool getwindowname "$WINDOW")" = "$anim - KIV Player 3.1" ] || fail "joined arguments"
kill -INT "$PLAYER_PID"
expect_exit int 0

# Closing the window through the window manager.
start_window_manager
start_player close "$anim"
sleep 0.5
wmctrl -c "$anim - KIV Player 3.1" || fail "wmctrl could not close the window"
expect_exit close 0

echo "PASS"
