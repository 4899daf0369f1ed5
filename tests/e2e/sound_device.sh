#!/usr/bin/env bash
# kivplay opens the sound device at start-up and releases it at the end: with
# SDL's disk driver the stream is written while the program runs and holds
# only silence (playback plays no sounds). With no audio device at all the
# program plays and ends normally, with the device left disabled.
source "$(dirname "$0")/lib.sh"
start_xvfb

python3 "$(dirname "$0")/startup_make_kiv.py" "$E2E_TMP/anim.kiv" 320 240 10 25

# run NAME DRIVER: kivplay until its window shows and a second more, then
# SIGTERM; the exit status must be 0.
run() {
  local name=$1 driver=$2 pid status
  SDL_AUDIODRIVER=$driver SDL_DISKAUDIOFILE="$E2E_TMP/$name.raw" \
    "$KIVPLAY" "$E2E_TMP/anim.kiv" >"$E2E_TMP/$name.out" 2>"$E2E_TMP/$name.err" &
  pid=$!
  E2E_PIDS+=("$pid")
  wait_for_window 'anim\.kiv - KIV Player' 15 >/dev/null || fail "$name: no window: $(cat "$E2E_TMP/$name.err")"
  sleep 1
  terminate_expect_zero "$pid" "$name: kivplay" "$E2E_TMP/$name.err"
}

run disk disk
[ -f "$E2E_TMP/disk.raw" ] || fail "disk: the sound device was not opened"
bytes=$(stat -c %s "$E2E_TMP/disk.raw")
# A second of 44,100 Hz 16-bit stereo is 176,400 bytes; allow for start-up.
[ "$bytes" -ge 88200 ] || fail "disk: only $bytes bytes of output in over a second"
[ $((bytes % 4)) -eq 0 ] || fail "disk: $bytes bytes is not whole stereo frames"
nonzero=$(tr -d '\000' <"$E2E_TMP/disk.raw" | wc -c)
[ "$nonzero" -eq 0 ] || fail "disk: $nonzero non-silent bytes in the output"

run none no-such-driver
[ ! -e "$E2E_TMP/none.raw" ] || fail "none: output written without a driver"

echo "PASS"
