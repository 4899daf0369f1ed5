#!/usr/bin/env bash
# kivtool end to end: create -> info -> check -> export, the exported PNGs
# read back by an independent decoder, and corrupt files refused by check.
source "$(dirname "$0")/lib.sh"
: "${KIVTOOL:?}"
cd "$E2E_TMP"

cat > pngtool.py <<'PY'
import json, struct, sys, zlib

def chunks(data):
    assert data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG'
    pos = 8
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        yield kind, data[pos + 8:pos + 8 + n]
        pos += 12 + n

def write(path, width, height, rows, colour_type, palette=None):
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    out = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, colour_type, 0, 0, 0))
    if palette:
        out += chunk(b'PLTE', bytes(palette))
    raw = b''.join(b'\0' + bytes(r) for r in rows)
    open(path, 'wb').write(out + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))

def read(path):
    """Returns (colour type, bit depth, width, height, palette, rows of bytes)."""
    idat, palette = b'', None
    for kind, body in chunks(open(path, 'rb').read()):
        if kind == b'IHDR':
            width, height, depth, ctype = struct.unpack('>IIBB', body[:10])
        elif kind == b'PLTE':
            palette = list(body)
        elif kind == b'IDAT':
            idat += body
    raw = zlib.decompress(idat)
    bpp = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    stride = width * bpp
    rows, prev, pos = [], [0] * stride, 0
    for _ in range(height):
        f, line = raw[pos], list(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return ctype, depth, width, height, palette, rows

W, H = 5, 4
def frame(k):
    return [[(k * 41 + y * W + x * 7) % 256 for x in range(W)] for y in range(H)]

command = sys.argv[1]
if command == 'make':
    grey = [v for i in range(256) for v in (i, i, i)]
    for k, name in enumerate(['f0', 'f1', 'f1b', 'f2']):
        write(name + '.png', W, H, frame({'f1b': 1}.get(name, k if k < 2 else 2)), 3, grey)
    # An RGB background, mapped to the nearest screen colour.
    write('bg.png', W, H, [[255, 255, 255] * W for _ in range(H)], 2)
    # A 720x576 palette frame for the oldest version.
    write('wide.png', 720, 576, [[(x + y) % 256 for x in range(720)] for y in range(576)], 3, grey)
elif command == 'info':
    info = json.load(open(sys.argv[2]))
    expect = {'version': 949, 'width': W, 'height': H, 'frameRate': 12.5, 'firstFrame': 3,
              'lastFrame': 6, 'frames': 4, 'ownChunks': 3, 'repeatedFrames': 1}
    for key, value in expect.items():
        assert info[key] == value, (key, info[key], value)
elif command == 'exported':
    for number, k in [(3, 0), (4, 1), (5, 1), (6, 2)]:
        ctype, depth, width, height, palette, rows = read('out_%04d.png' % number)
        assert (ctype, depth, width, height) == (3, 8, W, H), (ctype, depth, width, height)
        assert rows == frame(k), ('frame', number, rows)
        assert len(palette) == 768
        assert palette[0:3] == [0, 0, 0]
        assert palette[3 * 64:3 * 64 + 3] == [0, 0, 0] and palette[3 * 65:3 * 65 + 3] == [4, 4, 4]
        assert palette[3 * 127:3 * 127 + 3] == [255, 255, 255]
        assert palette[3 * 128:3 * 128 + 3] == [96, 126, 255]
        assert palette[3 * 192:3 * 192 + 3] == [205, 39, 0]
    # White has its nearest entry wherever the palette holds white first.
    _, _, _, _, palette, rows = read('out_background.png')
    assert all(palette[3 * i:3 * i + 3] == [255, 255, 255] for row in rows for i in row), rows
elif command == 'wide':
    ctype, depth, width, height, palette, rows = read(sys.argv[2])
    assert (ctype, width, height) == (3, 720, 576)
    assert all(rows[y][x] == (x + y) % 256 for y in range(0, 576, 61) for x in range(720))
elif command == 'mutate':
    # Damaged copies: random bytes overwritten, inserted or removed.
    import random
    original = open(sys.argv[2], 'rb').read()
    for seed in range(1, int(sys.argv[3]) + 1):
        rng = random.Random(seed)
        data = bytearray(original)
        for _ in range(rng.randint(1, 4)):
            where = rng.choice([rng.randrange(0, 44), rng.randrange(6520, len(data))])
            kind = rng.randrange(3)
            if kind == 0:
                data[where] = rng.randrange(256)
            elif kind == 1:
                data[where:where] = bytes([rng.randrange(256)])
            else:
                del data[where]
        open('mutant_%d.kiv' % seed, 'wb').write(bytes(data))
elif command == 'short':
    # The last frame's chunk replaced by a run of 7 pixels of 42: it fills
    # only part of the 20-pixel picture, which a file may do.
    data = bytearray(open(sys.argv[2], 'rb').read())
    last = data.rfind(b'FRME')
    open(sys.argv[3], 'wb').write(bytes(data[:last]) + b'FRME' + struct.pack('<I', 3) + b'\x00\x07\x2a')
elif command == 'short-exported':
    # The rest of that picture is 0, never the frame exported before it.
    assert read(sys.argv[2])[5] == frame(1), 'frame before'
    rows = read(sys.argv[3])[5]
    assert rows == [[42] * 5, [42, 42, 0, 0, 0], [0] * 5, [0] * 5], rows
elif command == 'corrupt':
    # Replace the last frame's chunk by runs whose 176th overruns the
    # 5764800-byte frame buffer (expanding past the 20-byte picture alone is sound).
    data = bytearray(open(sys.argv[2], 'rb').read())
    last = data.rfind(b'FRME')
    runs = b'\x7f\xf8\x01' * 176
    open(sys.argv[3], 'wb').write(bytes(data[:last]) + b'FRME' + struct.pack('<I', len(runs)) + runs)
    print(last + 8 + 175 * 3)
PY

python3 pngtool.py make
"$KIVTOOL" create -o anim.kiv --fps 12.5 --first 3 --keep-indices --background bg.png f0.png f1.png f1b.png f2.png || fail "create"
"$KIVTOOL" info --json anim.kiv > info.json || fail "info --json"
python3 pngtool.py info info.json || fail "info values"
"$KIVTOOL" info anim.kiv | grep -q '^frames: *4 (3 with their own chunk, 1 repeated)$' || fail "info text"
[ "$("$KIVTOOL" check anim.kiv)" = "anim.kiv: ok" ] || fail "check of a good file"
"$KIVTOOL" export anim.kiv -o 'out_%04d.png' --background --start-number 3 || fail "export"
python3 pngtool.py exported || fail "exported pictures"
# ImageMagick reads the same colours: frame 6 pixel (0,0) is index 82 (grey ramp entry 18 -> 72),
# opaque (only 127 is transparent).
[ "$(/usr/bin/convert out_0006.png -format '%[pixel:p{0,0}]' info:)" = "srgba(72,72,72,1)" ] \
  || fail "ImageMagick colour: $(/usr/bin/convert out_0006.png -format '%[pixel:p{0,0}]' info:)"

# A chunk shorter than its picture.
python3 pngtool.py short anim.kiv short.kiv
"$KIVTOOL" export short.kiv -o 'short_%d.png' || fail "export of a short chunk"
python3 pngtool.py short-exported short_2.png short_3.png || fail "short chunk"

# Version 909 stores frames 768 wide; indices kept as they are come back as they went in.
"$KIVTOOL" create -o wide.kiv --fps 25 --version 909 --keep-indices wide.png || fail "create 909"
"$KIVTOOL" export wide.kiv -o 'wide_%d.png' || fail "export 909"
python3 pngtool.py wide wide_0.png || fail "909 round trip"

# A corrupt chunk: exit 1 and one line naming file, offset and frame.
offset=$(python3 pngtool.py corrupt anim.kiv bad.kiv)
set +e
"$KIVTOOL" check bad.kiv > out.txt 2> err.txt
status=$?
set -e
[ $status -eq 1 ] || fail "check of a corrupt file exited $status"
[ ! -s out.txt ] || fail "check printed to stdout: $(cat out.txt)"
[ "$(wc -l < err.txt)" -eq 1 ] || fail "check printed more than one line: $(cat err.txt)"
expected=$(printf 'kivtool: bad.kiv: offset 0x%x (%d): frame 6: run overruns the 5764800-byte frame buffer' "$offset" "$offset")
[ "$(cat err.txt)" = "$expected" ] || fail "check line: $(cat err.txt), expected $expected"

# Every truncation of the file is refused with one line and exit 1.
size=$(stat -c %s anim.kiv)
for cut in 0 3 11 40 6519 6527 6531 $((size - 1)); do
  head -c "$cut" anim.kiv > cut.kiv
  set +e
  "$KIVTOOL" check cut.kiv > /dev/null 2> err.txt
  status=$?
  set -e
  [ $status -eq 1 ] || fail "truncated at $cut: exit $status"
  [ "$(wc -l < err.txt)" -eq 1 ] || fail "truncated at $cut: $(cat err.txt)"
done

# Randomly damaged files: a clean verdict every time, one line when refused.
python3 pngtool.py mutate anim.kiv 200
for seed in $(seq 1 200); do
  set +e
  "$KIVTOOL" check "mutant_$seed.kiv" > out.txt 2> err.txt
  status=$?
  set -e
  case $status in
    # A chunk that expands past its picture within its buffer adds a note line.
    0) [ "$(head -n1 out.txt)" = "mutant_$seed.kiv: ok" ] &&
         { [ "$(wc -l < out.txt)" -eq 1 ] || { [ "$(wc -l < out.txt)" -eq 2 ] && grep -q "^mutant_$seed.kiv: note: " out.txt; }; } ||
         fail "mutant $seed: $(cat out.txt)" ;;
    1) [ "$(wc -l < err.txt)" -eq 1 ] && grep -q "^kivtool: mutant_$seed.kiv: offset 0x[0-9a-f]* ([0-9]*): " err.txt \
         || fail "mutant $seed: $(cat err.txt)" ;;
    *) fail "mutant $seed: exit $status: $(cat err.txt)" ;;
  esac
done

# Usage and I/O errors exit 2.
expect_usage() {
  set +e
  "$KIVTOOL" "$@" > /dev/null 2>&1
  local status=$?
  set -e
  [ $status -eq 2 ] || fail "kivtool $* exited $status, not 2"
}
expect_usage
expect_usage frobnicate
expect_usage check
expect_usage check missing.kiv
mkdir -p nothing_here
expect_usage check nothing_here
expect_usage export anim.kiv -o 'x_%s.png'
expect_usage export anim.kiv -o 'x_%d_%d.png'
expect_usage export anim.kiv -o 'x.png'
expect_usage create -o x.kiv f0.png
expect_usage create -o x.kiv --fps 10 --version 929 f0.png
"$KIVTOOL" --help | grep -q 'export FILE... -o OUTPUT' || fail "help"
echo "kivtool e2e: ok"
