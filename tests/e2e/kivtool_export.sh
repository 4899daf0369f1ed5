#!/usr/bin/env bash
# kivtool export, render, info and check judged by the reference tools:
# gifsicle and ffprobe read the GIF's frames, delays and loop; ffmpeg decodes
# its pixels, which must equal the --composite PNGs; ffmpeg's image2 demuxer
# reads a sequence from 0; raw RGB and a PNG stream piped into ffmpeg give
# videos of the right size, rate and length; a cut file is salvaged; a
# filling disk leaves only complete pictures.
source "$(dirname "$0")/lib.sh"
: "${KIVTOOL:?}"
cd "$E2E_TMP"

FRAMES=40
RATE=29.97
"$MAKEDEMO" --width 160 --height 120 --frames $FRAMES --first 5 --fps $RATE a.kiv || fail "makedemo"

# --- GIF ---------------------------------------------------------------------------
"$KIVTOOL" export a.kiv -o a.gif || fail "export a.gif"
"$KIVTOOL" export a.kiv --format gif --composite -o c.gif || fail "export --composite gif"
"$KIVTOOL" export a.kiv --composite -o 'c%03d.png' || fail "export --composite png"
"$KIVTOOL" export a.kiv -o 'p%03d.png' || fail "export png"
gifsicle --info a.gif > gifinfo.txt
grep -q 'loop forever' gifinfo.txt || fail "the GIF does not loop forever"
grep -q 'transparent 127' gifinfo.txt || fail "index 127 is not transparent in the GIF"
if gifsicle --info c.gif | grep -q transparent; then fail "a composed GIF has a transparent index"; fi
for gif in a.gif c.gif; do
  # Frames and duration as ffprobe counts them; every frame of the demo differs.
  ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames:format=duration \
    -of default=nw=1 "$gif" > probe.txt
  grep -qx "nb_read_frames=$FRAMES" probe.txt || fail "$gif: $(cat probe.txt)"
  duration=$(sed -n 's/^duration=//p' probe.txt)
  python3 -c "import sys; d=float(sys.argv[1]); assert abs(d - $FRAMES / $RATE) <= 0.01 * $FRAMES, d" "$duration" \
    || fail "$gif: duration $duration, not $FRAMES / $RATE"
done
# Delays spread the remainder: 3 or 4 cs each, 133 cs in all (40 / 29.97 = 1.3347 s).
delays=$(gifsicle --info a.gif | sed -n 's/.*delay \([0-9.]*\)s.*/\1/p' | sort -u | tr '\n' ' ')
[ "$delays" = "0.03 0.04 " ] || fail "delays: $delays"
# Pixels: ffmpeg's decoding of each GIF frame equals the PNG of that frame.
ffmpeg -v error -i c.gif -fps_mode passthrough -pix_fmt rgb24 'gc%03d.png'
ffmpeg -v error -i a.gif -fps_mode passthrough -pix_fmt rgba 'ga%03d.png'
for k in $(seq 0 $((FRAMES - 1))); do
  n=$(printf %03d $((k + 1))); m=$(printf %03d $k)
  [ "$(/usr/bin/compare -metric AE "gc$n.png" "c$m.png" null: 2>&1)" = 0 ] || fail "composed GIF frame $k differs"
  # Transparent where the PNG's tRNS says so, the palette colour elsewhere.
  [ "$(/usr/bin/compare -metric AE "ga$n.png" "p$m.png" null: 2>&1)" = 0 ] || fail "GIF frame $k differs"
done
# Repeated frames become one longer frame: 3 x frame 0 then frame 1 at 10 fps.
"$KIVTOOL" create -o rep.kiv --fps 10 p000.png p000.png p000.png p001.png
"$KIVTOOL" export rep.kiv -o rep.gif
[ "$(gifsicle --info rep.gif | sed -n 's/.*delay \([0-9.]*\)s.*/\1/p' | tr '\n' ' ')" = "0.30 0.10 " ] ||
  fail "repeats: $(gifsicle --info rep.gif)"
