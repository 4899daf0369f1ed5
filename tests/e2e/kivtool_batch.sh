#!/usr/bin/env bash
# kivtool export over many files, to WebP and to video, judged by the
# reference tools: a damaged file among several is named in the summary
# while the others convert whole; a shared output name is refused; SIGINT
# leaves only finished files; webpmux and dwebp decode the WebP frame by
# frame against the PNGs; ffprobe counts the videos' frames and rates.
source "$(dirname "$0")/lib.sh"
: "${KIVTOOL:?}"
cd "$E2E_TMP"

frames_of() {
  ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$1"
}
FRAMES=40
RATE=29.97
"$MAKEDEMO" --width 160 --height 120 --frames $FRAMES --first 5 --fps $RATE a.kiv
"$KIVTOOL" export a.kiv -o 'p%03d.png'
"$KIVTOOL" export a.kiv --composite -o 'c%03d.png'

# --- Many inputs: a damaged one is named, the others complete ----------------------
mkdir -p in/deeper
for n in 1 2 3; do cp a.kiv "in/f$n.kiv"; done
cp a.kiv in/deeper/nested                 # found by its first bytes, not its name
head -c 20000 a.kiv > in/cut.kiv
echo "not an animation" > in/notes.txt
run "$KIVTOOL" export in -r -o 'out/%n.gif' -j 2
[ $STATUS = 1 ] || fail "a damaged input: exit $STATUS"
grep -q '^export: 5 files: 4 converted, 1 damaged, 0 failed$' err.txt || fail "summary: $(cat err.txt)"
grep -q '^  in/cut.kiv: damaged: offset ' err.txt || fail "the damaged file is not named: $(cat err.txt)"
for n in f1 f2 f3 nested; do
  [ "$(frames_of "out/$n.gif")" = $FRAMES ] || fail "out/$n.gif is not whole"
done
[ ! -e out/cut.gif ] && [ ! -e out/notes.gif ] || fail "output for a file that is not an animation: $(ls out)"
run "$KIVTOOL" export in --salvage -o 'part/%n/%03d.png' -j 1
[ $STATUS = 1 ] && grep -q 'in/cut.kiv: partly converted: ' err.txt || fail "--salvage: $STATUS $(cat err.txt)"
[ -e part/f2/039.png ] || fail "folders per input were not made"

# render takes its files one after another: each file's screens as if rendered alone.
"$MAKEDEMO" --width 96 --height 64 --frames 6 --first 5 --fps 10 small.kiv
"$KIVTOOL" render in/f1.kiv small.kiv --frames 5-8 -o 'screens/%n-%d.png' -q 2> /dev/null
"$KIVTOOL" render small.kiv --frames 5-8 -o 'alone-%d.png'
for k in 5 8; do cmp "screens/small-$k.png" "alone-$k.png" || fail "render of several files: small frame $k"; done

# --- One output name for several inputs is refused, nothing written ------------------
run "$KIVTOOL" export in/f1.kiv in/f2.kiv -o same.gif
[ $STATUS = 2 ] && grep -q 'OUTPUT needs %n' err.txt && [ ! -e same.gif ] || fail "no %n: $STATUS $(cat err.txt)"

# --- SIGINT: finished files stay, the one in progress goes -----------------------------
mkdir big
for n in 1 2 3 4 5 6; do "$MAKEDEMO" --frames 150 --fps 25 "big/b$n.kiv"; done
"$KIVTOOL" export big -o 'stop/%n.gif' -j 1 2> stop.txt &
pid=$!
# The state to interrupt in: one file finished and the next one's temporary file open.
until [ -e stop/b1.gif ] && compgen -G 'stop/.b2.gif.*' > /dev/null; do
  kill -0 $pid 2> /dev/null || fail "the run ended before it could be interrupted"
  sleep 0.05
