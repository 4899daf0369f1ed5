#!/usr/bin/env bash
# kivtool create reads pictures as colours: frames exported and rewritten by
# ImageMagick or ffmpeg come back with their indices, RGBA transparency
# shows the background, an animated GIF is composed as ffmpeg decodes it,
# and export followed by create gives the same file. Refusals leave no file.
source "$(dirname "$0")/lib.sh"
: "${KIVTOOL:?}" "${KIV_BINARY_DIR:?}"
cd "$E2E_TMP"

"$MAKEDEMO" --width 160 --height 120 --frames 12 --first 2 --fps 12.5 demo.kiv || fail "makedemo"
"$KIVTOOL" export demo.kiv -o 'f%02d.png' --background --start-number 2 -q || fail "export"

# Export and create with the same settings: the same file, byte for byte.
"$KIVTOOL" create -q -o again.kiv --fps 12.5 --first 2 --background fbackground.png f??.png || fail "create"
cmp demo.kiv again.kiv || fail "export and create changed the file"
# The loop numbers are written as given; a rate of 0 is allowed.
"$KIVTOOL" create -q -o loop.kiv --fps 0 --loop-start 4 --loop-end 7 f02.png f03.png || fail "loop"
"$KIVTOOL" info --json loop.kiv | python3 -c '
import json, sys
info = json.load(sys.stdin)
assert (info["loopStart"], info["loopEnd"], info["frameRate"]) == (4, 7, 0), info' || fail "loop numbers"

# Palette rewrites by ImageMagick and ffmpeg, RGB and RGBA copies: the same indices.
/usr/bin/convert f05.png -flop -flop PNG8:im.png
ffmpeg -loglevel error -y -i f05.png ff.png
/usr/bin/convert f05.png PNG24:rgb.png
/usr/bin/convert f05.png PNG32:rgba.png
for picture in im ff rgb rgba; do
  "$KIVTOOL" create -q -o "$picture.kiv" --fps 1 --first 5 "$picture.png" 2> err.txt || fail "create $picture"
  [ ! -s err.txt ] || fail "$picture: colours not exact: $(cat err.txt)"
  "$KIVTOOL" export "$picture.kiv" -o "back_$picture%02d.png" --start-number 5 -q
  cmp f05.png "back_${picture}05.png" || fail "$picture: indices changed"
done

# Colours off the screen palette take the nearest entry, and one line counts them.
/usr/bin/convert -size 1x1 xc:'rgb(205,39,0)' xc:'rgb(1,2,3)' xc:'rgb(96,126,255)' xc:'rgb(7,9,200)' +append PNG24:near2.png
/usr/bin/convert -size 1x1 xc:'rgb(205,39,0)' xc:'rgb(1,2,3)' xc:'rgb(96,126,255)' xc:'rgb(96,126,255)' +append PNG24:near1.png
for expected in "1 4 near1.png" "3 8 near2.png near1.png"; do
  set -- $expected
  "$KIVTOOL" create -q -o near.kiv --fps 1 "${@:3}" 2> err.txt || fail "create ${*:3}"
  [ "$(cat err.txt)" = "kivtool: create: $1 of $2 pixels had no exact screen-palette colour and took the nearest" ] ||
    fail "${*:3}: $(cat err.txt)"
done

# --dither: none keeps a flat grey flat, ordered repeats its 8 x 8 pattern
# over levels around the grey, diffusion mixes the two ramp entries either side.
/usr/bin/convert -size 16x16 xc:'rgb(130,130,130)' PNG24:grey.png
for dither in none ordered diffusion; do
  "$KIVTOOL" create -q -o "grey_$dither.kiv" --fps 1 --dither $dither grey.png 2> /dev/null || fail "--dither $dither"
  "$KIVTOOL" export "grey_$dither.kiv" --format rgb24 -o "grey_$dither.rgb" -q
done
python3 - <<'PY' || fail "--dither"
def levels(name):
    data = open('grey_%s.rgb' % name, 'rb').read()
    return [list(data[y * 48:(y + 1) * 48:3]) for y in range(16)]
none, ordered, diffusion = levels('none'), levels('ordered'), levels('diffusion')
assert {v for row in none for v in row} == {128}, none
assert all(ordered[y][x] == ordered[y % 8][x % 8] for y in range(16) for x in range(16)), ordered
assert len({v for row in ordered for v in row}) > 2, ordered
assert {v for row in diffusion for v in row} == {128, 132}, diffusion
PY

