#!/bin/bash
# A window published by one process is found by another through FindWindowA;
# IsIconic, ShowWindow(SW_RESTORE) and SetForegroundWindow on it make the
# owner de-iconify and raise its SDL window (under a window manager).
source "$(dirname "$0")/lib.sh"

PROBE=${KEYBOARD_PROBE:-${KIV_BINARY_DIR:-}/tests/platform/keyboard_probe}
[ -x "$PROBE" ] || fail "keyboard probe not built: $PROBE"

start_xvfb
start_window_manager
TITLE="raise probe $$"
"$PROBE" serve "$TITLE" >"$E2E_TMP/serve.txt" 2>"$E2E_TMP/serve.err" &
SERVER=$!
E2E_PIDS+=("$SERVER")
id=$(wait_for_window "^$TITLE\$" 10) || fail "serving probe did not appear: $(cat "$E2E_TMP/serve.err")"

wm_state() { xprop -id "$id" WM_STATE 2>/dev/null | sed -n 's/.*window state: //p'; }

# find: runs the second process; its output in $found, its status in $found_status.
find_window() {
  found_status=0
  found=$("$PROBE" find "$1" 2>&1) || found_status=$?
}

for i in $(seq 1 30); do [ "$(wm_state)" = Normal ] && break; sleep 0.1; done
[ "$(wm_state)" = Normal ] || fail "window not managed: $(xprop -id "$id" WM_STATE)"

xdotool windowminimize --sync "$id"
[ "$(wm_state)" = Iconic ] || fail "window did not iconify"

find_window "$TITLE"
[ "$found_status" = 0 ] || fail "second process did not find the window: $found"
[ "$found" = "iconic 1
foreground 1" ] || fail "unexpected answers: $found"
for i in $(seq 1 30); do [ "$(wm_state)" = Normal ] && break; sleep 0.1; done
[ "$(wm_state)" = Normal ] || fail "window was not restored: state $(wm_state)"
for i in $(seq 1 30); do [ "$(xdotool getactivewindow 2>/dev/null)" = "$id" ] && break; sleep 0.1; done
[ "$(xdotool getactivewindow 2>/dev/null)" = "$id" ] || fail "restored window is not the active one"

# Not minimised now: the owner says so, and nothing is restored.
find_window "$TITLE"
[ "$found" = "iconic 0
foreground 1" ] || fail "unexpected answers for a shown window: $found"

# A window nobody published is not found.
find_window "another title"
[ "$found_status" = 1 ] && [ "$found" = "not found" ] || fail "found a window that does not exist: $found"

# The owner ends cleanly on SIGTERM, and its name goes with it.
terminate_expect_zero "$SERVER" "serving probe"
find_window "$TITLE"
[ "$found_status" = 1 ] || fail "window still found after its process ended: $found"
echo "window_enum_raise: ok"
