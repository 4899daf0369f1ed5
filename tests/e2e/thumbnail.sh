#!/usr/bin/env bash
# The freedesktop thumbnailer: its Exec line, with %s %i %o substituted the
# way a file manager does (after splitting into words, so paths with blanks
# stay whole), writes a PNG of at most SIZE x SIZE that equals the first
# composed frame scaled by ImageMagick; a truncated file gives exit 1 and no
# file.
source "$(dirname "$0")/lib.sh"
: "${KIVTOOL:?}" "${KIV_SOURCE_DIR:?}"
cd "$E2E_TMP"
mkdir bin "with blanks"
ln -s "$KIVTOOL" bin/kivtool
export PATH="$E2E_TMP/bin:$PATH"

entry="$KIV_SOURCE_DIR/data/desktop/kivplay.thumbnailer"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
grep -qx 'TryExec=kivtool' "$entry" || fail "TryExec"
grep -qx 'MimeType=video/x-kiv;' "$entry" || fail "MimeType"

# thumbnail SIZE INPUT OUTPUT: runs the Exec line; sets STATUS.
thumbnail() {
  local words=() argv=() word
  read -r -a words <<< "$exec_line"
  for word in "${words[@]}"; do
    word=${word//%s/$1}
    word=${word//%i/$2}
    argv+=("${word//%o/$3}")
  done
  set +e
  "${argv[@]}" 2> err.txt
  STATUS=$?
  set -e
}

# Both are exact area averages; ImageMagick rounds in its 16-bit quantum, so
# a channel may differ from ours by one level (257 of 65535), never more.
same_as_imagemagick() {
  local thumb=$1 width=$2 height=$3
  [ "$(/usr/bin/identify -format '%wx%h' "$thumb")" = "${width}x${height}" ] ||
    fail "$thumb is $(/usr/bin/identify -format '%wx%h' "$thumb"), not ${width}x${height}"
  /usr/bin/convert first0.png -scale "${width}x${height}!" reference.png
  local peak
  peak=$(/usr/bin/compare -metric PAE "$thumb" reference.png null: 2>&1 | cut -d' ' -f1) || true
  [ "$peak" -le 257 ] || fail "$thumb differs from ImageMagick's scaling by $peak of 65535"
}

in="with blanks/a demo.kiv"
"$MAKEDEMO" --width 300 --height 200 --frames 3 --first 2 --fps 25 "$in"
"$KIVTOOL" export "$in" --composite --frames 2-2 -o 'first%d.png'
for size in 128 100; do
  out="with blanks/thumb $size.png"
  thumbnail $size "$in" "$out"
  [ $STATUS = 0 ] || fail "thumbnail -s $size: exit $STATUS: $(cat err.txt)"
  # 200 * size / 300, rounded.
  same_as_imagemagick "$out" $size $(((200 * size + 150) / 300))
done
# Taller than wide, and the default size of 256.
"$MAKEDEMO" --width 120 --height 400 --frames 1 --fps 25 tall.kiv
"$KIVTOOL" export tall.kiv --composite -o 'first%d.png'
"$KIVTOOL" thumbnail tall.kiv "tall thumb.png"
same_as_imagemagick "tall thumb.png" 77 256
# A picture within SIZE keeps its size.
thumbnail 512 "$in" "with blanks/big.png"
[ "$(/usr/bin/identify -format '%wx%h' "with blanks/big.png")" = 300x200 ] || fail "a small frame was enlarged"

# A truncated file: exit 1 and no output.
size=$(stat -c %s "$in")
head -c $((size - 10)) "$in" > "with blanks/cut file.kiv"
thumbnail 128 "with blanks/cut file.kiv" "with blanks/cut.png"
[ $STATUS = 1 ] || fail "truncated file: exit $STATUS"
[ ! -e "with blanks/cut.png" ] || fail "truncated file: an output was written"
[ -z "$(ls -A "with blanks" | grep '^\.')" ] || fail "temporary files left: $(ls -A "with blanks")"
echo "thumbnail e2e: ok"
