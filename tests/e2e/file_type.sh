#!/usr/bin/env bash
# After the installed file type and desktop entry are registered in a private
# XDG data tree, a KIV file is video/x-kiv by its name and by its first bytes
# (also when renamed), and kivplay.desktop is the default application for it,
# through xdg-mime and through GIO alike.
source "$(dirname "$0")/lib.sh"

root=$E2E_TMP/root
DESTDIR=$root cmake --install "$KIV_BINARY_DIR" --prefix /usr >/dev/null
share=$root/usr/share
export HOME=$E2E_TMP/home
export XDG_DATA_HOME=$HOME/.local/share XDG_CONFIG_HOME=$HOME/.config
export XDG_DATA_DIRS=$share:/usr/share
# GIO offers only applications whose TryExec program is on the path.
export PATH=$root/usr/bin:$PATH
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"

# update-mime-database reports bad XML on stderr but still exits 0.
update-mime-database "$share/mime" 2>"$E2E_TMP/mime.err" || fail "update-mime-database failed"
[ ! -s "$E2E_TMP/mime.err" ] || fail "update-mime-database: $(cat "$E2E_TMP/mime.err")"
update-desktop-database "$share/applications" 2>"$E2E_TMP/desktop.err" || fail "update-desktop-database failed"
[ ! -s "$E2E_TMP/desktop.err" ] || fail "update-desktop-database: $(cat "$E2E_TMP/desktop.err")"

demo=$KIV_BINARY_DIR/demo/demo.kiv
[ -f "$demo" ] || fail "no demo animation at $demo"
cp "$demo" "$E2E_TMP/my demo.kiv"
cp "$demo" "$E2E_TMP/renamed.bin"
cp "$demo" "$E2E_TMP/no-extension"
# The magic alone does not make everything an animation.
printf 'not an animation' >"$E2E_TMP/text.dat"

for file in "$E2E_TMP/my demo.kiv" "$E2E_TMP/renamed.bin" "$E2E_TMP/no-extension"; do
  type=$(xdg-mime query filetype "$file")
  [ "$type" = video/x-kiv ] || fail "xdg-mime calls $(basename "$file") '$type'"
  type=$(XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$file")
  [ "$type" = video/x-kiv ] || fail "xdg-mime (GNOME) calls $(basename "$file") '$type'"
  info=$(gio info -a standard::content-type "$file")
  grep -qx '  standard::content-type: video/x-kiv' <<<"$info" || fail "gio calls $(basename "$file") $info"
done
type=$(xdg-mime query filetype "$E2E_TMP/text.dat")
[ "$type" != video/x-kiv ] || fail "a text file is taken for a KIV animation"

default=$(xdg-mime query default video/x-kiv)
[ "$default" = kivplay.desktop ] || fail "xdg-mime default for video/x-kiv: '$default'"
mime=$(gio mime video/x-kiv)
grep -q '^Default application for .*x-kiv.*: kivplay\.desktop$' <<<"$mime" || fail "gio mime: $mime"
echo "file_type: ok"
