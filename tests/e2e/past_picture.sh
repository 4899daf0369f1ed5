#!/usr/bin/env bash
# Files whose pictures expand past their picture but stay within the buffer
# they are decoded into play in the window exactly as `kivtool render` shows
# them, export and make thumbnails, and `kivtool check` calls them sound with
# a note: 909 and 919 files
# whose background is stored 768 wide like their frames, and a 949 frame one
# byte longer than its picture. A frame past the player's frame buffer is
# refused by both.
source "$(dirname "$0")/lib.sh"
export SDL_AUDIODRIVER=dummy
cd "$E2E_TMP"

python3 - <<'PY'
import struct

def runs(picture, width):
    # Runs of equal bytes (at most 0x7FF8), never crossing a row.
    out = bytearray()
    for row in range(0, len(picture), width):
        line = picture[row:row + width]
        x = 0
        while x < len(line):
            n = 1
            while x + n < len(line) and line[x + n] == line[x] and n < 0x7FF8:
                n += 1
            out += bytes([n >> 8, n & 0xFF, line[x]])
            x += n
    return bytes(out)

def chunk(payload):
    return b"FRME" + struct.pack("<I", len(payload)) + payload

def picture(width, height, seed, hole):
    # Blocks of 16 x 16; the left quarter is index 127, where the background shows.
    return bytes(127 if hole and x < width // 4 else (x // 16 + 3 * (y // 16) + seed) % 120 + 130
                 for y in range(height) for x in range(width))

def header(version, last, width=720, height=576):
    head = b"KIVA" + bytes(4) + struct.pack("<ifIIII", version, 25.0, 0, last, 0, last)
    if version == 949:
        head += struct.pack("<ii", width, height)
    return head + bytes({909: 0, 919: 7500}.get(version, 6480))

# 909 and 919: background and frames stored 768 x 576.
background = runs(bytes((x // 8 + y) % 60 + 64 for y in range(576) for x in range(768)), 768)
for version in (909, 919):
    frames = [runs(picture(768, 576, k, True), 768) for k in (0, 40)]
    with open(f"wide{version}.kiv", "wb") as out:
        out.write(header(version, 1) + chunk(background) + b"".join(chunk(f) for f in frames))

# 949, 160 x 120: frame 1 expands one byte past its picture.
bg = runs(bytes((x + y) % 60 + 64 for y in range(120) for x in range(160)), 160)
frames = [runs(picture(160, 120, k, True), 160) for k in (0, 40)]
frames[1] += bytes([0x81, 0x05])
with open("onemore.kiv", "wb") as out:
    out.write(header(949, 1, 160, 120) + chunk(bg) + bytes(8) + b"".join(chunk(f) for f in frames))

# 949, 160 x 120: frame 1 expands past the 5764800-byte frame buffer.
past = bytes([0x7F, 0xF8, 0x05]) * 176
with open("pastbuffer.kiv", "wb") as out:
    out.write(header(949, 1, 160, 120) + chunk(bg) + bytes(8) + chunk(frames[0]) + chunk(past))
PY

start_xvfb

# rgb FILE: the raw RGB bytes of a picture (written once, next to it).
rgb() {
  [ -s "$1.rgb" ] || /usr/bin/convert "$1" -depth 8 rgb:"$1.rgb"
  echo "$1.rgb"
}

for name in wide909 wide919 onemore; do
  "$KIVTOOL" check "$name.kiv" >check.out 2>check.err || fail "$name: check exited $?: $(cat check.err)"
  [ "$(head -n1 check.out)" = "$name.kiv: ok" ] || fail "$name: check said $(cat check.out)"
  [ "$(wc -l <check.out)" -eq 2 ] && grep -q "^$name.kiv: note: .* past its .*-byte picture" check.out ||
    fail "$name: no note: $(cat check.out)"
  "$KIVTOOL" render "$name.kiv" -o "$name-%d.png" || fail "$name: render failed"
  # The other commands read the same pictures: the exported frame over the
  # background is the rendered screen's frame area.
  "$KIVTOOL" export "$name.kiv" --composite -o "$name-e%d.png" || fail "$name: export failed"
  "$KIVTOOL" export "$name.kiv" --salvage -o "$name-s%d.png" || fail "$name: export --salvage failed"
  "$KIVTOOL" thumbnail "$name.kiv" "$name-thumb.png" || fail "$name: thumbnail failed"
  geometry=$(/usr/bin/convert "$name-e0.png" -format '%wx%h' info:)
  /usr/bin/convert "$name-0.png" -crop "$geometry+40+12" +repage -depth 8 rgb:area.rgb
  /usr/bin/convert "$name-e0.png" -depth 8 rgb:exported.rgb
  cmp -s area.rgb exported.rgb || fail "$name: the exported frame differs from the rendered one"

  "$KIVPLAY" "$name.kiv" >play.out 2>play.err &
  player=$!
  E2E_PIDS+=($player)
  window=$(wait_for_window "^$name\\.kiv - KIV Player 3\\.1\$" 30) || fail "$name: no window: $(cat play.err)"
  # Playing alternates the two frames: within 10 seconds the window shows each
  # of the rendered screens.
  seen0=0 seen1=0
  for _ in $(seq 1 100); do
    import -window "$window" -depth 8 png:shot.png 2>/dev/null || true
    if [ -s shot.png ]; then
      /usr/bin/convert shot.png -depth 8 rgb:shot.rgb
      cmp -s shot.rgb "$(rgb "$name-0.png")" && seen0=1
      cmp -s shot.rgb "$(rgb "$name-1.png")" && seen1=1
    fi
    [ $seen0 = 1 ] && [ $seen1 = 1 ] && break
    sleep 0.1
  done
  [ $seen0 = 1 ] && [ $seen1 = 1 ] || fail "$name: the window did not show both rendered frames ($seen0 $seen1)"
  kill -0 "$player" || fail "$name: the player ended: $(cat play.err)"
  terminate_expect_zero "$player" "$name" play.err
  echo "$name: plays and checks"
done

# Past the frame buffer: refused, by the player with its message.
status=0
"$KIVTOOL" check pastbuffer.kiv >check.out 2>check.err || status=$?
[ $status -eq 1 ] || fail "pastbuffer: check exited $status"
grep -q "frame 1: run overruns the 5764800-byte frame buffer" check.err || fail "pastbuffer: $(cat check.err)"
status=0
timeout 60 "$KIVPLAY" pastbuffer.kiv >play.out 2>play.err || status=$?
[ $status -eq 255 ] || fail "pastbuffer: player exit status $status"
grep -qxF "Fatal error: Unable to load KIV file or corrupt KIV file" play.err ||
  fail "pastbuffer: no message: $(cat play.err)"
echo "PASS"
