#!/usr/bin/env bash
# Opening a KIV file through the installed desktop entry, as a file manager
# does: the path (blanks and all) reaches kivplay whole, and under a window
# manager the window carries the program's icon, not SDL's default one.
source "$(dirname "$0")/lib.sh"
start_xvfb
start_window_manager

root=$E2E_TMP/root
DESTDIR=$root cmake --install "$KIV_BINARY_DIR" --prefix /usr >/dev/null
export HOME=$E2E_TMP/home XDG_DATA_HOME=$E2E_TMP/home/.local/share XDG_DATA_DIRS=$root/usr/share:/usr/share
export PATH=$root/usr/bin:$PATH
mkdir -p "$XDG_DATA_HOME"

anim="$E2E_TMP/my animations/the demo.kiv"
mkdir -p "$(dirname "$anim")"
cp "$KIV_BINARY_DIR/demo/demo.kiv" "$anim"

gio launch "$root/usr/share/applications/kivplay.desktop" "$anim" >"$E2E_TMP/launch.log" 2>&1 ||
  fail "gio launch: $(cat "$E2E_TMP/launch.log")"
window=$(wait_for_window 'the demo\.kiv - KIV Player' 15) || fail "no player window"
pid=$(xdotool getwindowpid "$window") || fail "the player window has no _NET_WM_PID"
E2E_PIDS+=("$pid")
[ "$(xdotool getwindowname "$window")" = "$anim - KIV Player 3.1" ] ||
  fail "caption: $(xdotool getwindowname "$window")"

# _NET_WM_ICON is width, height, then one ARGB value per pixel; the expected
# values come from ImageMagick's reading of the 48-pixel theme icon.
icon=$(xprop -id "$window" -notype -f _NET_WM_ICON 32c _NET_WM_ICON | sed 's/^_NET_WM_ICON = //')
expected=$(/usr/bin/convert "$root/usr/share/icons/hicolor/48x48/apps/kivplay.png" -depth 8 rgba:- |
  python3 -c '
import sys
data = sys.stdin.buffer.read()
values = [48, 48] + [a << 24 | r << 16 | g << 8 | b
                     for r, g, b, a in zip(data[0::4], data[1::4], data[2::4], data[3::4])]
print(", ".join(map(str, values)))')
[ "$icon" = "$expected" ] || fail "window icon is not the program's icon: ${icon:0:60}..."

kill -TERM "$pid"
for _ in $(seq 1 150); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
! kill -0 "$pid" 2>/dev/null || fail "kivplay did not end on SIGTERM"
echo "desktop_open: ok"
