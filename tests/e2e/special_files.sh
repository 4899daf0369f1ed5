#!/usr/bin/env bash
# A FIFO, a directory or a device is refused at once with status 255 and the
# usual message (a FIFO used to block the player beyond Ctrl-C, holding the
# single-instance name so that every later start ended silently).
source "$(dirname "$0")/lib.sh"
start_xvfb
export SDL_AUDIODRIVER=dummy

mkfifo "$E2E_TMP/pipe.kiv"
mkdir "$E2E_TMP/folder.kiv"
for path in "$E2E_TMP/pipe.kiv" "$E2E_TMP/folder.kiv" /dev/null; do
  status=0
  timeout 20 "$KIVPLAY" "$path" >/dev/null 2>"$E2E_TMP/err" || status=$?
  [ "$status" -eq 255 ] || fail "$path: exit status $status, expected 255"
  grep -qxF "Fatal error: Unable to load KIV file or corrupt KIV file" "$E2E_TMP/err" ||
    fail "$path: stderr was: $(cat "$E2E_TMP/err")"
done

# Nothing is left holding the instance: a real file plays.
python3 "$(dirname "$0")/startup_make_kiv.py" "$E2E_TMP/demo.kiv" 64 48 4 25
"$KIVPLAY" "$E2E_TMP/demo.kiv" >/dev/null 2>"$E2E_TMP/demo.err" &
PLAYER=$!
E2E_PIDS+=("$PLAYER")
wait_for_window 'demo\.kiv - KIV Player 3\.1' 15 >/dev/null || fail "demo: no window: $(cat "$E2E_TMP/demo.err")"
terminate_expect_zero "$PLAYER" demo "$E2E_TMP/demo.err"
echo "PASS"
