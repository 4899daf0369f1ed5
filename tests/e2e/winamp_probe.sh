#!/usr/bin/env bash
# With music-player windows open, kivplay prints "Winamp found!" once per
# matching window, leaves the sound device closed and still plays.
source "$(dirname "$0")/lib.sh"
start_xvfb

make_kiv() { python3 "$(dirname "$0")/startup_make_kiv.py" "$@"; }
make_kiv "$E2E_TMP/anim.kiv" 320 240 10 25

# play NAME: runs kivplay until its window shows, then ends it; sound goes to
# $E2E_TMP/NAME.raw through SDL's disk driver if the device is opened.
play() {
  local name=$1 pid status
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$E2E_TMP/$name.raw" \
    "$KIVPLAY" "$E2E_TMP/anim.kiv" >"$E2E_TMP/$name.out" 2>"$E2E_TMP/$name.err" &
  pid=$!
  E2E_PIDS+=("$pid")
  wait_for_window 'anim\.kiv - KIV Player 3\.1' 15 >/dev/null ||
    fail "$name: no window (kivplay $(kill -0 "$pid" 2>/dev/null && echo running || echo ended)): $(cat "$E2E_TMP/$name.out" "$E2E_TMP/$name.err")"
  sleep 0.5
  terminate_expect_zero "$pid" "$name: kivplay"
}
found() { grep -c '^Winamp found!$' "$E2E_TMP/$1.out" || true; }

# open_window TITLE: an xmessage with that title. (xdotool matches names
# without regard to case, so wait for one more match than before.)
open_window() {
  local before i
  before=$(xdotool search --name "^$1\$" 2>/dev/null | wc -l || true)
  xmessage -title "$1" "$1" >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  for i in $(seq 1 100); do
    if [ "$(xdotool search --name "^$1\$" 2>/dev/null | wc -l || true)" -gt "$before" ]; then
      return 0
    fi
    sleep 0.1
  done
  fail "no window titled $1"
}

play none
[ "$(found none)" -eq 0 ] || fail "none: $(cat "$E2E_TMP/none.out")"
[ -e "$E2E_TMP/none.raw" ] || fail "none: the sound device was not opened"

open_window "Winamp 5.9"
open_window "WINAMP"
open_window "Notes"
play one
[ "$(found one)" -eq 1 ] || fail "one: $(cat "$E2E_TMP/one.out")"
[ ! -e "$E2E_TMP/one.raw" ] || fail "one: the sound device was opened"

open_window "winamp"
open_window "Winam"
play three
[ "$(found three)" -eq 3 ] || fail "three: $(cat "$E2E_TMP/three.out")"
[ ! -e "$E2E_TMP/three.raw" ] || fail "three: the sound device was opened"

echo "PASS"
