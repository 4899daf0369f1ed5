#!/usr/bin/env bash
# kivplay refuses what it cannot play with exit status 255, its message on
# standard error, and no window.
source "$(dirname "$0")/lib.sh"
start_xvfb

make_kiv() { python3 "$(dirname "$0")/startup_make_kiv.py" "$@"; }

# expect_refusal NAME EXPECTED-STDERR-LINE ARGS...
expect_refusal() {
  local name=$1 expected=$2 status=0
  shift 2
  timeout 20 "$KIVPLAY" "$@" >"$E2E_TMP/$name.out" 2>"$E2E_TMP/$name.err" || status=$?
  [ "$status" -eq 255 ] || fail "$name: exit status $status, expected 255"
  grep -qxF "$expected" "$E2E_TMP/$name.err" || fail "$name: stderr was: $(cat "$E2E_TMP/$name.err")"
}

# No argument: refused before anything exists (no display, so no video
# information on stdout).
expect_refusal none "Error: To view a KIV animation, double click on the animation."
[ ! -s "$E2E_TMP/none.out" ] || fail "none: stdout not empty: $(cat "$E2E_TMP/none.out")"

# Not an animation, and a file that does not exist.
echo "just some text" >"$E2E_TMP/notes.txt"
expect_refusal text "Fatal error: Unable to load KIV file or corrupt KIV file" "$E2E_TMP/notes.txt"
expect_refusal missing "Fatal error: Unable to load KIV file or corrupt KIV file" "$E2E_TMP/missing.kiv"

# A path longer than 511 characters is refused whole, never shortened: the
# first 511 characters name a file that exists and must not be opened.
long_dir="$E2E_TMP/$(printf 'd%.0s' $(seq 1 200))/$(printf 'e%.0s' $(seq 1 200))"
mkdir -p "$long_dir"
prefix="$long_dir/"
stem_length=$((511 - ${#prefix}))
stem=$(printf 'f%.0s' $(seq 1 "$stem_length"))
make_kiv "$prefix$stem" 64 48 2 25
[ $((${#prefix} + ${#stem})) -eq 511 ] || fail "fixture path length"
expect_refusal long "Error: The path of the KIV animation is too long (more than 511 characters)." \
  "$prefix${stem}g"
[ ! -s "$E2E_TMP/long.out" ] || fail "long: stdout not empty (a display was opened)"

# The header passes but the animation cannot be loaded: reported after the
# normal teardown instead of a silent success.
make_kiv "$E2E_TMP/header-only.kiv" 720 576 10 25 --header-only
expect_refusal header "Fatal error: Unable to load KIV file or corrupt KIV file" "$E2E_TMP/header-only.kiv"
grep -qx 'hw_available = [0-9]*' "$E2E_TMP/header.out" || fail "header: the video mode was never set"

echo "PASS"