# RGBA transparency lets the background show in the player's screen.
"$KIVTOOL" create -q -o rgba_bg.kiv --fps 12.5 --first 5 --background fbackground.png rgba.png
"$KIVTOOL" render rgba_bg.kiv -o 'r_new%d.png' -q
"$KIVTOOL" render demo.kiv --frames 5 -o 'r_old%d.png' -q
for which in new old; do /usr/bin/convert "r_${which}5.png" -crop 160x120+40+12 +repage "PNG24:area_$which.png"; done
[ "$(/usr/bin/compare -metric AE area_new.png area_old.png null: 2>&1)" = "0" ] || fail "background through alpha"

# A 4-bit palette PNG of screen colours keeps its colours.
python3 - <<'PY'
import struct, zlib
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
rows = b''.join(b'\0' + bytes([0x01, 0x20]) for _ in range(2))  # pixels 0 1 2 0 in 4 bits each
png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 4, 2, 4, 3, 0, 0, 0)) +
       chunk(b'PLTE', bytes([205, 39, 0, 96, 126, 255, 230, 147, 127])) +
       chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))
open('four.png', 'wb').write(png)
PY
"$KIVTOOL" create -q -o four.kiv --fps 1 four.png || fail "4-bit create"
"$KIVTOOL" export four.kiv -o 'four_%d.png' -q
for at in "0 205,39,0" "1 96,126,255" "2 230,147,127" "3 205,39,0"; do
  set -- $at
  colour=$(/usr/bin/convert four_0.png -format "%[pixel:p{$1,0}]" info:)
  [ "$colour" = "srgb($2)" ] || [ "$colour" = "srgba($2,1)" ] || fail "4-bit pixel $1: $colour, not $2"
done

# An animated GIF with offsets, local colour tables, transparency,
# interlace and each disposal method: every frame as ffmpeg composes it.
/usr/bin/convert -delay 8 -interlace GIF -dispose None -size 40x30 xc:'rgb(205,39,0)' \
  -dispose Background -page +5+5 -size 10x10 xc:'rgb(96,126,255)' \
  -dispose Previous -page +20+10 -size 12x12 xc:none -fill 'rgb(0,0,0)' -draw 'rectangle 2,2 5,5' \
    -fill 'rgb(255,0,200)' -draw 'rectangle 6,6 11,11' \
  -dispose None -page +30+20 -size 10x10 xc:'rgb(230,147,127)' \
  -dispose None -page +0+0 -size 6x6 xc:'rgb(175,190,255)' \
  -page 40x30 anim.gif
ffmpeg -loglevel error -y -i anim.gif -vsync 0 'ff_%d.png'
"$KIVTOOL" create -q -o gif.kiv anim.gif 2> err.txt || fail "create from GIF: $(cat err.txt)"
[ ! -s err.txt ] || fail "one delay throughout, yet: $(cat err.txt)"
"$KIVTOOL" info --json gif.kiv | python3 -c '
import json, sys
info = json.load(sys.stdin)
assert (info["frameRate"], info["frames"]) == (12.5, 5), info' || fail "GIF rate or frame count"
"$KIVTOOL" export gif.kiv -o 'gif_%d.png' --start-number 1 -q
for k in 1 2 3 4 5; do
  /usr/bin/convert "ff_$k.png" -background black -alpha remove PNG24:a.png
  /usr/bin/convert "gif_$k.png" -background black -alpha remove PNG24:b.png
  [ "$(/usr/bin/compare -metric AE a.png b.png null: 2>&1)" = "0" ] || fail "GIF frame $k differs from ffmpeg's"
done

# Delays that vary: the most common gives the rate, whether the shortest or
# the longest, and one line says so.
/usr/bin/convert -delay 4 -size 8x8 xc:'rgb(205,39,0)' xc:'rgb(96,126,255)' xc:black -delay 10 xc:white varied.gif
/usr/bin/convert -delay 4 -size 8x8 xc:'rgb(205,39,0)' -delay 10 xc:'rgb(96,126,255)' xc:black xc:white slow.gif
for expected in "varied 25" "slow 10"; do
  set -- $expected
  "$KIVTOOL" create -q -o "$1.kiv" "$1.gif" 2> err.txt || fail "create from $1.gif"
  [ "$(wc -l < err.txt)" = 1 ] && grep -q "vary from 4 to 10 cs; using $2 fps" err.txt || fail "$1.gif: $(cat err.txt)"
