# Shared by the benchmark scripts that run the player: a scratch folder in
# $work, the processes in $pids stopped on exit, and a private Xvfb.
# KIV_BENCH_KEEP=1 keeps the scratch folder.

# bench_begin NAME: makes $work and stops everything started on exit.
bench_begin() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  pids=()
  trap bench_cleanup EXIT
}

bench_cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -n "${KIV_BENCH_KEEP:-}" ] || rm -rf "$work"
}

# bench_start_xvfb: a 24-bit Xvfb of its own, in DISPLAY.
bench_start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
}
