#!/usr/bin/env bash
# A quit while a large file loads from slow storage (every read of the file
# held up 40 ms) ends the player promptly with status 0: SIGINT, SIGTERM, the
# window's close button and F12. A sound file too large for the memory left
# to the player ends with status 255, the usual box and a line that names
# the memory shortage.
source "$(dirname "$0")/lib.sh"
start_xvfb
start_window_manager
export SDL_AUDIODRIVER=dummy

# 160 frames of noise, 67 MB: the slowed load takes more than ten seconds.
BIG="$E2E_TMP/big.kiv"
python3 "$(dirname "$0")/startup_make_kiv.py" "$BIG" 720 576 160 25 --noise

# quit_while_loading WAY: the time from the request to the end, in ms.
quit_while_loading() {
  local way=$1 tracer player window status start end
  strace -f -o /dev/null -P "$BIG" -e trace=read -e inject=read:delay_exit=40000 \
    "$KIVPLAY" "$BIG" >"$E2E_TMP/$way.out" 2>"$E2E_TMP/$way.err" &
  tracer=$!
  E2E_PIDS+=("$tracer")
  window=$(wait_for_window 'big\.kiv - KIV Player 3\.1' 30) || fail "$way: no window: $(cat "$E2E_TMP/$way.err")"
  player=$(child_pid "$tracer") || fail "$way: no player under strace"
  # The window shows before the load starts, and the load takes seconds.
  start=$(date +%s%N)
  case $way in
    SIGINT) kill -INT "$player" ;;
    SIGTERM) kill -TERM "$player" ;;
    close) wmctrl -i -c "$window" ;;
    F12)
      # Held until the end: a tap could come and go between two ticks.
      xdotool windowactivate --sync "$window" 2>/dev/null || true
      xdotool keydown F12
      ;;
  esac
  wait_exit "$tracer" 30 >"$E2E_TMP/status" || fail "$way: the player did not end"
  end=$(date +%s%N)
  [ "$way" != F12 ] || xdotool keyup F12
  status=$(cat "$E2E_TMP/status")
  [ "$status" = 0 ] || fail "$way: exit status $status: $(cat "$E2E_TMP/$way.err")"
  [ ! -s "$E2E_TMP/$way.err" ] || fail "$way: stderr: $(cat "$E2E_TMP/$way.err")"
  echo $(((end - start) / 1000000))
}

for way in SIGINT SIGTERM close F12; do
  ms=$(quit_while_loading "$way")
  echo "$way: ended $ms ms after the request"
  # About 100 ms on an idle machine; the margin is for two busy cores.
  [ "$ms" -lt 2000 ] || fail "$way: took $ms ms to end"
done

# Out of memory: 40 frames of 63 MiB zero runs, stored sparse, under an
# address-space limit well above what the player needs to start.
if ldd "$KIVPLAY" | grep -q libasan; then
  echo "memory: skipped (the address sanitizer needs all the address space)"
else
  HUGE="$E2E_TMP/huge.kiv"
  python3 - "$HUGE" <<'PY'
import struct, sys
frames, payload = 40, 63 << 20
head = b"KIVA" + bytes(4) + struct.pack("<ifIIIIii", 949, 25.0, 0, frames - 1, 0, frames - 1, 64, 48)
head += bytes(6480) + b"FRME" + struct.pack("<I", 3) + bytes([0x0C, 0x00, 0x01]) + bytes(4 * frames)
with open(sys.argv[1], "wb") as out:
    out.write(head)
    for k in range(frames):
        out.write(b"FRME" + struct.pack("<I", payload))
        out.seek(payload - (1 if k == frames - 1 else 0), 1)
    out.write(b"\0")
PY
  status=0
  (ulimit -v 1600000; exec timeout 120 "$KIVPLAY" "$HUGE") >"$E2E_TMP/memory.out" 2>"$E2E_TMP/memory.err" || status=$?
  [ "$status" -eq 255 ] || fail "memory: exit status $status: $(cat "$E2E_TMP/memory.err")"
  grep -qE '^kivplay: not enough memory for frame [0-9]+ of 40$' "$E2E_TMP/memory.err" ||
    fail "memory: no line naming the shortage: $(cat "$E2E_TMP/memory.err")"
  grep -qxF "Fatal error: Unable to load KIV file or corrupt KIV file" "$E2E_TMP/memory.err" ||
    fail "memory: the box is missing: $(cat "$E2E_TMP/memory.err")"
  grep "not enough memory" "$E2E_TMP/memory.err"
fi
echo "PASS"
