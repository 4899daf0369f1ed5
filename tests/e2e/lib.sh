# Shared helpers for the end-to-end scripts: a private Xvfb, a scratch
# directory, and cleanup of everything started. Source it, then call
# start_xvfb. Stops all it started on exit.
set -euo pipefail

E2E_TMP=$(mktemp -d /tmp/kiv-e2e.XXXXXX)
E2E_PIDS=()
MAKEDEMO="${KIV_BINARY_DIR:-}/tools/makedemo/makedemo"

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${E2E_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Starts Xvfb on a free display (24-bit screen) and exports DISPLAY.
start_xvfb() {
  local fdfile="$E2E_TMP/display"
  # -noreset: a server that resets when its last client leaves (a quick
  # xdotool poll) refuses connections meanwhile, and SDL then falls back to
  # a driver that shows nothing.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fdfile" 2>"$E2E_TMP/xvfb.log" &
  E2E_PIDS+=($!)
  local i
  for i in $(seq 1 100); do
    if [ -s "$fdfile" ]; then
      export DISPLAY=":$(head -n1 "$fdfile")"
      return 0
    fi
    sleep 0.1
  done
  fail "Xvfb did not start: $(cat "$E2E_TMP/xvfb.log")"
}

# Starts openbox on the current display (for tests that need a window manager).
start_window_manager() {
  openbox --sm-disable >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  # A window mapped while openbox is still taking over the screen may never
  # be managed (SDL then waits for its map): wait until it answers as the
  # screen's window manager.
  local i
  for i in $(seq 1 150); do
    if wmctrl -m >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
  done
  fail "openbox did not take over the screen"
}

# wait_for_window TITLE-REGEX [SECONDS]: prints the id of the first matching window.
wait_for_window() {
  local pattern=$1 limit=${2:-10} id i
  for i in $(seq 1 $((limit * 10))); do
    id=$(xdotool search --name "$pattern" 2>/dev/null | head -n1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# child_pid PID: the first child process of PID (a program started under
# strace), from /proc alone.
child_pid() {
  local children
  children=$(cat "/proc/$1/task/$1/children" 2>/dev/null) || return 1
  [ -n "$children" ] || return 1
  echo "${children%% *}"
}

# wait_exit PID [SECONDS]: waits for a background process and prints its status.
# Call it in the shell that started the process (redirect its output; never
# inside $(...), whose subshell cannot reap the process).
wait_exit() {
  local pid=$1 limit=${2:-10} i
  for i in $(seq 1 $((limit * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      local status=0
      wait "$pid" || status=$?
      echo "$status"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# terminate_expect_zero PID WHAT [LOG]: sends SIGTERM; the process must end
# within 15 s with status 0 (LOG, if given, is shown on failure). Call it in
# the shell that started the process, like wait_exit.
terminate_expect_zero() {
  local pid=$1 what=$2 log=${3:-} status
  kill -TERM "$pid"
  wait_exit "$pid" 15 >"$E2E_TMP/status" || fail "$what did not end on SIGTERM"
  status=$(cat "$E2E_TMP/status")
  [ "$status" = 0 ] || fail "$what: exit status $status${log:+: $(cat "$log")}"
}

# wait_until SECONDS COMMAND...: polls until the command succeeds.
wait_until() {
  local limit=$1 i
  shift
  for i in $(seq 1 $((limit * 10))); do
    if "$@"; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# top_window: the id (0x...) of the topmost client window, from the window
# manager's stacking list.
top_window() {
  xprop -root -notype _NET_CLIENT_LIST_STACKING | sed 's/.*[ ,]\(0x[0-9a-f]*\)$/\1/'
}

# run_second NAME LIMIT_MS: starts kivplay on $E2E_TMP/second.kiv while
# another instance runs; it must end with status 0 within LIMIT_MS and open
# no window of its own. Its output is left in $E2E_TMP/NAME.out and .err.
run_second() {
  local name=$1 limit=$2 status=0 start end
  start=$(date +%s%N)
  timeout 20 "$KIVPLAY" "$E2E_TMP/second.kiv" >"$E2E_TMP/$name.out" 2>"$E2E_TMP/$name.err" || status=$?
  end=$(date +%s%N)
  [ "$status" -eq 0 ] || fail "$name: exit status $status"
  [ $(((end - start) / 1000000)) -lt "$limit" ] || fail "$name: took $(((end - start) / 1000000)) ms"
  if xdotool search --name 'second\.kiv' >/dev/null 2>&1; then
    fail "$name: opened a window"
  fi
}

# Paused screens of an 8-frame KIV in the current directory: render_paused KIV
# writes pause0.rgb to pause7.rgb; with WINDOW set, shown prints the frame
# that the window shows (-1: none), and settled WHAT waits up to 10 s for one
# shown twice in a row, 300 ms apart, and prints it.
# paused_demo: demo.kiv here (8 frames of 320x240) and its paused screens.
paused_demo() {
  [ -x "$MAKEDEMO" ] || fail "makedemo not built: $MAKEDEMO"
  "$MAKEDEMO" --width 320 --height 240 --frames 8 --fps 25 demo.kiv >/dev/null || fail "makedemo failed"
  render_paused demo.kiv
}
render_paused() {
  "$KIVTOOL" render "$1" --paused -o 'pause%d.png' || fail "render --paused failed"
  local f
  for f in $(seq 0 7); do /usr/bin/convert "pause$f.png" -depth 8 "rgb:pause$f.rgb"; done
}
shown() {
  local f
  if import -window "$WINDOW" -depth 8 png:shot.png 2>/dev/null && /usr/bin/convert shot.png -depth 8 rgb:shot.rgb; then
    for f in $(seq 0 7); do cmp -s shot.rgb "pause$f.rgb" && { echo "$f"; return; }; done
  fi
  echo -1
}
settled() {
  local a b
  for _ in $(seq 1 30); do
    a=$(shown)
    sleep 0.3
    b=$(shown)
    [ "$a" -ge 0 ] && [ "$a" = "$b" ] && { echo "$a"; return 0; }
  done
  fail "$1: the window does not rest on a rendered paused screen ($a, $b)"
}

# run CMD...: runs it with stdout in out.txt and stderr in err.txt; sets STATUS.
run() {
  set +e
  "$@" > out.txt 2> err.txt
  STATUS=$?
  set -e
}
