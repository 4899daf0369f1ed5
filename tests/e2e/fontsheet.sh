#!/usr/bin/env bash
# The built-in font sheet read by an independent TGA reader (ImageMagick):
# an 800 x 600 colour-mapped run-length picture whose pixels equal the ones
# our decoder produces, with the layout offsets the decoder relies on.
source "$(dirname "$0")/lib.sh"

sheet="$KIV_SOURCE_DIR/data/fontsheet.tga"
tests="$KIV_BINARY_DIR/tests/image/image_tests"
[ -f "$sheet" ] || fail "no $sheet"
[ -x "$tests" ] || fail "no $tests (build image_tests first)"

info=$(identify -format '%m %w %h %C %r' "$sheet")
case "$info" in
  "TGA 800 600 RLE PseudoClass"*) ;;
  *) fail "identify reads the sheet as: $info" ;;
esac

# Bottom row stored first: -auto-orient puts the top row first, as ours does.
/usr/bin/convert "$sheet" -auto-orient -depth 8 "rgb:$E2E_TMP/reader.rgb"
KIV_FONTSHEET_RGB="$E2E_TMP/ours.rgb" "$tests" --gtest_filter=FontSheet.DumpsDecodedPixelsAsRgb \
  >"$E2E_TMP/dump.log" 2>&1 || fail "dump failed: $(cat "$E2E_TMP/dump.log")"
size=$(stat -c %s "$E2E_TMP/ours.rgb")
[ "$size" -eq 1440000 ] || fail "our dump is $size bytes"
cmp -s "$E2E_TMP/reader.rgb" "$E2E_TMP/ours.rgb" ||
  fail "pixels differ: $(cmp "$E2E_TMP/reader.rgb" "$E2E_TMP/ours.rgb" 2>&1 | head -n1)"

# A glyph pixel and a strip background pixel seen by the reader: "A" starts at
# column 208 of row 522; its top row is ..##.... (ink at 210 and 211).
pixel() { /usr/bin/convert "$sheet" -auto-orient -format "%[pixel:p{$1,$2}]" info:; }
[ "$(pixel 210 522)" = "srgb(255,255,255)" ] || fail "ink at 210,522 is $(pixel 210 522)"
[ "$(pixel 208 522)" = "srgb(255,0,200)" ] || fail "paper at 208,522 is $(pixel 208 522)"

python3 - "$sheet" <<'PY' || fail "layout offsets"
import struct, sys
data = open(sys.argv[1], "rb").read()
size = len(data)
def u32(at): return struct.unpack_from("<I", data, at)[0]
header = struct.unpack_from("<BBBHHBHHHHBB", data, 0)
assert header == (0, 1, 9, 0, 256, 24, 0, 0, 800, 600, 8, 0), header
assert data[-18:] == b"TRUEVISION-XFILE.\0"
table = size - 26 - 2400
extension = u32(size - 26)
assert u32(size - 22) == 0, "developer directory"
assert extension + 495 == table, (extension, table)
assert struct.unpack_from("<H", data, extension)[0] == 495
assert u32(extension + 490) == table, "scan-line table offset field"
assert data[extension + 426:extension + 467].rstrip(b"\0") == b"kivplay make-fontsheet"
lines = [u32(table + 4 * i) for i in range(600)] + [extension]
assert lines[0] == 18 + 768, "colour map at 18, packets right after"
assert all(a < b and b - a <= 1600 for a, b in zip(lines, lines[1:]))
# Entry 2 of the colour map (blue, green, red) is white, entry 1 is 255,0,200.
assert data[18 + 3:18 + 9] == bytes((200, 0, 255, 255, 255, 255))
PY
echo "fontsheet: ok"