# Above 50 fps frames less than 2 cs apart are left out and the duration kept.
"$MAKEDEMO" --width 32 --height 24 --frames 30 --fps 75 fast.kiv
run "$KIVTOOL" export fast.kiv -o fast.gif
[ $STATUS = 0 ] && grep -q 'frames left out' err.txt || fail "fast GIF: $STATUS $(cat err.txt)"
total=$(gifsicle --info fast.gif | sed -n 's/.*delay \([0-9.]*\)s.*/\1/p' |
  python3 -c 'import sys; print(round(sum(float(d) for d in sys.stdin) * 100))')
[ "$total" = 40 ] || fail "fast GIF lasts $total cs, not 30 / 75 s"

# --- Sequences and video through ffmpeg -----------------------------------------------
# The first frame is 5; the files start at 0, so ffmpeg's image2 demuxer reads them all.
count=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 -f image2 'c%03d.png')
[ "$count" = $FRAMES ] || fail "image2 read $count frames of the sequence"
"$KIVTOOL" export a.kiv --frames 10-12 --start-number 7 -o 'r%d.png'
[ "$(ls r*.png | tr '\n' ' ')" = "r7.png r8.png r9.png " ] || fail "--frames 10-12 --start-number 7: $(ls r*.png)"
cmp r7.png p005.png || fail "--frames 10-12 does not start at frame 10"
# shellcheck disable=SC2046
"$KIVTOOL" export a.kiv --composite --format rgb24 -o - |
  ffmpeg -v error $("$KIVTOOL" info --ffmpeg-input a.kiv) -c:v libvpx -deadline realtime -y v.webm ||
  fail "rgb24 pipeline"
"$KIVTOOL" export a.kiv --composite -o - |
  ffmpeg -v error -f image2pipe -framerate $RATE -i - -c:v libx264 -preset ultrafast -pix_fmt yuv420p -y v.mp4 ||
  fail "PNG stream pipeline"
for video in v.webm v.mp4; do
  ffprobe -v error -count_frames -select_streams v \
    -show_entries stream=width,height,r_frame_rate,nb_read_frames -of default=nw=1 "$video" > probe.txt
  grep -qx 'width=160' probe.txt && grep -qx 'height=120' probe.txt && grep -qx "nb_read_frames=$FRAMES" probe.txt ||
    fail "$video: $(tr '\n' ' ' < probe.txt)"
  rate=$(sed -n 's/^r_frame_rate=//p' probe.txt)
  python3 -c "import sys; n, d = map(int, sys.argv[1].split('/')); assert abs(n / d - $RATE) < 0.01" "$rate" ||
    fail "$video: rate $rate"
done

# --- Damaged files -------------------------------------------------------------------
"$MAKEDEMO" --width 160 --height 120 --frames 50 --fps 25 long.kiv
# Cut 20 bytes into the chunk of frame 32 (chunk 0 is the background).
python3 - <<'PY'
data = open('long.kiv', 'rb').read()
chunks = [i for i in range(len(data)) if data[i:i + 4] == b'FRME']
open('cut.kiv', 'wb').write(data[:chunks[1 + 32] + 20])
PY
run "$KIVTOOL" export cut.kiv -o 'none%d.png'
[ $STATUS = 1 ] && ! ls none*.png > /dev/null 2>&1 || fail "export of a cut file without --salvage: $STATUS"
for command in export render; do
  mkdir "$command"
  run "$KIVTOOL" "$command" cut.kiv --salvage -o "$command/f%02d.png"
  [ $STATUS = 1 ] || fail "$command --salvage: exit $STATUS"
  [ "$(ls "$command" | wc -l)" = 32 ] && [ -f "$command/f31.png" ] || fail "$command --salvage: $(ls "$command")"
  [ "$(grep -c '^kivtool: cut.kiv: frame [0-9]* skipped: ' err.txt)" = 18 ] && [ "$(wc -l < err.txt)" = 18 ] ||
    fail "$command --salvage: $(cat err.txt)"
done
run "$KIVTOOL" info cut.kiv
[ $STATUS = 1 ] && grep -q '^readable frames: *32 of 50$' out.txt &&
  grep -q '^damage starts: .*frame 32: chunk length [0-9]* runs past the end of the file' out.txt ||
  fail "info of a cut file: $STATUS $(cat out.txt err.txt)"
