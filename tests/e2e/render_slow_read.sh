#!/usr/bin/env bash
# `kivtool render` drives the player offscreen, and the player loads a file a
# slice at a time: on slow storage (every read of the file held up 20 ms)
# render still waits for the whole load and writes exactly the screens it
# writes when reads are quick.
source "$(dirname "$0")/lib.sh"
cd "$E2E_TMP"
[ -x "$MAKEDEMO" ] || fail "makedemo not built: $MAKEDEMO"
"$MAKEDEMO" --width 720 --height 576 --frames 100 --fps 25 demo.kiv >/dev/null || fail "makedemo failed"

"$KIVTOOL" render demo.kiv --frames 0-2 -o 'quick_playing%04d.png' || fail "render with quick reads failed"
"$KIVTOOL" render demo.kiv --frames 0-2 --paused -o 'quick_paused%04d.png' || fail "paused render with quick reads failed"
for mode in playing paused; do
  extra=()
  [ $mode = paused ] && extra=(--paused)
  status=0
  strace -f -o /dev/null -P "$E2E_TMP/demo.kiv" -e trace=read -e inject=read:delay_exit=20000 \
    "$KIVTOOL" render "$E2E_TMP/demo.kiv" --frames 0-2 "${extra[@]}" -o "slow_$mode%04d.png" 2>err.txt || status=$?
  [ $status -eq 0 ] || fail "$mode: render with slow reads exited $status: $(cat err.txt)"
  for f in 0000 0001 0002; do
    cmp -s "quick_$mode$f.png" "slow_$mode$f.png" || fail "$mode: frame $f differs when reads are slow"
  done
done
echo "PASS"