done
kill -INT $pid
set +e; wait $pid; STATUS=$?; set -e
[ $STATUS = 130 ] || fail "interrupted run: exit $STATUS"
! compgen -G 'stop/.*.gif.*' > /dev/null || fail "temporary files left: $(ls -a stop)"
for gif in stop/*.gif; do
  [ "$(frames_of "$gif")" = 150 ] || fail "$gif is not whole"
done

# A PNG sequence in progress goes whole: each folder holds all 150 pictures or none.
"$KIVTOOL" export big -o 'seq/%n/%03d.png' -j 1 2> /dev/null &
pid=$!
until [ -e seq/b1/149.png ] && [ -e seq/b2/000.png ]; do
  kill -0 $pid 2> /dev/null || fail "the PNG run ended before it could be interrupted"
  sleep 0.05
done
kill -INT $pid
set +e; wait $pid; STATUS=$?; set -e
[ $STATUS = 130 ] || fail "interrupted PNG run: exit $STATUS"
for folder in seq/*; do
  count=$(find "$folder" -name '*.png' | wc -l)
  [ "$count" = 0 ] || [ "$count" = 150 ] || fail "$folder holds $count of 150 pictures"
done

# --- WebP: the PNGs' pixels, delays from the rate, looping forever ----------------------
# Decodes every frame by the container's rules (offset, blend, dispose) with
# webpmux and dwebp, composing the canvas with ImageMagick.
webp_frames() {
  local file=$1 prefix=$2 w h n x y dispose blend k=0
  read -r w h < <(webpmux -info "$file" | sed -n 's/^Canvas size: \([0-9]*\) x \([0-9]*\)/\1 \2/p')
  convert -size "${w}x$h" xc:none canvas.png
  while read -r n _ _ _ x y _ dispose blend _; do
    webpmux -get frame "$n" "$file" -o piece.webp > /dev/null 2>&1 && dwebp -quiet piece.webp -o piece.png
    local size; size=$(identify -format %wx%h piece.png)
    if [ "$blend" = no ]; then
      convert canvas.png \( -size "$size" xc:none \) -geometry "+$x+$y" -compose Copy -composite canvas.png
    fi
    convert canvas.png piece.png -geometry "+$x+$y" -compose Over -composite canvas.png
    cp canvas.png "$(printf '%s%03d.png' "$prefix" $k)"
    if [ "$dispose" = background ]; then
      convert canvas.png \( -size "$size" xc:none \) -geometry "+$x+$y" -compose Copy -composite canvas.png
    fi
    k=$((k + 1))
  done < <(webpmux -info "$file" | sed -n 's/^ *\([0-9]*\):/\1/p')
}
expected=$(python3 -c "
r = $RATE; s = [round(1000 * k / r) for k in range($FRAMES + 1)]
print(' '.join(str(s[k + 1] - s[k]) for k in range($FRAMES)))")
for form in plain composite; do
  flag=""; pngs=p
  [ $form = composite ] && flag=--composite && pngs=c
  "$KIVTOOL" export a.kiv $flag -o "$form.webp"
  webpmux -info "$form.webp" > info.txt
  grep -q 'Loop Count : 0' info.txt || fail "$form.webp does not loop forever"
  [ "$(awk '$1 ~ /^[0-9]+:$/ {printf "%s ", $7}' info.txt)" = "$expected " ] || fail "$form.webp delays: $(cat info.txt)"
  grep -q lossy info.txt && fail "$form.webp has a lossy frame"
  webp_frames "$form.webp" w
  for k in $(seq 0 $((FRAMES - 1))); do
    m=$(printf %03d $k)
    [ "$(compare -metric AE "w$m.png" "$pngs$m.png" null: 2>&1)" = 0 ] || fail "$form.webp frame $k differs"
  done
done

# --- Video by name: frames and rate by ffprobe; lossless exact, lossy close -----------
# container  options     width  height  frames compared
while read -r name options width height check; do
  [ "$options" = - ] && options=""
  "$KIVTOOL" export a.kiv --composite $options -o "$name" < /dev/null
  probe=$(ffprobe -v error -count_frames -select_streams v \
    -show_entries stream=nb_read_frames,r_frame_rate,width,height -of default=nw=1 "$name" | sort | tr '\n' ' ')
  [ "$probe" = "height=$height nb_read_frames=$FRAMES r_frame_rate=2997/100 width=$width " ] || fail "$name: $probe"
  [ "$check" = - ] && continue
  rm -f v*.png
  ffmpeg -nostdin -v error -i "$name" -pix_fmt rgb24 'v%03d.png'
  for k in 0 17 $((FRAMES - 1)); do
    got=$(printf v%03d.png $((k + 1))); want=$(printf c%03d.png $k)
    if [ "$check" = exact ]; then
      [ "$(compare -metric AE "$got" "$want" null: 2>&1)" = 0 ] || fail "$name frame $k differs"
    else
      psnr=$(compare -metric PSNR "$got" "$want" null: 2>&1 || true)
      python3 -c "import sys; assert float(sys.argv[1]) >= 30" "$psnr" || fail "$name frame $k: PSNR $psnr dB"
    fi
  done
done <<'TABLE'
v.mp4    -           160  120  psnr
v.webm   -           160  120  psnr
v.mkv    --lossless  160  120  exact
v.mov    --lossless  160  120  exact
lv.webm  --lossless  160  120  exact
TABLE
# An odd size gets a black column and row for H.264's halved chroma.
"$MAKEDEMO" --width 161 --height 121 --frames 10 --fps 25 odd.kiv
"$KIVTOOL" export odd.kiv -o odd.mp4
[ "$(ffprobe -v error -show_entries stream=width,height -of csv=p=0 odd.mp4)" = 162,122 ] || fail "odd.mp4 size"
# ffmpeg's own errors are shown and decide the status; nothing is left.
run "$KIVTOOL" export a.kiv -o bad.mp4 --ffmpeg-args "-no-such-option 1"
[ $STATUS = 2 ] && grep -q 'no-such-option' err.txt && grep -q 'ffmpeg failed with exit status' err.txt ||
  fail "ffmpeg's failure: $STATUS $(cat err.txt)"
! compgen -G '*bad.mp4*' > /dev/null || fail "a failed video left $(ls -a | grep bad)"
# Without ffmpeg: the package to install, exit 2, no file.
run env PATH=/nonexistent "$KIVTOOL" export a.kiv -o none.mp4
[ $STATUS = 2 ] && grep -qx 'kivtool: ffmpeg is not on PATH; install the Debian package "ffmpeg"' err.txt ||
  fail "no ffmpeg: $STATUS $(cat err.txt)"
! compgen -G '*none.mp4*' > /dev/null || fail "no ffmpeg, yet a file"
echo "PASS"
