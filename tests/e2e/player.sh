#!/usr/bin/env bash
# Playback under Xvfb with real keystrokes: the window shows exactly the
# screens that `kivtool render` computes offscreen, Esc pauses, the arrows
# step, 4 resumes, L hides the background, Esc and F12 end with status 0,
# and a file that loads badly ends with status 255 and the message.
source "$(dirname "$0")/lib.sh"

[ -x "$MAKEDEMO" ] || fail "makedemo not built: $MAKEDEMO"

W=320
H=240
FRAMES=20
ANIM="$E2E_TMP/moving.kiv"
"$MAKEDEMO" --width $W --height $H --frames $FRAMES --fps 25 "$ANIM" || fail "makedemo failed"

# The screens offscreen: every frame while playing and while paused.
"$KIVTOOL" render "$ANIM" -o "$E2E_TMP/play%02d.png" || fail "render (playing) failed"
"$KIVTOOL" render "$ANIM" -o "$E2E_TMP/pause%02d.png" --paused || fail "render (paused) failed"

# rgb FILE: the raw 8-bit RGB bytes of a picture, through its palette.
rgb() {
  /usr/bin/convert "$1" -depth 8 rgb:"$1.rgb"
  echo "$1.rgb"
}

shot() {
  import -window "$WINDOW" -depth 8 png:"$E2E_TMP/$1.png"
  rgb "$E2E_TMP/$1.png"
}

# match SHOT KIND [FIRST LAST]: the frame number whose rendered screen equals
# the shot, or -1.
match() {
  local raw=$1 kind=$2 from=${3:-0} to=${4:-$((FRAMES - 1))} f name
  for f in $(seq "$from" "$to"); do
    name=$(printf '%s/%s%02d.png' "$E2E_TMP" "$kind" "$f")
    # The rendered screens never change: convert each one once.
    [ -s "$name.rgb" ] || rgb "$name" >/dev/null
    if cmp -s "$raw" "$name.rgb"; then
      echo "$f"
      return 0
    fi
  done
  echo -1
}

# pixel SHOT X Y: "r,g,b" of one pixel.
pixel() {
  /usr/bin/convert "${1%.rgb}" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}

# A press held for 120 ms, as a person types (well below the 250 ms before
# the keyboard repeats); the quick taps are tested on their own below.
press() {
  xdotool keydown "$1" sleep 0.12 keyup "$1"
}

key() {
  xdotool windowfocus --sync "$WINDOW"
  press "$1"
  sleep 0.3
}

# ended PID SECONDS: waits in this shell (the process's parent, so the status
# is known even when it ends while we poll) and sets STATUS.
ended() {
  local pid=$1 limit=$2 i
  for i in $(seq 1 $((limit * 10))); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && return 1
  STATUS=0
  wait "$pid" || STATUS=$?
}

# Starts the player on $ANIM and sets PLAYER and WINDOW. A player that ends
# at once with status 0 met another instance (another test run on this
# machine): try again a few times.
start_player() {
  local attempt
  for attempt in $(seq 1 10); do
    "$KIVPLAY" "$ANIM" >"$E2E_TMP/out.txt" 2>"$E2E_TMP/err.txt" &
    PLAYER=$!
    E2E_PIDS+=($PLAYER)
    local i
    for i in $(seq 1 100); do
      WINDOW=$(xdotool search --name " - KIV Player 3.1$" 2>/dev/null | head -n1 || true)
      if [ -n "$WINDOW" ]; then
        sleep 0.5
        return 0
      fi
      kill -0 $PLAYER 2>/dev/null || break
      sleep 0.1
    done
    kill -0 $PLAYER 2>/dev/null && fail "no player window"
    ended $PLAYER 1 || true
    [ "$STATUS" = 0 ] || fail "kivplay ended with status $STATUS: $(cat "$E2E_TMP/err.txt")"
    sleep 2
  done
  fail "no player window: another instance kept running"
}

start_xvfb

# --- Playing, pausing, stepping, the layer, resuming, Esc twice ----------------
start_player
[ "$(xwininfo -id "$WINDOW" | awk '/Width:/ {print $2}')" = $((W + 80)) ] || fail "window width"
[ "$(xwininfo -id "$WINDOW" | awk '/Height:/ {print $2}')" = $((H + 24)) ] || fail "window height"

# advancing NAME: every shot while playing is a rendered playing screen, and
# within 3 seconds (a loaded machine may be slow) a different one follows.
advancing() {
  local first next i
  first=$(match "$(shot "$1")" play)
  [ "$first" -ge 0 ] || fail "$1: the playing screen matches no rendered frame"
  for i in $(seq 1 10); do
    sleep 0.3
    next=$(match "$(shot "$1_next")" play)
    [ "$next" -ge 0 ] || fail "$1: a later playing screen matches no rendered frame"
    [ "$next" = "$first" ] || return 0
  done
  fail "$1: playback does not advance (frame $first)"
}

advancing playing

