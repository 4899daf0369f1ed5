#!/usr/bin/env bash
# A second kivplay while one plays ends at once with status 0, prints
# nothing, opens no window, and brings the first one forward (restoring it
# first when it is minimised).
source "$(dirname "$0")/lib.sh"
start_xvfb
start_window_manager

make_kiv() { python3 "$(dirname "$0")/startup_make_kiv.py" "$@"; }

make_kiv "$E2E_TMP/first.kiv" 320 240 10 25
make_kiv "$E2E_TMP/second.kiv" 320 240 10 25

"$KIVPLAY" "$E2E_TMP/first.kiv" >"$E2E_TMP/first.out" 2>"$E2E_TMP/first.err" &
FIRST=$!
E2E_PIDS+=("$FIRST")
WINDOW=$(wait_for_window 'first\.kiv - KIV Player 3\.1' 15) || fail "first: no window: $(cat "$E2E_TMP/first.err")"
WINDOW_HEX=$(printf '0x%x' "$WINDOW")

# run_quiet_second NAME: the second start ends quickly and says nothing.
run_quiet_second() {
  local name=$1
  run_second "$name" 3000
  [ ! -s "$E2E_TMP/$name.out" ] || fail "$name: stdout: $(cat "$E2E_TMP/$name.out")"
  [ ! -s "$E2E_TMP/$name.err" ] || fail "$name: stderr: $(cat "$E2E_TMP/$name.err")"
}

is_top() { [ "$(top_window)" = "$WINDOW_HEX" ]; }
is_iconic() { xprop -id "$WINDOW" WM_STATE | grep -q 'window state: Iconic'; }
is_normal() { xprop -id "$WINDOW" WM_STATE | grep -q 'window state: Normal'; }

# Another window covers the player; the second start raises the player.
xmessage -title "Cover" "covering window" &
E2E_PIDS+=($!)
COVER=$(wait_for_window '^Cover$' 10) || fail "no covering window"
xdotool windowactivate --sync "$COVER"
COVER_HEX=$(printf '0x%x' "$COVER")
cover_on_top() { [ "$(top_window)" = "$COVER_HEX" ]; }
wait_until 5 cover_on_top || fail "the covering window did not come on top"
run_quiet_second raise
wait_until 5 is_top || fail "raise: first window not on top: $(xprop -root _NET_CLIENT_LIST_STACKING)"

# Minimised, it is restored first.
xdotool windowminimize --sync "$WINDOW"
wait_until 5 is_iconic || fail "the window did not minimise"
run_quiet_second restore
wait_until 5 is_normal || fail "restore: first window still minimised"
[ "$(xdotool search --name 'KIV Player 3\.1' | wc -l)" -eq 1 ] || fail "more than one player window"

kill -0 "$FIRST" || fail "the first instance ended"
terminate_expect_zero "$FIRST" first
echo "PASS"