done
"$KIVTOOL" create -q -o varied.kiv --fps 10 varied.gif 2> err.txt
[ ! -s err.txt ] || fail "--fps given, yet: $(cat err.txt)"

# Delays of 0 show as 10 cs, so all-0 delays, and 0 mixed with 10, give
# 10 fps without a word. GIF87a, the older form, has no delays at all.
/usr/bin/convert -size 8x8 xc:'rgb(205,39,0)' xc:'rgb(96,126,255)' xc:black +adjoin gif87:old%d.gif
gifsicle --merge old0.gif old1.gif old2.gif > old.gif
[ "$(head -c 6 old.gif)" = GIF87a ] || fail "gifsicle did not write a GIF87a"
/usr/bin/convert -delay 0 -size 8x8 xc:'rgb(205,39,0)' xc:'rgb(96,126,255)' xc:black zero.gif
/usr/bin/convert -delay 0 -size 8x8 xc:'rgb(205,39,0)' xc:'rgb(96,126,255)' -delay 10 xc:black zero_ten.gif
for gif in old zero zero_ten; do
  "$KIVTOOL" create -q -o "$gif.kiv" "$gif.gif" 2> err.txt || fail "create from $gif.gif: $(cat err.txt)"
  [ ! -s err.txt ] || fail "$gif.gif: $(cat err.txt)"
  "$KIVTOOL" info --json "$gif.kiv" | python3 -c '
import json, sys
info = json.load(sys.stdin)
assert (info["frameRate"], info["frames"]) == (10, 3), info' || fail "$gif.gif: rate or frame count"
  "$KIVTOOL" export "$gif.kiv" -o "${gif}_%d.png" -q
  colour=$(/usr/bin/convert "${gif}_1.png" -format '%[pixel:p{3,3}]' info:)
  [ "$colour" = "srgb(96,126,255)" ] || [ "$colour" = "srgba(96,126,255,1)" ] || fail "$gif.gif frame 1: $colour"
done

# A PNG stream on standard input, as export -o - writes it.
"$KIVTOOL" export demo.kiv -o - -q | "$KIVTOOL" create -q -o piped.kiv --fps 12.5 --first 2 \
  --background fbackground.png - || fail "create from a stream"
cmp demo.kiv piped.kiv || fail "the stream changed the file"

# The palette for artists, as a swatch and as a GIMP palette.
"$KIVTOOL" palette -o swatch.png && "$KIVTOOL" palette -o screen.gpl || fail "palette"
[ "$(/usr/bin/identify -format '%wx%h' swatch.png)" = "16x16" ] || fail "swatch size"
[ "$(/usr/bin/convert swatch.png -format '%[pixel:p{0,8}]' info:)" = "srgba(96,126,255,1)" ] || \
  [ "$(/usr/bin/convert swatch.png -format '%[pixel:p{0,8}]' info:)" = "srgb(96,126,255)" ] || fail "swatch entry 128"
[ "$(/usr/bin/convert swatch.png -format '%[fx:p{15,7}.a]' info:)" = "0" ] || fail "swatch entry 127 not transparent"
head -n1 screen.gpl | grep -qx 'GIMP Palette' || fail "gpl header"
[ "$(grep -c '^ *[0-9]\+ \+[0-9]\+ \+[0-9]\+' screen.gpl)" = "256" ] || fail "gpl entries"

# Refusals: one line naming the input or output and why; no file left.
refuse() {  # refuse PATTERN COMMAND...: exit 2, stderr matches PATTERN
  local pattern=$1
  shift
  set +e
  "$KIVTOOL" "$@" > /dev/null 2> err.txt
  local status=$?
  set -e
  [ $status -eq 2 ] || fail "kivtool $*: exit $status"
  grep -q -- "$pattern" err.txt || fail "kivtool $*: $(cat err.txt)"
}
python3 - <<'PY'
import struct, zlib
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
# The header claims 20000 x 20000; the refusal must come before the pixels.
data = zlib.compress(b'\0' + bytes(60000))
open('huge.png', 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 20000, 20000, 8, 2, 0, 0, 0)) +
                             chunk(b'IDAT', data) + chunk(b'IEND', b''))
