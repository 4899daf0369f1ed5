#!/usr/bin/env bash
# Builds every libFuzzer target in fuzz/ with clang and runs each in turn from
# a seed corpus made now, for SECONDS seconds or, when RUNS is given, for
# RUNS executions. The corpus each run grows is kept in BUILD_DIR/corpus and
# reused by the next run; a finding stops the script with the input saved in
# BUILD_DIR/findings (make it a unit test under tests/ once fixed).
#   fuzz/run.sh [BUILD_DIR] [SECONDS] [RUNS]
# Seeds: a target X gets what the program X_seeds (built with it) writes, or
# generated pictures or sounds when its name starts with png, gif or wav.
set -euo pipefail

dir=${1:-build-fuzz}
seconds=${2:-60}
runs=${3:-}
cd "$(dirname "$0")/.."
root=$PWD
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_FUZZ=ON \
  -DKIV_TESTS=OFF -DKIV_BENCH=OFF >/dev/null
cmake --build "$dir" -j "${JOBS:-$(nproc)}" --target fuzz_targets

# Pictures of the kinds people hand to `kivtool create`: palette, grey, true
# colour with and without alpha, 16-bit, interlaced, animated, transparent.
# They are small: the readers take the same paths at any size, and small
# inputs keep each run short so that the fuzzer reaches depth.
picture_seeds() {
  local format=$1 out=$2 convert=/usr/bin/convert
  local sources=(
    "-size 200x160 gradient:navy-orange"
    "-seed 7 -size 160x100 plasma:fractal"
    "-size 64x48 xc:white -fill red -draw 'circle 32,24 32,4'"
    "-size 17x9 pattern:checkerboard"
  )
  local i=0
  for source in "${sources[@]}"; do
    i=$((i + 1))
    case "$format" in
      png)
        eval "$convert $source -colors 200 PNG8:$out/palette_$i.png"
        eval "$convert $source -colorspace Gray PNG8:$out/grey_$i.png"
        eval "$convert $source PNG24:$out/rgb_$i.png"
        eval "$convert $source -alpha set -channel A -evaluate set 60% +channel PNG32:$out/rgba_$i.png"
        eval "$convert $source -depth 16 PNG48:$out/deep_$i.png"
        eval "$convert $source -interlace PNG PNG24:$out/interlaced_$i.png"
        ;;
      gif)
        eval "$convert $source -colors 64 $out/still_$i.gif"
        eval "$convert $source -colors 16 -interlace GIF $out/interlaced_$i.gif"
        eval "$convert $source -transparent white -colors 32 $out/transparent_$i.gif"
        ;;
    esac
  done
  if [ "$format" = gif ]; then
    # Frames of different sizes, delays and disposals.
    $convert -delay 4 -dispose Background -size 96x64 xc:black \( -size 40x30 xc:red -repage +10+5 \) \
      \( -size 20x50 xc:blue -repage +70+10 \) -loop 0 "$out/animated.gif"
    $convert -delay 10 -size 200x160 gradient:black-white -colors 128 \( +clone -rotate 180 \) \
      -dispose Previous "$out/animated_large.gif"
  fi
}

sound_seeds() {
  local out=$1
  sox -n -r 8000 -b 8 -c 1 "$out/mono8.wav" synth 0.2 sine 440
  sox -n -r 22050 -b 16 -c 2 "$out/stereo16.wav" synth 0.5 square 300 sine 500
  sox -n -r 44100 -b 24 -c 2 "$out/extensible24.wav" synth 0.1 sine 1000
  sox -n -r 11025 -e u-law -c 1 "$out/ulaw.wav" synth 0.2 noise
  # A LIST chunk between the format and the samples, as editors write it.
  sox -n -r 44100 -b 16 -c 1 "$out/plain.wav" synth 0.1 sine 200
  python3 - "$out/plain.wav" "$out/listed.wav" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.index(b"data")
info = b"INFO" + b"ICMT" + struct.pack("<I", 8) + b"comment\0"
listed = data[12:at] + b"LIST" + struct.pack("<I", len(info)) + info + data[at:]
open(sys.argv[2], "wb").write(b"RIFF" + struct.pack("<I", len(listed) + 4) + b"WAVE" + listed)
PY
}

make_seeds() {
  local target=$1 out=$2
  if [ -x "$dir/fuzz/${target}_seeds" ]; then
    "$dir/fuzz/${target}_seeds" "$out" >/dev/null
    return
  fi
  case "$target" in
    png*) picture_seeds png "$out" ;;
    gif*) picture_seeds gif "$out" ;;
    wav*) sound_seeds "$out" ;;
  esac
}

mapfile -t targets < <(find "$dir/fuzz" -maxdepth 1 -type f -name '*_fuzz' -perm -u+x -printf '%f\n' | sort)
if [ "${#targets[@]}" -eq 0 ]; then
  echo "fuzz: no targets built in $dir/fuzz" >&2
  exit 1
fi

limit=(-max_total_time="$seconds")
[ -n "$runs" ] && limit=(-runs="$runs")
# A small quarantine keeps freed memory mapped for reuse: with the default
# 256 MB, each input of a few hundred kilobytes maps fresh pages.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}
mkdir -p "$dir/findings"
summary=()
for target in "${targets[@]}"; do
  seeds="$dir/seeds/$target"
  corpus="$dir/corpus/$target"
  rm -rf "$seeds"
  mkdir -p "$seeds" "$corpus"
  make_seeds "$target" "$seeds"
  log="$dir/$target.log"
  echo "fuzz: $target (${limit[*]}, $(ls "$seeds" | wc -l) seeds, $(ls "$corpus" | wc -l) in the corpus)"
  if ! "$dir/fuzz/$target" "${limit[@]}" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$dir/findings/$target-" "$corpus" "$seeds" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz: $target found a fault; the input is in $dir/findings" >&2
    exit 1
  fi
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  summary+=("$(printf '%-22s %10s runs %8s exec/s' "$target" "$executed" "$rate")")
done
printf 'fuzz: %s\n' "${summary[@]}"
