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
  const path = '/job.kiv';
  module.FS.writeFile(path, new Uint8Array(job.bytes));
  const loaded = module.ccall('kc_open', 'number', ['string'], [path]) === 1;
  module.FS.unlink(path);
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
    piece(job.id, job.stem + '.gif', copy(module, address, module._kc_gif_size()));
  },

  async png(module, job) {
    const { width, height, count } = info(module);
    const palette = copy(module, module._kc_palette(), 768);
    for (let i = 0; i < count; ++i) {
      const indices = module.HEAPU8.subarray(module._kc_picture(i, job.composite ? 1 : 0));
      const picture = indices.slice(0, width * height);
      const png = await palettePng(picture, width, height, palette, job.composite);
      piece(job.id, job.prefix + String(i).padStart(4, '0') + '.png', png);
      postMessage({ id: job.id, type: 'progress', done: i + 1, total: count });
    }
  },
};

onmessage = async (event) => {
  const job = event.data;
  if (job.type === 'start') {
    ready = KivConvertCore({ wasmBinary: job.wasm, print: () => {}, printErr: () => {} });
    return;
  }
  const module = await ready;
  try {
    if (open(module, job)) {
      await jobs[job.op](module, job);
      postMessage({ id: job.id, type: 'done' });
    }
  } catch (error) {
    postMessage({ id: job.id, type: 'failed', message: String(error && error.message ? error.message : error) });
  } finally {
    module._kc_release();
  }
};
