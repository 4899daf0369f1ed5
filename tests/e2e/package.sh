#!/usr/bin/env bash
# The Debian package of the already built tree: one .deb holding exactly what
# cmake --install installs, its Depends being what dpkg-shlibdeps computes
# from the packaged programs, and lintian finding no error and no warning.
source "$(dirname "$0")/lib.sh"

out=$E2E_TMP/pkg
cpack --config "$KIV_BINARY_DIR/CPackConfig.cmake" -G DEB -B "$out" >"$E2E_TMP/cpack.log" 2>&1 ||
  fail "cpack: $(tail -n 20 "$E2E_TMP/cpack.log")"
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}

root=$E2E_TMP/root
DESTDIR=$root cmake --install "$KIV_BINARY_DIR" --prefix /usr >/dev/null
installed=$(cd "$root" && find . ! -type d | LC_ALL=C sort)
packaged=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | LC_ALL=C sort)
[ "$packaged" = "$installed" ] ||
  fail "package and install differ: $(diff <(echo "$installed") <(echo "$packaged") | grep '^[<>]' | tr '\n' ' ')"

# dpkg-shlibdeps wants a source package around the binaries it reads.
extracted=$E2E_TMP/extracted
dpkg-deb -x "$deb" "$extracted"
mkdir -p "$extracted/debian" && touch "$extracted/debian/control"
computed=$(cd "$extracted" && dpkg-shlibdeps -O usr/bin/kivplay usr/bin/kivtool 2>"$E2E_TMP/shlibdeps.err" |
  sed -n 's/^shlibs:Depends=//p')
[ -n "$computed" ] || fail "dpkg-shlibdeps: $(cat "$E2E_TMP/shlibdeps.err")"
depends=$(dpkg-deb -f "$deb" Depends)
[ "$depends" = "$computed" ] || fail "Depends '$depends', the programs need '$computed'"
for field in Maintainer Section Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "no $field field"
done

lintian --fail-on error,warning "$deb" >"$E2E_TMP/lintian.log" 2>&1 ||
  fail "lintian: $(grep -v 'root privileges' "$E2E_TMP/lintian.log")"
echo "package: ok"
