// The conversions' worker: runs the conversion module (KivConvertCore,
// above) away from the page, one job at a time. A job names a file's bytes
// and what to make of them; the worker answers with progress, the pieces
// made (each with its CRC-32, for the zip the page writes) and the end.
// The page ends a job by ending the worker.
'use strict';

let ready = null;

const crcTable = new Uint32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes, crc = 0) {
  let c = ~crc >>> 0;
  for (let i = 0; i < bytes.length; ++i) c = crcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return ~c >>> 0;
}

async function deflate(bytes) {
  const stream = new Response(bytes).body.pipeThrough(new CompressionStream('deflate'));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

// A palette PNG: 8-bit indices, the 256 colours, and index 127 transparent
// (a tRNS entry) unless `opaque`, as kivtool export writes them.
async function palettePng(indices, width, height, palette, opaque) {
  const rows = new Uint8Array((width + 1) * height);
  for (let y = 0; y < height; ++y) rows.set(indices.subarray(y * width, (y + 1) * width), y * (width + 1) + 1);
  const chunks = [];
  const chunk = (type, data) => {
    const out = new Uint8Array(12 + data.length);
    const view = new DataView(out.buffer);
    view.setUint32(0, data.length);
    for (let i = 0; i < 4; ++i) out[4 + i] = type.charCodeAt(i);
    out.set(data, 8);
    view.setUint32(8 + data.length, crc32(out.subarray(4, 8 + data.length)));
    chunks.push(out);
  };
  const header = new Uint8Array(13);
  const view = new DataView(header.buffer);
  view.setUint32(0, width);
  view.setUint32(4, height);
  header.set([8, 3, 0, 0, 0], 8);
  chunk('IHDR', header);
  chunk('PLTE', palette);
  if (!opaque) chunk('tRNS', new Uint8Array(128).fill(255).fill(0, 127));
  chunk('IDAT', await deflate(rows));
  chunk('IEND', new Uint8Array(0));
  const png = new Uint8Array(8 + chunks.reduce((sum, c) => sum + c.length, 0));
  png.set([137, 80, 78, 71, 13, 10, 26, 10]);
  let at = 8;
  for (const c of chunks) {
    png.set(c, at);
    at += c.length;
  }
  return png;
}

function piece(id, name, bytes) {
  postMessage({ id, type: 'piece', name, bytes, crc: crc32(bytes) }, [bytes.buffer]);
}

function copy(module, address, length) {
  return module.HEAPU8.slice(address, address + length);
}

// Loads the job's bytes; false (the reason posted) when they do not load.
function open(module, job) {
  const address = module._kc_file_buffer(job.bytes.byteLength);
  if (address) module.HEAPU8.set(new Uint8Array(job.bytes), address);
  const loaded = address !== 0 && module._kc_open() === 1;
  if (!loaded) {
    postMessage({ id: job.id, type: 'failed', damaged: true, message: module.UTF8ToString(module._kc_message()),
                  detail: module.UTF8ToString(module._kc_detail()) });
  }
  return loaded;
}

function info(module) {
  return { width: module._kc_width(), height: module._kc_height(), count: module._kc_count(), rate: module._kc_rate() };
}

const jobs = {
  info(module, job) {
    const limit = job.thumbnail || 256;
    const address = module._kc_thumbnail(limit);
    const width = module._kc_thumbnail_width();
    const height = module._kc_thumbnail_height();
    postMessage({ id: job.id, type: 'info', info: info(module), thumbnail: { width, height, rgb: copy(module, address, width * height * 3) } });
  },

  gif(module, job) {
    const total = module._kc_gif_begin(job.composite ? 1 : 0);
    if (total === 0) {
      postMessage({ id: job.id, type: 'failed', message: 'Frame rate 0 never advances; a GIF needs a rate above 0.' });
      return;
    }
    for (let i = 0; i < total; ++i) {
      module._kc_gif_add(i);
      postMessage({ id: job.id, type: 'progress', done: i + 1, total });
    }
    const address = module._kc_gif_end();
    const dropped = module._kc_gif_dropped();
    if (dropped > 0) {
      postMessage({ id: job.id, type: 'note', text: `${dropped} of ${module._kc_count()} frames left out: at this rate ` +
        'some start less than 2 cs after the one before, which a GIF cannot show; the duration is kept' });
    }
    piece(job.id, job.stem + '.gif', copy(module, address, module._kc_gif_size()));
  },

  async png(module, job) {
    const { width, height, count } = info(module);
    const palette = copy(module, module._kc_palette(), 768);
    for (let i = 0; i < count; ++i) {
      // The call may grow the module's memory: take the view after it.
      const address = module._kc_picture(i, job.composite ? 1 : 0);
      const picture = copy(module, address, width * height);
      const png = await palettePng(picture, width, height, palette, job.composite);
      piece(job.id, job.prefix + String(i).padStart(4, '0') + '.png', png);
      postMessage({ id: job.id, type: 'progress', done: i + 1, total: count });
    }
  },
};

onmessage = async (event) => {
  const job = event.data;
  if (job.type === 'screen') {
    if (screenArrived) {
      const resolve = screenArrived;
      screenArrived = null;
      resolve(job.rgba);
    } else {
      screens.push(job.rgba);
    }
    return;
  }
  if (job.type === 'start') {
    ready = KivConvertCore({ wasmBinary: job.wasm, print: () => {}, printErr: () => {} });
    return;
  }
  const module = await ready;
  try {
    if (job.op === 'create' || job.op === 'screens' || open(module, job)) {
      await jobs[job.op](module, job);
      postMessage({ id: job.id, type: 'done' });
    }
  } catch (error) {
    postMessage({ id: job.id, type: 'failed', message: String(error && error.message ? error.message : error) });
  } finally {
    module._kc_release();
    module._kc_create_release();
  }
};

// ---- video ------------------------------------------------------------------
// EBML: an element is its ID, its size (here always in 8 bytes) and its body.
function ebml(id, ...body) {
  const parts = body.map((part) => (part instanceof Uint8Array ? part : new Uint8Array(part)));
  const size = parts.reduce((sum, part) => sum + part.length, 0);
  const idBytes = [];
  for (let v = id; v > 0; v = Math.floor(v / 256)) idBytes.unshift(v & 0xff);
  const out = new Uint8Array(idBytes.length + 8 + size);
  out.set(idBytes);
  out[idBytes.length] = 0x01;
  for (let i = 0, v = size; i < 7; ++i, v = Math.floor(v / 256)) out[idBytes.length + 7 - i] = v & 0xff;
  let at = idBytes.length + 8;
  for (const part of parts) {
    out.set(part, at);
    at += part.length;
  }
  return out;
}
const uint = (value, bytes = 4) => Array.from({ length: bytes }, (_, i) => Math.floor(value / 256 ** (bytes - 1 - i)) & 0xff);
const text = (value) => new TextEncoder().encode(value);
const float64 = (value) => {
  const out = new Uint8Array(8);
  new DataView(out.buffer).setFloat64(0, value);
  return out;
};

// A WebM of one VP9 track: chunks { data, timestamp (us), key }. A cluster
// starts at every key frame (and within 30 s of the last), timed in ms.
function webm(chunks, width, height, rate, durationUs) {
  const header = ebml(0x1a45dfa3, ebml(0x4286, [1]), ebml(0x42f7, [1]), ebml(0x42f2, [4]), ebml(0x42f3, [8]),
    ebml(0x4282, text('webm')), ebml(0x4287, [4]), ebml(0x4285, [2]));
  const info = ebml(0x1549a966, ebml(0x2ad7b1, uint(1000000)), ebml(0x4d80, text('kivplay')),
    ebml(0x5741, text('kivplay')), ebml(0x4489, float64(durationUs / 1000)));
  const tracks = ebml(0x1654ae6b, ebml(0xae, ebml(0xd7, [1]), ebml(0x73c5, [1]), ebml(0x83, [1]),
    ebml(0x86, text('V_VP9')), ebml(0x23e383, uint(Math.round(1e9 / rate))),
    ebml(0xe0, ebml(0xb0, uint(width, 2)), ebml(0xba, uint(height, 2)))));
  const clusters = [];
  let blocks = [];
  let clusterMs = 0;
  const close = () => {
    if (blocks.length > 0) clusters.push(ebml(0x1f43b675, ebml(0xe7, uint(clusterMs)), ...blocks));
    blocks = [];
  };
  for (const chunk of chunks) {
    const ms = Math.round(chunk.timestamp / 1000);
    if (blocks.length === 0 || chunk.key || ms - clusterMs > 30000) {
      close();
      clusterMs = ms;
    }
    const relative = ms - clusterMs;
    blocks.push(ebml(0xa3, [0x81, (relative >> 8) & 0xff, relative & 0xff, chunk.key ? 0x80 : 0], chunk.data));
  }
  close();
  const segment = ebml(0x18538067, info, tracks, ...clusters);
  const out = new Uint8Array(header.length + segment.length);
  out.set(header);
  out.set(segment, header.length);
  return out;
}

// An MP4 box: size, type and body.
function box(type, ...body) {
  const parts = body.map((part) => (part instanceof Uint8Array ? part : new Uint8Array(part)));
  const size = 8 + parts.reduce((sum, part) => sum + part.length, 0);
  const out = new Uint8Array(size);
  out.set(uint(size));
  out.set(text(type), 4);
  let at = 8;
  for (const part of parts) {
    out.set(part, at);
    at += part.length;
  }
  return out;
}
const fullBox = (type, version, flags, ...body) => box(type, [version, ...uint(flags, 3)], ...body);

// An MP4 of one H.264 track (avcC from the encoder): every sample lasts one
// frame of the stored rate, in a timescale of `scale` ticks a second.
function mp4(chunks, width, height, rate, avcC) {
  const scale = 90000;
  const frameTicks = Math.round(scale / rate);
  const duration = frameTicks * chunks.length;
  const matrix = [0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000].flatMap((v) => uint(v));
  const dataSize = chunks.reduce((sum, chunk) => sum + chunk.data.length, 0);
  const keys = chunks.flatMap((chunk, i) => (chunk.key ? [i + 1] : []));
  const ftyp = box('ftyp', text('isom'), uint(512), text('isomiso2avc1mp41'));
  const build = (mdatOffset) => box('moov',
    fullBox('mvhd', 0, 0, uint(0), uint(0), uint(scale), uint(duration), uint(0x00010000), [1, 0], new Array(10).fill(0),
      matrix, new Array(24).fill(0), uint(2)),
    box('trak',
      fullBox('tkhd', 0, 3, uint(0), uint(0), uint(1), uint(0), uint(duration), new Array(8).fill(0), [0, 0, 0, 0, 0, 0, 0, 0],
        matrix, uint(width * 65536), uint(height * 65536)),
      box('mdia',
        fullBox('mdhd', 0, 0, uint(0), uint(0), uint(scale), uint(duration), [0x55, 0xc4, 0, 0]),
        fullBox('hdlr', 0, 0, uint(0), text('vide'), new Array(12).fill(0), text('kivplay\0')),
        box('minf',
          fullBox('vmhd', 0, 1, new Array(8).fill(0)),
          box('dinf', fullBox('dref', 0, 0, uint(1), fullBox('url ', 0, 1))),
          box('stbl',
            fullBox('stsd', 0, 0, uint(1), box('avc1', new Array(6).fill(0), [0, 1], new Array(16).fill(0),
              uint(width, 2), uint(height, 2), uint(0x00480000), uint(0x00480000), uint(0), [0, 1],
              new Array(32).fill(0), [0, 0x18, 0xff, 0xff], box('avcC', avcC))),
            fullBox('stts', 0, 0, uint(1), uint(chunks.length), uint(frameTicks)),
            fullBox('stss', 0, 0, uint(keys.length), keys.flatMap((k) => uint(k))),
            fullBox('stsc', 0, 0, uint(1), uint(1), uint(chunks.length), uint(1)),
            fullBox('stsz', 0, 0, uint(0), uint(chunks.length), chunks.flatMap((chunk) => uint(chunk.data.length))),
            fullBox('stco', 0, 0, uint(1), uint(mdatOffset)))))));
  // The sample data follows the index: its offset is known once the index
  // is built (its size does not depend on the offset).
  const moov = build(ftyp.length + build(0).length + 8);
  const out = new Uint8Array(ftyp.length + moov.length + 8 + dataSize);
  out.set(ftyp);
  out.set(moov, ftyp.length);
  let at = ftyp.length + moov.length;
  out.set(uint(8 + dataSize), at);
  out.set(text('mdat'), at + 4);
  at += 8;
  for (const chunk of chunks) {
    out.set(chunk.data, at);
    at += chunk.data.length;
  }
  return out;
}

// The encoder's settings: H.264 in MP4 takes even sizes only (a column or
// row of black is added to an odd one).
function videoConfig(container, codec, width, height, rate) {
  const even = container === 'mp4';
  const codedWidth = even ? width + (width & 1) : width;
  const codedHeight = even ? height + (height & 1) : height;
  return {
    codec, width: codedWidth, height: codedHeight, framerate: rate,
    // Enough for palette pictures to come back close to their colours.
    bitrate: Math.max(500000, Math.round(codedWidth * codedHeight * Math.min(rate, 60) * 0.6)),
    hardwareAcceleration: 'prefer-software', latencyMode: 'quality',
    ...(container === 'mp4' ? { avc: { format: 'avc' } } : {}),
  };
}

// Encodes `count` pictures of width x height at `rate`: fill(i, rgbx,
// codedWidth) puts picture i's colours (RGBX) in place, and may wait for
// them. The video goes out as the job's piece.
async function encodeVideo(job, width, height, rate, count, fill) {
  if (!(rate > 0)) throw new Error('Frame rate 0 never advances; a video needs a rate above 0.');
  const config = videoConfig(job.container, job.codec, width, height, rate);
  const support = await VideoEncoder.isConfigSupported(config);
  if (!support.supported) throw new Error(`this browser cannot encode ${config.codec} at ${config.width}x${config.height}`);
  const chunks = [];
  let description = null;
  let failure = null;
  const encoder = new VideoEncoder({
    output: (chunk, metadata) => {
      const data = new Uint8Array(chunk.byteLength);
      chunk.copyTo(data);
      chunks.push({ data, timestamp: chunk.timestamp, key: chunk.type === 'key' });
      if (metadata && metadata.decoderConfig && metadata.decoderConfig.description && !description) {
        description = new Uint8Array(metadata.decoderConfig.description.slice(0));
      }
    },
    error: (error) => { failure = error; },
  });
  encoder.configure(config);
  const rgbx = new Uint8Array(config.width * config.height * 4);
  const keyEvery = Math.max(1, Math.round(rate * 2));
  for (let i = 0; i < count; ++i) {
    await fill(i, rgbx, config.width);
    const frame = new VideoFrame(rgbx, { format: 'RGBX', codedWidth: config.width, codedHeight: config.height,
      timestamp: Math.round(i * 1e6 / rate), duration: Math.round(1e6 / rate) });
    encoder.encode(frame, { keyFrame: i % keyEvery === 0 });
    frame.close();
    while (encoder.encodeQueueSize > 2 && !failure) await new Promise((resolve) => setTimeout(resolve, 1));
    if (failure) throw failure;
    postMessage({ id: job.id, type: 'progress', done: i + 1, total: count });
  }
  await encoder.flush();
  encoder.close();
  if (failure) throw failure;
  const bytes = job.container === 'webm'
    ? webm(chunks, config.width, config.height, rate, Math.round(count * 1e6 / rate))
    : mp4(chunks, config.width, config.height, rate, description);
  piece(job.id, job.stem + '.' + job.container, bytes);
}

// The frames alone, each over the background.
jobs.video = async (module, job) => {
  const { width, height, count, rate } = info(module);
  const palette = copy(module, module._kc_palette(), 768);
  await encodeVideo(job, width, height, rate, count, (i, rgbx, codedWidth) => {
    const address = module._kc_picture(i, 1);  // may grow memory: the view comes after
    const indices = module.HEAPU8.subarray(address);
    for (let y = 0; y < height; ++y) {
      for (let x = 0; x < width; ++x) {
        const c = indices[y * width + x] * 3;
        const at = (y * codedWidth + x) * 4;
        rgbx[at] = palette[c];
        rgbx[at + 1] = palette[c + 1];
        rgbx[at + 2] = palette[c + 2];
        rgbx[at + 3] = 255;
      }
    }
  });
};

// Whole screens, as the player shows them, sent by the page one by one
// ('screen' messages of RGBA): the job gives their size and number.
const screens = [];
let screenArrived = null;
function nextScreen() {
  if (screens.length > 0) return Promise.resolve(screens.shift());
  return new Promise((resolve) => { screenArrived = resolve; });
}

jobs.screens = async (module, job) => {
  await encodeVideo(job, job.width, job.height, job.rate, job.count, async (i, rgbx, codedWidth) => {
    const rgba = new Uint8Array(await nextScreen());
    for (let y = 0; y < job.height; ++y) {
      rgbx.set(rgba.subarray(y * job.width * 4, (y + 1) * job.width * 4), y * codedWidth * 4);
    }
  });
};

// ---- a KIV from a GIF --------------------------------------------------------
// The browser's ImageDecoder gives each frame as the GIF shows it; the
// module maps the colours and writes the file as kivtool create does. The
// rate is the job's, or, when it has none, the one the delays ask for.
jobs.create = async (module, job) => {
  if (typeof ImageDecoder !== 'function') throw new Error('this browser has no ImageDecoder to read GIF frames');
  const decoder = new ImageDecoder({ data: job.bytes, type: 'image/gif' });
  await decoder.tracks.ready;
  const count = decoder.tracks.selectedTrack.frameCount;
  let rgba = null;
  let canvas = null;
  for (let i = 0; i < count; ++i) {
    const { image } = await decoder.decode({ frameIndex: i });
    const width = image.displayWidth;
    const height = image.displayHeight;
    if (i === 0) {
      const address = module._kc_create_begin(width, height);
      if (!address) throw new Error(`a KIV cannot hold pictures of ${width}x${height}`);
      rgba = () => module.HEAPU8.subarray(address, address + width * height * 4);
      canvas = new OffscreenCanvas(width, height).getContext('2d', { willReadFrequently: true });
    }
    // Straight colours, not premultiplied: through a canvas that keeps them.
    canvas.clearRect(0, 0, width, height);
    canvas.drawImage(image, 0, 0);
    rgba().set(canvas.getImageData(0, 0, width, height, { colorSpace: 'srgb' }).data);
    const delay = Math.round((image.duration || 0) / 10000);
    image.close();
    if (!module._kc_create_add(delay)) throw new Error('a KIV holds at most 9999 frames');
    postMessage({ id: job.id, type: 'progress', done: i + 1, total: count });
  }
  decoder.close();
  const rate = job.rate > 0 ? job.rate : module._kc_create_rate();
  const address = module._kc_create_end(rate);
  if (!address) throw new Error(module.UTF8ToString(module._kc_message()));
  piece(job.id, job.stem + '.kiv', copy(module, address, module._kc_create_size()));
};