PY
refuse "huge.png: is 20000x20000" create -o huge.kiv --fps 1 huge.png
[ ! -e huge.kiv ] || fail "a refused create left a file"
refuse "f03.png: is 160x120, the first picture 4x2" create -o mixed.kiv --fps 1 four.png f03.png
# Every later picture, PNG or GIF, has the first one's width and height.
for size in 64x48 64x40 40x48; do /usr/bin/convert -size "$size" xc:'rgb(205,39,0)' "p$size.png"; done
/usr/bin/convert -size 64x40 xc:'rgb(205,39,0)' xc:black g64x40.gif
for later in p64x40.png p40x48.png g64x40.gif; do
  refuse "^kivtool: $later: is ${later:1:5}, the first picture 64x48\$" create -o mixed.kiv --fps 1 p64x48.png "$later"
done
refuse "^kivtool: p64x40.png: is 64x40, the first picture 64x48\$" create -o mixed.kiv --fps 1 --background p64x40.png p64x48.png
[ ! -e mixed.kiv ] || fail "a picture of another size left a file"
# The last frame number is 9998: from 9997 two frames fit, and the input
# that brings a third is named.
"$KIVTOOL" create -q -o top.kiv --fps 1 --first 9997 p64x48.png p64x48.png || fail "frames up to 9998"
"$KIVTOOL" info --json top.kiv | python3 -c '
import json, sys
info = json.load(sys.stdin)
assert (info["firstFrame"], info["lastFrame"]) == (9997, 9998), info' || fail "frames 9997 and 9998"
refuse "^kivtool: zero.gif: one frame too many" create -o over.kiv --first 9997 zero.gif
refuse "^kivtool: f03.png: one frame too many" create -o over.kiv --fps 1 --first 9996 f02.png f02.png f02.png f03.png
[ ! -e over.kiv ] || fail "one frame too many left a file"
# Without a GIF, the rate must be given; standard input is read once.
{ cat f02.png f03.png; head -c 100 f04.png; } > three.bin
refuse "--fps is needed" create -o over.kiv f02.png
refuse "standard input (-) can be read only once" create -o over.kiv --fps 1 - f02.png - < three.bin
[ ! -e over.kiv ] || fail "a usage error left a file"
# A damaged picture in a stream or a GIF is named by its place.
refuse "^kivtool: standard input: picture 3: " create -o over.kiv --fps 1 - < three.bin
head -c -5 zero.gif > cut.gif
refuse "^kivtool: cut.gif: frame 3: " create -o over.kiv cut.gif
cp demo.kiv kept.kiv
refuse "kept.kiv: exists" create -n -o kept.kiv --fps 1 f03.png
cmp demo.kiv kept.kiv || fail "-n changed the file"
refuse "/dev/full: No space left on device" create -o /dev/full --fps 1 f03.png
# A full file system: the reason, the old file untouched, no temporary left.
mkdir small
full_disk='mount -t tmpfs -o size=8k tmpfs small && echo old > small/a.kiv &&
  { "$KIVTOOL" create -o small/a.kiv --fps 1 f0?.png 2> err.txt; echo $? > status; ls -A small > left; cat small/a.kiv > kept; }'
if unshare -m -- true 2> /dev/null; then
  unshare -m -- bash -c "$full_disk"
elif unshare -rm -- true 2> /dev/null; then
  unshare -rm -- bash -c "$full_disk"
fi
if [ -e status ]; then
  [ "$(cat status)" = 2 ] || fail "full disk: exit $(cat status)"
  grep -q "small/a.kiv: No space left on device" err.txt || fail "full disk: $(cat err.txt)"
  [ "$(cat left)" = "a.kiv" ] && [ "$(cat kept)" = "old" ] || fail "full disk left $(cat left), $(cat kept)"
fi
mkdir ro && chmod a-w ro
if [ ! -w ro ]; then  # root writes anywhere
  refuse "ro/x.kiv: .*Permission denied" create -o ro/x.kiv --fps 1 f03.png
fi
[ -z "$(ls -A ro)" ] || fail "leftovers in ro: $(ls -A ro)"
ls -A | grep -q '^\.' && fail "a temporary file was left: $(ls -A | grep '^\.')"
echo "kivtool create e2e: ok"
