#!/bin/bash
# EnumWindows/GetWindowTextA list the X display's top-level client windows
# with their titles, with and without a window manager's frames around them,
# plus the process's own windows.
source "$(dirname "$0")/lib.sh"

PROBE=${KEYBOARD_PROBE:-${KIV_BINARY_DIR:-}/tests/platform/keyboard_probe}
[ -x "$PROBE" ] || fail "keyboard probe not built: $PROBE"

start_xvfb
xmessage -title "Winamp 5.9" "playing" 2>/dev/null &
E2E_PIDS+=($!)
wait_for_window "^Winamp 5\.9$" 10 >/dev/null || fail "xmessage did not appear"

# list: the probe's EnumWindows output.
list() {
  "$PROBE" enum >"$E2E_TMP/list.txt" 2>"$E2E_TMP/probe.err" || fail "probe enum failed: $(cat "$E2E_TMP/probe.err")"
}

list
grep -qx "window Winamp 5.9" "$E2E_TMP/list.txt" || fail "no X window titled Winamp 5.9 in: $(cat "$E2E_TMP/list.txt")"
[ "$(grep -c "^own " "$E2E_TMP/list.txt")" = 1 ] || fail "own window not listed once: $(cat "$E2E_TMP/list.txt")"
grep -qx "own probe own window" "$E2E_TMP/list.txt" || fail "own window title wrong: $(cat "$E2E_TMP/list.txt")"

# Under a window manager the top-level windows are frames; the titles sit on
# the client windows inside them, exactly once each.
start_window_manager
for i in $(seq 1 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
sleep 0.3
list
[ "$(grep -cx "window Winamp 5.9" "$E2E_TMP/list.txt")" = 1 ] ||
  fail "Winamp 5.9 not listed once under a window manager: $(cat "$E2E_TMP/list.txt")"

# A title set only as UTF-8 (_NET_WM_NAME) is read as well.
xmessage -title "placeholder" "second" 2>/dev/null &
E2E_PIDS+=($!)
id=$(wait_for_window "^placeholder$" 10) || fail "second xmessage did not appear"
xprop -id "$id" -f _NET_WM_NAME 8u -set _NET_WM_NAME "winamp – ünïcode"
list
grep -qx "window winamp – ünïcode" "$E2E_TMP/list.txt" || fail "UTF-8 title not read: $(cat "$E2E_TMP/list.txt")"
echo "window_enum: ok"
