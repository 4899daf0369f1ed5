#!/usr/bin/env bash
# Minimising the player stops its ticks and restoring resumes them; losing
# the input focus alone does not stop playback.
source "$(dirname "$0")/lib.sh"
start_xvfb
start_window_manager

make_kiv() { python3 "$(dirname "$0")/startup_make_kiv.py" "$@"; }

make_kiv "$E2E_TMP/grey.kiv" 320 240 62 5
"$KIVPLAY" "$E2E_TMP/grey.kiv" >"$E2E_TMP/player.out" 2>"$E2E_TMP/player.err" &
PLAYER=$!
E2E_PIDS+=("$PLAYER")
WINDOW=$(wait_for_window 'grey\.kiv - KIV Player 3\.1' 15) || fail "no window: $(cat "$E2E_TMP/player.err")"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# shoot: sets FRAME to the frame number (mod 62) in the middle of the frame
# area and SHOT_MS to the time of the screenshot (the middle of the ~0.5 s
# that it takes). Right after a restore the window may be black until the
# next frame is drawn, or not yet mapped again (import then fails); both are
# retried.
shoot() {
  local shot="$E2E_TMP/shot.png" grey="" start i
  for i in 1 2 3 4 5 6 7 8 9 10; do
    start=$(now_ms)
    if ! import -window "$WINDOW" -depth 8 png:"$shot" 2>"$E2E_TMP/import.err"; then
      sleep 0.2
      continue
    fi
    SHOT_MS=$(((start + $(now_ms)) / 2))
    grey=$(/usr/bin/convert "$shot" -crop 1x1+200+132 +repage -depth 8 rgb:- | od -An -tu1 | awk '{print $1}')
    if [ -n "$grey" ] && [ "$grey" -ge 4 ] && [ $((grey % 4)) -eq 0 ]; then
      FRAME=$((grey / 4 - 1))
      return 0
    fi
  done
  fail "no frame on screen (grey '$grey'; $(cat "$E2E_TMP/import.err"))"
}
advance() { echo $((($2 - $1 + 62) % 62)); }
# expect_playing FROM-FRAME FROM-MS WHAT: the frames since then match 5 fps
# (each screenshot time is known to about a quarter second).
expect_playing() {
  local frames expected
  frames=$(advance "$1" "$FRAME")
  expected=$(((SHOT_MS - $2) * 5 / 1000))
  [ "$frames" -ge $((expected - 4)) ] && [ "$frames" -le $((expected + 4)) ] ||
    fail "$3: $frames frames in $((SHOT_MS - $2)) ms at 5 fps"
}

sleep 1.5
shoot
f0=$FRAME t0=$SHOT_MS
sleep 2
shoot
expect_playing "$f0" "$t0" "playing"

# Minimised for 4 s: about 20 more frames if it kept ticking. Playback goes
# on until the minimise is done (on a busy machine that can take a second or
# more after the screenshot) and again once the window is restored; only the
# 4 s in between must add nothing.
before=$FRAME before_ms=$SHOT_MS
xdotool windowminimize --sync "$WINDOW"
minimised=$(now_ms)
sleep 4
xdotool windowactivate --sync "$WINDOW" 2>/dev/null
restored=$(now_ms)
shoot
paused=$(advance "$before" "$FRAME")
allowed=$((((minimised - before_ms) + (SHOT_MS - restored)) * 5 / 1000 + 4))
[ "$paused" -le "$allowed" ] ||
  fail "minimised: $paused frames went by (at most $allowed expected without ticks while minimised)"
f1=$FRAME t1=$SHOT_MS
sleep 2
shoot
expect_playing "$f1" "$t1" "restored"

# Focus to another window: playback goes on.
xmessage -title "Elsewhere" "focus here" >/dev/null 2>&1 &
E2E_PIDS+=($!)
OTHER=$(wait_for_window '^Elsewhere$' 10) || fail "no other window"
xdotool windowactivate --sync "$OTHER" 2>/dev/null
sleep 0.5
shoot
f2=$FRAME t2=$SHOT_MS
sleep 2
shoot
expect_playing "$f2" "$t2" "unfocused"

terminate_expect_zero "$PLAYER" kivplay
echo "PASS"