# Paused: two shots 300 ms apart are the same rendered paused screen (a loaded
# machine gets 3 seconds to take the key).
key Escape
current=-1
for i in $(seq 1 10); do
  a=$(shot paused1)
  sleep 0.3
  b=$(shot paused2)
  if cmp -s "$a" "$b"; then
    current=$(match "$a" pause)
    break
  fi
done
cmp -s "$a" "$b" || fail "Esc did not pause: screens 300 ms apart differ"
[ "$current" -ge 0 ] || fail "paused screen matches no rendered paused frame"

# shows NAME FRAME: within 3 seconds the window shows the paused screen of FRAME.
shows() {
  local got i
  for i in $(seq 1 10); do
    got=$(match "$(shot "$1")" pause)
    [ "$got" = "$2" ] && return 0
    sleep 0.3
  done
  fail "$1: expected the paused screen of frame $2, the window shows $got"
}

key Right
shows right $(((current + 1) % FRAMES))
key Left
shows left "$current"

# Taps (press and release sent together) with both cores busy: each one steps
# exactly one frame, even when its press and release reach the player in one
# batch. Right: tap, then wait for the next frame. Left: ten taps at once,
# then the window must settle on the start frame.
sh -c 'while :; do :; done' &
busy1=$!
E2E_PIDS+=($busy1)
sh -c 'while :; do :; done' &
busy2=$!
E2E_PIDS+=($busy2)
xdotool windowfocus --sync "$WINDOW"
for i in $(seq 1 10); do
  xdotool key Right
  shows "tap_right$i" $(((current + i) % FRAMES))
done
xdotool key Left Left Left Left Left Left Left Left Left Left
shows tap_left "$current"
# No late step follows: the screen stays on that frame.
a=$(shot tap_settled1)
sleep 0.5
b=$(shot tap_settled2)
cmp -s "$a" "$b" && [ "$(match "$b" pause)" = "$current" ] || fail "taps: the screen moved past frame $current"
kill "$busy1" "$busy2"
wait "$busy1" "$busy2" 2>/dev/null || true

# The top-right frame pixel is transparent in every frame of the generated
# animation: the background shows there until L hides it.
corner_x=$((40 + W - 2))
before=$(pixel "$(shot layer_on)" $corner_x 13)
[ "$before" != "255,255,255" ] || fail "background not shown ($before)"
key l
for i in $(seq 1 10); do
  after=$(pixel "$(shot layer_off)" $corner_x 13)
  [ "$after" = "255,255,255" ] && break
  sleep 0.3
done
[ "$after" = "255,255,255" ] || fail "L did not hide the background ($after)"
key l
shows layer_again "$current"

key 4
advancing resumed

key Escape
press Escape
ended $PLAYER 10 || fail "Esc while paused did not end the player"
[ "$STATUS" = 0 ] || fail "Esc while paused: exit status $STATUS"

# --- F12 while playing -----------------------------------------------------------
start_player
xdotool windowfocus --sync "$WINDOW"
press F12
ended $PLAYER 10 || fail "F12 did not end the player"
[ "$STATUS" = 0 ] || fail "F12: exit status $STATUS"

# --- A file whose first frame is above 0 plays from that frame ---------------------
ANIM="$E2E_TMP/late.kiv"
"$MAKEDEMO" --width 160 --height 120 --frames 6 --first 10 --fps 25 "$ANIM" || fail "makedemo failed"
"$KIVTOOL" render "$ANIM" -o "$E2E_TMP/late%02d.png" || fail "render (first frame 10) failed"
start_player
late=$(match "$(shot late)" late 10 15)
[ "$late" -ge 10 ] || fail "first frame 10: the screen matches no frame from 10 to 15"
xdotool windowfocus --sync "$WINDOW"
press Escape
press Escape
ended $PLAYER 10 || fail "first frame 10: Esc twice did not end the player"
[ "$STATUS" = 0 ] || fail "first frame 10: exit status $STATUS"

# --- Files that load badly ---------------------------------------------------------
# Cut inside the frame chunks: the header is sound, the load fails.
size=$(stat -c %s "$ANIM")
head -c $((size - 100)) "$ANIM" >"$E2E_TMP/cut.kiv"
printf 'KIVA this is not an animation' >"$E2E_TMP/junk.kiv"
for bad in cut junk; do
  for attempt in $(seq 1 5); do
    "$KIVPLAY" "$E2E_TMP/$bad.kiv" >"$E2E_TMP/$bad.out" 2>"$E2E_TMP/$bad.err" &
    pid=$!
    E2E_PIDS+=($pid)
    ended $pid 15 || fail "$bad file: the player did not end"
    # Status 0 at once: another instance was running; try again.
    [ "$STATUS" = 0 ] || break
    sleep 2
  done
  [ "$STATUS" = 255 ] || fail "$bad file: exit status $STATUS, expected 255"
  grep -q "Unable to load KIV file or corrupt KIV file" "$E2E_TMP/$bad.err" \
    || fail "$bad file: no message ($(cat "$E2E_TMP/$bad.err"))"
done
# The cut file passed the header probe: the video mode was set and the
# Player's load is what failed.
grep -q "video_mem" "$E2E_TMP/cut.out" || fail "cut file: refused before the video mode was set"

echo "player: ok"
