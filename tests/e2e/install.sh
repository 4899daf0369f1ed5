#!/usr/bin/env bash
# cmake --install under DESTDIR puts exactly the programs, manual pages,
# desktop integration, completion and package documents under the chosen
# prefix; the desktop entry validates, the manual pages render without
# warnings and the completion completes commands and option values.
source "$(dirname "$0")/lib.sh"

root=$E2E_TMP/root
prefix=/opt/kiv
DESTDIR=$root cmake --install "$KIV_BINARY_DIR" --prefix "$prefix" >/dev/null

expected="bin/kivplay
bin/kivtool
share/applications/kivplay.desktop
share/bash-completion/completions/kivtool
share/doc/kivplay/changelog.gz
share/doc/kivplay/copyright
share/icons/hicolor/128x128/apps/kivplay.png
share/icons/hicolor/16x16/apps/kivplay.png
share/icons/hicolor/22x22/apps/kivplay.png
share/icons/hicolor/24x24/apps/kivplay.png
share/icons/hicolor/256x256/apps/kivplay.png
share/icons/hicolor/32x32/apps/kivplay.png
share/icons/hicolor/48x48/apps/kivplay.png
share/icons/hicolor/64x64/apps/kivplay.png
share/icons/hicolor/scalable/apps/kivplay.svg
share/man/man1/kivplay.1.gz
share/man/man1/kivtool.1.gz
share/mime/packages/kivplay.xml
share/thumbnailers/kivplay.thumbnailer"
actual=$(cd "$root" && find . \( -type f -o -type l \) | sed "s|^\./${prefix#/}/||" | LC_ALL=C sort)
[ "$actual" = "$(LC_ALL=C sort <<<"$expected")" ] ||
  fail "installed files differ: $(diff <(echo "$expected" | LC_ALL=C sort) <(echo "$actual") | grep '^[<>]' | tr '\n' ' ')"
share=$root$prefix/share

# Each PNG is the size that its theme folder names.
for png in "$share"/icons/hicolor/*x*/apps/kivplay.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  [ "$(/usr/bin/convert "$png" -format '%wx%h' info:)" = "$size" ] || fail "$png is not $size"
done

out=$(desktop-file-validate "$share/applications/kivplay.desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"

for page in "$share"/man/man1/*.1.gz; do
  out=$(zcat "$page" | groff -ww -z -man 2>&1) || fail "groff on $page: $out"
  [ -z "$out" ] || fail "groff on $page: $out"
  out=$(zcat "$page" | mandoc -T lint -W warning 2>&1) || fail "mandoc on $page: $out"
  [ -z "$out" ] || fail "mandoc on $page: $out"
  text=$(MANWIDTH=80 man -l "$page" 2>"$E2E_TMP/man.err")
  [ ! -s "$E2E_TMP/man.err" ] || fail "man -l $page: $(cat "$E2E_TMP/man.err")"
  grep -q "EXIT STATUS" <<<"$text" || fail "man -l $page shows no exit statuses"
done

# The completion with bash-completion's two helpers reduced to what it uses.
complete_words() {
  bash -c '
    _init_completion() { words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; cur=${words[cword]}; prev=${words[cword-1]}; }
    _filedir() { :; }
    source "$0"
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _kivtool
    echo "${COMPREPLY[*]}"' "$share/bash-completion/completions/kivtool" "$@"
}
[ "$(complete_words kivtool th)" = thumbnail ] || fail "completion of a command: '$(complete_words kivtool th)'"
[ "$(complete_words kivtool export a.kiv --for)" = --format ] || fail "completion of an export option"
[ "$(complete_words kivtool export a.kiv --format g)" = gif ] || fail "completion of --format"
[ "$(complete_words kivtool info a.kiv --c)" = --compact ] || fail "completion of an info option"
echo "install: ok"
