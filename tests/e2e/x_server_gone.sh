#!/usr/bin/env bash
# When the X server goes away under a playing or a paused player, it ends at
# once with status 255 and "Fatal error: lost the connection to the X
# display NAME", never by a signal (Xlib's exit() used to unload libraries
# under SDL's running threads). ROUNDS (default 2) rounds of each. Started
# with no X server at all, it ends with 255 instead of playing unseen.
source "$(dirname "$0")/lib.sh"
export SDL_AUDIODRIVER=dummy
ROUNDS=${ROUNDS:-2}

python3 "$(dirname "$0")/startup_make_kiv.py" "$E2E_TMP/gone.kiv" 320 240 20 25

# credit_strip WINDOW: a checksum of the credit line, which differs between
# playing and paused.
credit_strip() {
  import -window "$1" -depth 8 png:- 2>/dev/null | /usr/bin/convert png:- -crop 400x8+0+253 rgb:- | md5sum
}

# round STATE SIGNAL: one player on its own Xvfb, which SIGNAL ends.
round() {
  local state=$1 signal=$2 server player window playing i status
  rm -f "$E2E_TMP/display"
  start_xvfb
  server=${E2E_PIDS[-1]}
  "$KIVPLAY" "$E2E_TMP/gone.kiv" >/dev/null 2>"$E2E_TMP/gone.err" &
  player=$!
  E2E_PIDS+=("$player")
  window=$(wait_for_window 'gone\.kiv - KIV Player 3\.1' 15) ||
    fail "$state: no window on $DISPLAY (player $(kill -0 "$player" 2>/dev/null && echo runs || echo ended)): $(cat "$E2E_TMP/gone.err")"
  if [ "$state" = paused ]; then
    playing=$(credit_strip "$window")
    xdotool windowfocus --sync "$window"
    # Held 120 ms: a tap could come and go between two ticks.
    xdotool keydown Escape sleep 0.12 keyup Escape
    for i in $(seq 1 100); do
      [ "$(credit_strip "$window")" != "$playing" ] && break
      sleep 0.1
    done
    [ "$(credit_strip "$window")" != "$playing" ] || fail "paused: the player did not pause"
  fi
  kill "-$signal" "$server"
  wait "$server" 2>/dev/null || true
  wait_exit "$player" 15 >"$E2E_TMP/status" || fail "$state/$signal: the player still runs without its X server"
  status=$(cat "$E2E_TMP/status")
  [ "$status" = 255 ] || fail "$state/$signal: exit status $status: $(cat "$E2E_TMP/gone.err")"
  grep -qxF "Fatal error: lost the connection to the X display $DISPLAY" "$E2E_TMP/gone.err" ||
    fail "$state/$signal: stderr was: $(cat "$E2E_TMP/gone.err")"
}

for n in $(seq 1 "$ROUNDS"); do
  echo "round $n"
  round playing TERM
  round paused KILL
done
# Started with no X server behind its display, it does not play on unseen.
# The last round's display number is free again, and a test running beside
# this one may start its Xvfb there: use a display whose lock file names this
# shell, which Xvfb takes as in use and skips.
nodisplay=""
for n in $(seq 100 199); do
  if (set -o noclobber; printf '%10d\n' $$ >"/tmp/.X$n-lock") 2>/dev/null; then
    nodisplay=$n
    break
  fi
done
[ -n "$nodisplay" ] || fail "no server: no display number to reserve"
trap 'rm -f "/tmp/.X$nodisplay-lock"; e2e_cleanup' EXIT
export DISPLAY=":$nodisplay"
status=0
timeout 20 "$KIVPLAY" "$E2E_TMP/gone.kiv" >/dev/null 2>"$E2E_TMP/none.err" || status=$?
[ "$status" = 255 ] || fail "no server: exit status $status"
grep -qxF "Fatal error: Unable to initialize graphics system" "$E2E_TMP/none.err" ||
  fail "no server: stderr was: $(cat "$E2E_TMP/none.err")"
echo "PASS"
