#!/bin/bash
# Real keystrokes under Xvfb: X -> SDL -> the platform layer's event filter ->
# WM_KEYDOWN/WM_KEYUP -> a thread keyboard hook keeping 256 key flags, as the
# player's main loop retrieves them (peek first, then get).
source "$(dirname "$0")/lib.sh"

PROBE=${KEYBOARD_PROBE:-${KIV_BINARY_DIR:-}/tests/platform/keyboard_probe}
[ -x "$PROBE" ] || fail "keyboard probe not built: $PROBE"

start_xvfb
OUT=$E2E_TMP/keys.txt
# Scan code 0x39 (Space) is consumed after each print, as the player clears
# a flag it acted on: a held key must set it again at the repeat rate.
"$PROBE" keys 39 >"$OUT" 2>"$E2E_TMP/probe.err" &
PROBE_PID=$!
E2E_PIDS+=("$PROBE_PID")
id=$(wait_for_window "^keyboard probe$" 20) ||
  fail "probe window did not appear (probe $(kill -0 "$PROBE_PID" 2>/dev/null && echo running || echo ended)): $(cat "$OUT" "$E2E_TMP/probe.err")"
xdotool windowfocus --sync "$id"

# await COUNT: waits until the output has COUNT lines.
await() {
  local i
  for i in $(seq 1 50); do
    [ "$(wc -l <"$OUT")" -ge "$1" ] && return 0
    sleep 0.05
  done
  fail "expected $1 lines of probe output, have: $(cat "$OUT")"
}
await 1
[ "$(head -n1 "$OUT")" = ready ] || fail "probe did not start: $(cat "$OUT")"

# tap KEY SCAN EXT: one press and release; prints the probe's virtual key.
tap() {
  local key=$1 scan=$2 ext=$3 before
  before=$(wc -l <"$OUT")
  xdotool key "$key"
  await $((before + 4))
  local lines
  lines=$(tail -n +$((before + 1)) "$OUT" | head -n 4)
  local expected="peek scan=$scan changed=0
key down scan=$scan ext=$ext prev=0 vk=VK flag=1
peek scan=$scan changed=0
key up scan=$scan ext=$ext prev=1 vk=VK flag=0"
  [ "$(sed -E 's/vk=0x[0-9a-f]+/vk=VK/' <<<"$lines")" = "$expected" ] ||
    fail "key $key: expected
$expected
got
$lines"
  sed -nE '2s/.*vk=(0x[0-9a-f]+).*/\1/p' <<<"$lines"
}

# The keys the player reads, each in its own flag; arrows are extended keys.
tap Escape 0x01 0 >/dev/null
tap 1 0x02 0 >/dev/null
tap 2 0x03 0 >/dev/null
tap 4 0x05 0 >/dev/null
tap l 0x26 0 >/dev/null
tap F12 0x58 0 >/dev/null
tap Up 0x48 1 >/dev/null
tap Left 0x4b 1 >/dev/null
tap Right 0x4d 1 >/dev/null
tap Down 0x50 1 >/dev/null

# Keypad 8, 4, 6, 2 (raw X keycodes) share the arrows' flags, with NumLock
# on and off; the virtual key tells the two states apart.
keypad_round() {
  local vks
  vks="$(tap 80 0x48 0) $(tap 83 0x4b 0) $(tap 85 0x4d 0) $(tap 88 0x50 0)"
  echo "$vks"
}
first=$(keypad_round)
tap Num_Lock 0x45 1 >/dev/null
second=$(keypad_round)
tap Num_Lock 0x45 1 >/dev/null
case "$first|$second" in
  "0x26 0x25 0x27 0x28|0x68 0x64 0x66 0x62" | "0x68 0x64 0x66 0x62|0x26 0x25 0x27 0x28") ;;
  *) fail "keypad with NumLock off and on gave virtual keys '$first' and '$second'" ;;
esac

# A held key: SDL's repeat (250 ms, then every 30 ms) sets the consumed flag
# again and again; the release clears it.
before=$(wc -l <"$OUT")
xdotool keydown space
sleep 1
xdotool keyup space
for i in $(seq 1 50); do
  tail -n +$((before + 1)) "$OUT" | grep -q "^key up scan=0x39" && break
  sleep 0.05
done
held=$(tail -n +$((before + 1)) "$OUT")
repeats=$(grep -c "^key down scan=0x39 ext=0 prev=1 vk=0x20 flag=1$" <<<"$held" || true)
grep -q "^key down scan=0x39 ext=0 prev=0 vk=0x20 flag=1$" <<<"$held" || fail "no first press of Space: $held"
grep -q "^key up scan=0x39 ext=0 prev=1 vk=0x20 flag=0$" <<<"$held" || fail "no release of Space: $held"
# About 25 repeats in the 750 ms after the delay; allow for a loaded machine.
[ "$repeats" -ge 12 ] && [ "$repeats" -le 40 ] || fail "held Space repeated $repeats times in 1 s"

# Only retrieval changes flags: no peek anywhere changed one.
! grep -q "changed=1" "$OUT" || fail "a peeked keystroke changed a flag: $(grep changed=1 "$OUT")"

# SIGTERM closes the probe's window through WM_CLOSE: a clean exit.
terminate_expect_zero "$PROBE_PID" probe
echo "keyboard: ok ($repeats repeats while held)"