run "$KIVTOOL" check a.kiv cut.kiv long.kiv
[ $STATUS = 1 ] && [ "$(cat out.txt err.txt | wc -l)" = 3 ] && grep -q '^kivtool: cut.kiv: offset' err.txt ||
  fail "check of three files: $STATUS $(cat out.txt err.txt)"

# --- Command line ---------------------------------------------------------------------
run "$KIVTOOL" export --help
[ $STATUS = 0 ] && grep -q -- '--start-number' out.txt && grep -q -- '--composite' out.txt || fail "export --help"
run "$KIVTOOL" info --bogus a.kiv
[ $STATUS = 2 ] && grep -q -- '--bogus' err.txt || fail "info --bogus: $STATUS $(cat err.txt)"
run "$KIVTOOL" render missing.kiv -o 'm%d.png'
[ $STATUS = 2 ] && grep -qx 'kivtool: missing.kiv: No such file or directory' err.txt || fail "render of a missing file: $STATUS"
run "$KIVTOOL" export a.kiv -n -o 'p%03d.png'
[ $STATUS = 2 ] && grep -q 'exists; not replaced (-n)' err.txt || fail "-n: $STATUS $(cat err.txt)"

# A progress line only on a terminal (script gives the command one), unless -q.
script -qec "'$KIVTOOL' export a.kiv -o 'tty%03d.png'" /dev/null > tty.txt
grep -q "export: $FRAMES/$FRAMES (100%)" tty.txt || fail "no progress on a terminal: $(cat -v tty.txt)"
script -qec "'$KIVTOOL' export a.kiv -q -o 'tty%03d.png'" /dev/null > tty.txt
[ ! -s tty.txt ] || fail "progress despite -q: $(cat -v tty.txt)"

# --- JSON with a file name that is not UTF-8 and holds a control byte -------------------
latin1=$(printf 'caf\xe9\x1f.kiv')
cp a.kiv "$latin1"
"$KIVTOOL" info --json "$latin1" > info.json
python3 - "$(stat -c %s a.kiv)" <<'PY' || fail "info --json: $(cat info.json)"
import json, sys
raw = open('info.json', 'rb').read()
info = json.loads(raw.decode('utf-8', errors='strict'))
assert info['file'] == 'caf\ufffd\x1f.kiv', info['file']
assert info['fileSize'] == int(sys.argv[1])
assert b'"frameRate": 29.97,' in raw, raw
assert abs(info['duration'] - 40 / 29.97) < 1e-6
PY
[ "$("$KIVTOOL" info --json --compact a.kiv | wc -l)" = 1 ] || fail "--compact is not one line"

# --- A filling disk ---------------------------------------------------------------------
# Only complete PNGs (ending in IEND), no temporary files, the system's reason.
complete_pngs() {
  python3 - "$1" <<'PY'
import os, sys
names = os.listdir(sys.argv[1])
assert not [n for n in names if n.startswith('.')], names
for n in names:
    assert open(os.path.join(sys.argv[1], n), 'rb').read().endswith(b'IEND\xaeB`\x82'), n
PY
}
mkdir full
if mount -t tmpfs -o size=48k tmpfs full 2> /dev/null; then
  trap 'umount "$E2E_TMP/full"; e2e_cleanup' EXIT
  for command in export render; do
    rm -f full/*
    run "$KIVTOOL" "$command" long.kiv -o 'full/f%02d.png'
    [ $STATUS = 2 ] && grep -q ': No space left on device$' err.txt || fail "$command on a full disk: $STATUS $(cat err.txt)"
    complete_pngs full || fail "$command left an incomplete file on a full disk: $(ls -a full)"
  done
else
  # Not allowed to mount: a file size limit makes every write fail instead.
  for command in export render; do
    set +e
    (ulimit -f 1; trap '' XFSZ; exec "$KIVTOOL" "$command" long.kiv -o 'full/f%02d.png') 2> err.txt
    STATUS=$?
    set -e
    [ $STATUS = 2 ] && grep -q ': File too large$' err.txt || fail "$command over the size limit: $STATUS $(cat err.txt)"
    complete_pngs full || fail "$command left a file behind: $(ls -a full)"
  done
fi
run "$KIVTOOL" export a.kiv -o /dev/full --format gif
[ $STATUS = 2 ] && [ -c /dev/full ] || fail "export to /dev/full: $STATUS"
echo "kivtool export e2e: ok"
