#!/usr/bin/env bash
# A second start decides within about a second when the first instance does
# not answer: a stopped first instance with a window has that window raised
# through the X server; one stuck before its window is named on stderr. Both
# second starts end with status 0 and open no window.
source "$(dirname "$0")/lib.sh"
start_xvfb
start_window_manager
export SDL_AUDIODRIVER=dummy

make_kiv() { python3 "$(dirname "$0")/startup_make_kiv.py" "$@"; }
make_kiv "$E2E_TMP/first.kiv" 320 240 10 25
make_kiv "$E2E_TMP/second.kiv" 320 240 10 25

# 1. A stopped first instance, covered by another window.
"$KIVPLAY" "$E2E_TMP/first.kiv" >/dev/null 2>"$E2E_TMP/first.err" &
FIRST=$!
E2E_PIDS+=("$FIRST")
WINDOW=$(wait_for_window 'first\.kiv - KIV Player 3\.1' 15) || fail "first: no window: $(cat "$E2E_TMP/first.err")"
WINDOW_HEX=$(printf '0x%x' "$WINDOW")
xmessage -title "Cover" "covering window" 2>/dev/null &
E2E_PIDS+=($!)
COVER=$(wait_for_window '^Cover$' 10) || fail "no covering window"
xdotool windowactivate --sync "$COVER"
COVER_HEX=$(printf '0x%x' "$COVER")
cover_on_top() { [ "$(top_window)" = "$COVER_HEX" ]; }
first_on_top() { [ "$(top_window)" = "$WINDOW_HEX" ]; }
wait_until 5 cover_on_top || fail "the covering window did not come on top"
kill -STOP "$FIRST"
run_second stopped 2000
[ ! -s "$E2E_TMP/stopped.err" ] || fail "stopped: stderr: $(cat "$E2E_TMP/stopped.err")"
wait_until 5 first_on_top || fail "stopped: the first window was not raised: $(xprop -root _NET_CLIENT_LIST_STACKING)"
kill -CONT "$FIRST"
terminate_expect_zero "$FIRST" first "$E2E_TMP/first.err"

# 2. A first instance stuck before its window: its look at the file is held
# up for 20 s (as on a hung network share) once its instance name is out.
strace -f -o /dev/null -P "$E2E_TMP/first.kiv" -e trace=stat,newfstatat,statx \
  -e inject=all:delay_exit=20000000 "$KIVPLAY" "$E2E_TMP/first.kiv" >/dev/null 2>"$E2E_TMP/stuck.err" &
TRACER=$!
E2E_PIDS+=("$TRACER")
NAME="@kivplay-$(id -u)@%3A${DISPLAY#:}-myclass-kiv player"
published() { grep -qF "$NAME" /proc/net/unix; }
wait_until 15 published || fail "stuck: the first instance never published its name"
STUCK=$(child_pid "$TRACER") || fail "stuck: no player under strace"
run_second stuck 2000
grep -qxF "kivplay: the player already running (process $STUCK) is not answering and has no window yet" \
  "$E2E_TMP/stuck.err" || fail "stuck: stderr was: $(cat "$E2E_TMP/stuck.err")"
kill -KILL "$STUCK"
kill -KILL "$TRACER" 2>/dev/null || true  # it would wait out its delay
wait "$TRACER" 2>/dev/null || true
echo "PASS"
