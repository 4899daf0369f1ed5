// The page's conversions, loaded by the player only when first asked for:
// "Save as..." (an animated GIF or the frames as PNGs in a zip, as kivtool
// export makes them, or a video of the frames over the background) for the
// file that plays, and lists of several files with "Save all". The work runs in a worker
// with the conversion module; the page only shows progress and writes the
// zip. Nothing goes over the network: the download is made in the page.
//
// Evaluated with `source` (the worker's script), `wasm` (the module's
// bytes) and `makePlayerCore` (a new instance of the player's module, for
// the whole screens); returns the conversions' interface.
'use strict';

const kFormats = {
  gif: { label: 'Animated GIF', composite: false },
  'gif-composite': { label: 'Animated GIF over the background', composite: true },
  png: { label: 'PNG frames (.zip)', composite: false },
  'png-composite': { label: 'PNG frames over the background (.zip)', composite: true },
  webm: { label: 'WebM video (VP9)', composite: true, container: 'webm', codec: 'vp09.00.40.08' },
  mp4: { label: 'MP4 video (H.264)', composite: true, container: 'mp4', codec: 'avc1.420033' },
  'webm-screen': { label: 'WebM video of the whole screen (VP9)', container: 'webm', codec: 'vp09.00.40.08', screen: true },
  'mp4-screen': { label: 'MP4 video of the whole screen (H.264)', container: 'mp4', codec: 'avc1.420033', screen: true },
};

// Why this browser cannot make a video format, or '' when it can.
async function videoUnsupported(format) {
  const kind = kFormats[format];
  if (typeof VideoEncoder !== 'function') return 'this browser has no video encoder (WebCodecs)';
  try {
    const { supported } = await VideoEncoder.isConfigSupported({ codec: kind.codec, width: 640, height: 480,
      bitrate: 2e6, framerate: 25, hardwareAcceleration: 'prefer-software' });
    return supported ? '' : `this browser cannot encode ${kind.codec}`;
  } catch (error) {
    return String(error.message || error);
  }
}

// The name without its .kiv ending, for the names of what is made of it.
function stemOf(name) {
  return String(name || 'animation').replace(/\.kiv$/i, '') || 'animation';
}

// ---- the worker -----------------------------------------------------------
const workerUrl = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
let worker = null;
let nextId = 1;
let running = null;  // the job the worker has: { id, reject, ... }

function ensureWorker() {
  if (!worker) {
    worker = new Worker(workerUrl);
    worker.postMessage({ type: 'start', wasm });
    worker.onmessage = (event) => {
      const message = event.data;
      if (!running || message.id !== running.id) return;
      const job = running;
      if (message.type === 'progress') job.onProgress(message.done, message.total);
      else if (message.type === 'piece') job.pieces.push(message);
      else if (message.type === 'info') job.info = message;
      else if (message.type === 'note') job.notes.push(message.text);
      else if (message.type === 'done') { running = null; job.resolve(job); }
      else if (message.type === 'failed') { running = null; job.reject(new ConvertError(message)); }
    };
    worker.onerror = (event) => {
      if (running) {
        const job = running;
        running = null;
        job.reject(new Error(event.message || 'the conversion stopped'));
      }
      worker = null;
    };
  }
  return worker;
}

// A job that failed: `damaged` when the file does not load (the message is
// then the player's, `detail` the loader's where and why).
class ConvertError extends Error {
  constructor(report) {
    super(typeof report === 'string' ? report : report.message);
    this.damaged = Boolean(report.damaged);
    this.detail = report.detail || '';
  }
}
class Cancelled extends Error {}

// Runs one job on a file's bytes (an ArrayBuffer, handed over): resolves to
// the job with its pieces (name, bytes, crc) and info.
function run(op, bytes, options = {}, onProgress = () => {}) {
  if (running) return Promise.reject(new Error('a conversion is already running'));
  return new Promise((resolve, reject) => {
    const id = nextId++;
    running = { id, resolve, reject, onProgress, pieces: [], info: null, notes: [] };
    ensureWorker().postMessage({ id, op, bytes, ...options }, [bytes]);
  });
}

// Ends the running job at once: its worker goes, and a fresh one serves the
// next job.
function cancel() {
  if (!running) return;
  const job = running;
  running = null;
  worker.terminate();
  worker = null;
  job.reject(new Cancelled('cancelled'));
}

// ---- zip ------------------------------------------------------------------
// A zip of stored entries (the pictures are compressed already), as a Blob
// so that large ones need not stay in the page's memory. Every entry is
// dated 1980-01-01, so that the same input gives the same bytes.
function zip(entries) {
  const parts = [];
  const directory = [];
  const encoder = new TextEncoder();
  let offset = 0;
  for (const entry of entries) {
    const name = encoder.encode(entry.name);
    const head = (signature, extra) => {
      const bytes = new Uint8Array(extra + name.length);
      const view = new DataView(bytes.buffer);
      view.setUint32(0, signature, true);
      return { bytes, view };
    };
    const fill = (view, at) => {
      view.setUint16(at, 20, true);            // version needed
      view.setUint16(at + 2, 0x0800, true);    // names in UTF-8
      view.setUint16(at + 4, 0, true);         // stored
      view.setUint16(at + 6, 0, true);         // time
      view.setUint16(at + 8, 0x21, true);      // date: 1980-01-01
      view.setUint32(at + 10, entry.crc, true);
      view.setUint32(at + 14, entry.size, true);
      view.setUint32(at + 18, entry.size, true);
      view.setUint16(at + 22, name.length, true);
    };
    const local = head(0x04034b50, 30);
    fill(local.view, 4);
    local.bytes.set(name, 30);
    const central = head(0x02014b50, 46);
    central.view.setUint16(4, 20, true);       // made by
    fill(central.view, 6);
    central.view.setUint32(42, offset, true);
    central.bytes.set(name, 46);
    parts.push(local.bytes, entry.data);
    directory.push(central.bytes);
    offset += local.bytes.length + entry.size;
  }
  const size = directory.reduce((sum, bytes) => sum + bytes.length, 0);
  const end = new Uint8Array(22);
  const view = new DataView(end.buffer);
  view.setUint32(0, 0x06054b50, true);
  view.setUint16(8, entries.length, true);
  view.setUint16(10, entries.length, true);
  view.setUint32(12, size, true);
  view.setUint32(16, offset, true);
  return new Blob([...parts, ...directory, end], { type: 'application/zip' });
}

function entryOf(piece, prefix = '') {
  return { name: prefix + piece.name, data: new Blob([piece.bytes]), size: piece.bytes.length, crc: piece.crc };
}

function download(name, blob) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// ---- one file -----------------------------------------------------------
// Converts `bytes` (an ArrayBuffer, handed over) of the file `name` into
// `format` (a key of kFormats): resolves to { name, blob }.
async function convert(name, bytes, format, onProgress) {
  const kind = kFormats[format];
  if (!kind) throw new Error('unknown format ' + format);
  const stem = stemOf(name);
  if (kind.container) {
    const why = await videoUnsupported(format);
    if (why) throw new Error(why);
    if (kind.screen) return screenVideo(name, bytes, kind, onProgress);
    const job = await run('video', bytes, { stem, container: kind.container, codec: kind.codec }, onProgress);
    return { name: job.pieces[0].name, blob: new Blob([job.pieces[0].bytes], { type: 'video/' + kind.container }) };
  }
  const isGif = format.startsWith('gif');
  const job = await run(isGif ? 'gif' : 'png', bytes, { stem, prefix: stem + '-', composite: kind.composite }, onProgress);
  if (isGif) return { name: stem + '.gif', blob: new Blob([job.pieces[0].bytes], { type: 'image/gif' }), notes: job.notes };
  return { name: stem + '-frames.zip', blob: zip(job.pieces.map((piece) => entryOf(piece))) };
}


// ---- whole screens -----------------------------------------------------------
// A video of the screens the player shows, one per frame as kivtool render
// numbers them: a player of its own plays the file on a clock of the
// page's, and each time its frame moves on, the screen shown is the frame
// before. It runs in slices well under the page's task budget; the worker
// encodes the screens as they come.
async function screenVideo(name, bytes, kind, onProgress = () => {}) {
  const described = await run('info', bytes.slice(0), { thumbnail: 1 });
  const { count, rate } = described.info.info;
  if (!(rate > 0)) throw new ConvertError('Frame rate 0 never advances; a video needs a rate above 0.');
  const core = await makePlayerCore();
  const path = stemOf(name) + '.kiv';
  const address = core._kiv_file_buffer(bytes.byteLength);
  if (!address) throw new ConvertError('not enough memory for the file');
  core.HEAPU8.set(new Uint8Array(bytes), address);
  core._kiv_manual_clock(1, 0);
  if (core.ccall('kiv_open', 'number', ['string'], [path]) !== 1) throw new ConvertError('the player does not load the file');
  let encoding = null;
  let failed = null;
  let encoded = 0;
  let sent = 0;
  let width = 0;
  let height = 0;
  const send = (rgba) => {
    ++sent;
    worker.postMessage({ type: 'screen', rgba: rgba.buffer }, [rgba.buffer]);
  };
  try {
    let frame = -1;
    // Simulated time without a new frame before the player is taken as stuck.
    const patienceMs = 10000 + 2000 / rate;
    let waited = 0;
    while (sent < count) {
      const sliceStart = performance.now();
      while (sent < count && performance.now() - sliceStart < 20) {
        if (failed) throw failed;
        core._kiv_advance_clock(10);
        const status = core._kiv_run(1e9);
        if ((status & 1) === 0) throw new ConvertError('the player stopped');
        if (status & 2) core._kiv_take_picture();
        waited += 10;
        if (core._kiv_state() !== 2) continue;
        const now = core._kiv_frame();
        if (frame >= 0 && now !== frame) {
          if (!encoding) {
            width = core._kiv_width();
            height = core._kiv_height();
            encoding = run('screens', new ArrayBuffer(0), { stem: stemOf(name), container: kind.container,
              codec: kind.codec, width, height, rate, count }, (done, total) => {
              encoded = done;
              onProgress(done, total);
            });
            encoding.catch((error) => { failed = error; });
          }
          const address = core._kiv_rgba();
          send(core.HEAPU8.slice(address, address + width * height * 4));
          waited = 0;
        }
        frame = now;
        if (waited > patienceMs) throw new ConvertError('the player shows no next frame');
      }
      // The worker keeps up: a few screens ahead at most.
      while (!failed && sent - encoded > 3) await new Promise((resolve) => setTimeout(resolve, 5));
      if (failed) throw failed;
      await new Promise((resolve) => setTimeout(resolve, 0));
    }
  } finally {
    core._kiv_close();
  }
  const job = await encoding;
  return { name: job.pieces[0].name, blob: new Blob([job.pieces[0].bytes], { type: 'video/' + kind.container }) };
}

// ---- a KIV from a GIF -----------------------------------------------------
// `bytes` (an ArrayBuffer, handed over) of the GIF `name` made into a KIV at
// `rate` frames a second (0: the rate its delays ask for): { name, blob }.
async function createKiv(name, bytes, rate, onProgress) {
  const stem = String(name || 'animation').replace(/\.gif$/i, '') || 'animation';
  const job = await run('create', bytes, { stem, rate }, onProgress);
  return { name: job.pieces[0].name, blob: new Blob([job.pieces[0].bytes], { type: 'application/x-kiv' }) };
}

// ---- several files ------------------------------------------------------
// The .kiv files of a drop: files, and the files in dropped folders.
async function droppedFiles(dataTransfer) {
  const entries = Array.from(dataTransfer.items || [], (item) => item.webkitGetAsEntry && item.webkitGetAsEntry())
    .filter(Boolean);
  if (entries.length === 0) return { files: Array.from(dataTransfer.files || []), folder: '' };
  const files = [];
  const walk = async (entry) => {
    if (entry.isFile) {
      files.push(await new Promise((resolve, reject) => entry.file(resolve, reject)));
    } else if (entry.isDirectory) {
      const reader = entry.createReader();
      for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (batch.length === 0) break;
        for (const child of batch) await walk(child);
      }
    }
  };
  for (const entry of entries) await walk(entry);
  const folder = entries.length === 1 && entries[0].isDirectory ? entries[0].name : '';
  return { files, folder };
}

function isKiv(file) { return /\.kiv$/i.test(file.name); }

// Names each file once in a zip: a second "a.kiv" from another folder
// becomes "a (2)".
function uniqueStems(files) {
  const seen = new Map();
  return files.map((file) => {
    const stem = stemOf(file.name);
    const count = (seen.get(stem) || 0) + 1;
    seen.set(stem, count);
    return count === 1 ? stem : `${stem} (${count})`;
  });
}

// What a list shows of each file, one file read and released at a time:
// { file, stem, size, info: { width, height, count, rate } | null,
//   thumbnail: { width, height, rgb } | null, message, detail }.
// onEntry(entry, index) as each arrives.
async function describe(files, { thumbnail = 96, onEntry = () => {} } = {}) {
  const stems = uniqueStems(files);
  const entries = [];
  for (let i = 0; i < files.length; ++i) {
    const file = files[i];
    const entry = { file, stem: stems[i], size: file.size, info: null, thumbnail: null, message: '', detail: '' };
    try {
      const job = await run('info', await file.arrayBuffer(), { thumbnail });
      entry.info = job.info.info;
      entry.thumbnail = job.info.thumbnail;
    } catch (error) {
      if (error instanceof Cancelled) throw error;
      entry.message = error.message;
      entry.detail = error.detail || '';
    }
    entries.push(entry);
    onEntry(entry, i);
  }
  return entries;
}

// Converts the listed files that load, one after another, into one zip
// named after `base`: resolves to { name, blob, skipped } with the stems of
// the damaged files left out. onProgress(fraction of the whole).
async function saveAll(entries, format, base, onProgress = () => {}) {
  const kind = kFormats[format];
  if (!kind || kind.container) throw new Error('Save all makes GIFs or PNG frames, not ' + format);
  const isGif = format.startsWith('gif');
  const zipped = [];
  const skipped = [];
  for (let i = 0; i < entries.length; ++i) {
    const entry = entries[i];
    if (!entry.info) {
      skipped.push(entry.stem);
      continue;
    }
    let job;
    try {
      job = await run(isGif ? 'gif' : 'png', await entry.file.arrayBuffer(),
        { stem: entry.stem, prefix: entry.stem + '-', composite: kind.composite },
        (done, total) => onProgress((i + done / total) / entries.length));
    } catch (error) {
      // A file changed since it was listed is left out like a damaged one.
      if (!(error instanceof ConvertError && error.damaged)) throw error;
      skipped.push(entry.stem);
      continue;
    }
    for (const piece of job.pieces) zipped.push(entryOf(piece, isGif ? '' : entry.stem + '-frames/'));
  }
  onProgress(1);
  return { name: `${base || 'animations'}${isGif ? '-gif' : '-frames'}.zip`, blob: zip(zipped), skipped };
}

function sizeText(bytes) {
  return bytes >= 1 << 20 ? (bytes / (1 << 20)).toFixed(1) + ' MB' : Math.max(1, Math.round(bytes / 1024)) + ' KB';
}

const kFolderStyle = `
.folder { position: absolute; inset: 40px 8px 8px 8px; z-index: 1; background: #181818; color: #eee;
  border: 1px solid #666; display: flex; flex-direction: column; }
.folder[hidden] { display: none; }
.folder .row { display: flex; gap: 6px; align-items: center; padding: 6px; flex-wrap: wrap; }
.folder ul { list-style: none; margin: 0; padding: 0; overflow: auto; flex: 1; }
.folder li { display: flex; gap: 10px; align-items: center; padding: 4px 6px; cursor: pointer; border-bottom: 1px solid #333; }
.folder li:hover { background: #2a2a2a; }
.folder li.damaged { color: #f88; cursor: default; }
.folder canvas { image-rendering: auto; background: #000; }
.folder .thumb { width: 96px; display: flex; justify-content: center; }
`;

// The list of several files in a player: thumbnails, sizes, frames and
// rates; a click plays one; "Save all" makes one zip of them.
function folderPanel(player) {
  const shadow = player.shadowRoot;
  make('style', { textContent: kFolderStyle }, shadow);
  const box = make('div', { className: 'folder', hidden: true }, shadow);
  const bar = make('div', { className: 'row' }, box);
  const saveGif = make('button', { className: 'save-gif', textContent: 'Save all as GIF' }, bar);
  const savePng = make('button', { className: 'save-png', textContent: 'Save all as PNG frames' }, bar);
  const cancelButton = make('button', { className: 'cancel', textContent: 'Cancel' }, bar);
  const closeButton = make('button', { className: 'close', textContent: 'Close list' }, bar);
  const progress = make('progress', { max: 1, value: 0, hidden: true }, bar);
  const status = make('div', { className: 'status' }, bar);
  const list = make('ul', {}, box);
  let entries = [];
  let base = '';
  let busy = null;  // the promise of what runs

  const setBusy = (on) => {
    saveGif.disabled = savePng.disabled = on;
    progress.hidden = !on;
  };
  const row = (entry) => {
    const item = make('li', { className: entry.info ? 'entry' : 'entry damaged' }, list);
    const thumb = make('div', { className: 'thumb' }, item);
    if (entry.thumbnail) {
      const { width, height, rgb } = entry.thumbnail;
      const canvas = make('canvas', { width, height }, thumb);
      const image = new ImageData(width, height);
      for (let i = 0, j = 0; j < rgb.length; i += 4, j += 3) {
        image.data[i] = rgb[j];
        image.data[i + 1] = rgb[j + 1];
        image.data[i + 2] = rgb[j + 2];
        image.data[i + 3] = 255;
      }
      canvas.getContext('2d').putImageData(image, 0, 0);
      if (width > 96) canvas.style.width = '96px';
    }
    const text = make('div', {}, item);
    make('b', { textContent: entry.file.name }, text);
    const details = entry.info
      ? `${sizeText(entry.size)}, ${entry.info.width}\u00d7${entry.info.height}, ${entry.info.count} frames at ${
        Number(entry.info.rate.toFixed(3))} frames a second`
      : `${sizeText(entry.size)}: ${entry.message}`;
    make('div', { className: 'details', textContent: details, title: entry.detail }, text);
    if (entry.info) {
      item.addEventListener('click', () => {
        box.hidden = true;
        player.openFile(entry.file);
      });
    }
  };

  const start = (work) => {
    setBusy(true);
    busy = work().catch((error) => {
      status.textContent = error instanceof Cancelled ? 'Cancelled' : 'Could not convert: ' + error.message;
    }).finally(() => {
      setBusy(false);
      busy = null;
    });
    return busy;
  };
  const saveAllAs = (format) => start(async () => {
    status.textContent = 'Converting\u2026';
    const made = await saveAll(entries, format, base, (fraction) => { progress.value = fraction; });
    download(made.name, made.blob);
    status.textContent = `Saved ${made.name}` + (made.skipped.length > 0
      ? `; left out (damaged): ${made.skipped.join(', ')}` : '');
    player.dispatchEvent(new CustomEvent('kiv-saved', { detail: { name: made.name, size: made.blob.size, skipped: made.skipped } }));
  });
  saveGif.addEventListener('click', () => saveAllAs('gif'));
  savePng.addEventListener('click', () => saveAllAs('png'));
  cancelButton.addEventListener('click', () => cancel());
  closeButton.addEventListener('click', () => {
    cancel();
    box.hidden = true;
  });

  return {
    // Lists `files` (the .kiv ones), `folder` naming the zip of "Save all".
    show(files, folder = '') {
      cancel();
      const kivs = Array.from(files).filter(isKiv);
      entries = [];
      base = folder;
      list.replaceChildren();
      box.hidden = false;
      status.textContent = `Reading ${kivs.length} files\u2026`;
      return start(async () => {
        entries = await describe(kivs, {
          onEntry: (entry, i) => {
            row(entry);
            progress.value = (i + 1) / kivs.length;
          },
        });
        const damaged = entries.filter((entry) => !entry.info).length;
        status.textContent = `${entries.length} files` + (damaged > 0 ? `, ${damaged} damaged` : '');
      });
    },
    saveAll: saveAllAs,
    get entries() { return entries; },
  };
}

// ---- the dialog ---------------------------------------------------------
const kStyle = `
.convert { position: absolute; top: 40px; right: 8px; z-index: 2; background: #222; color: #eee;
  border: 1px solid #666; padding: 10px; display: flex; flex-direction: column; gap: 8px; min-width: 18em; }
.convert[hidden] { display: none; }
.convert .row { display: flex; gap: 6px; align-items: center; }
.convert progress { width: 100%; }
`;

function make(tag, props, parent) {
  const node = document.createElement(tag);
  Object.assign(node, props);
  if (parent) parent.appendChild(node);
  return node;
}

// The "Save as..." panel of a player; `source()` gives the file that plays
// ({ name, bytes }) or null.
function panel(player, source) {
  const shadow = player.shadowRoot;
  make('style', { textContent: kStyle }, shadow);
  const box = make('div', { className: 'convert', hidden: true }, shadow);
  box.setAttribute('part', 'convert');
  const formatRow = make('div', { className: 'row' }, box);
  make('span', { textContent: 'Save as' }, formatRow);
  const select = make('select', { className: 'format' }, formatRow);
  for (const [value, kind] of Object.entries(kFormats)) {
    const option = make('option', { value, textContent: kind.label }, select);
    // A video the browser cannot make is offered disabled, with the reason.
    if (kind.container) {
      videoUnsupported(value).then((why) => {
        if (!why) return;
        option.disabled = true;
        option.textContent = `${kind.label}: unavailable, ${why}`;
      });
    }
  }
  const buttons = make('div', { className: 'row' }, box);
  const save = make('button', { className: 'save', textContent: 'Save' }, buttons);
  const cancelButton = make('button', { className: 'cancel', textContent: 'Cancel' }, buttons);
  const progress = make('progress', { max: 1, value: 0, hidden: true }, box);
  const status = make('div', { className: 'status' }, box);

  let busy = false;
  const finish = (text) => {
    busy = false;
    progress.hidden = true;
    save.disabled = false;
    status.textContent = text;
  };
  save.addEventListener('click', async () => {
    const file = source();
    if (!file || busy) return;
    busy = true;
    save.disabled = true;
    progress.hidden = false;
    progress.value = 0;
    status.textContent = 'Converting\u2026';
    try {
      const made = await convert(file.name, file.bytes.slice().buffer, select.value, (done, total) => {
        progress.value = done / total;
      });
      download(made.name, made.blob);
      finish(['Saved ' + made.name, ...(made.notes || [])].join('. '));
      player.dispatchEvent(new CustomEvent('kiv-saved', { detail: { name: made.name, size: made.blob.size } }));
    } catch (error) {
      finish(error instanceof Cancelled ? 'Cancelled' : 'Could not convert: ' + error.message);
    }
  });
  cancelButton.addEventListener('click', () => {
    if (busy) cancel();
    else box.hidden = true;
  });
  return {
    toggle() {
      box.hidden = !box.hidden;
      if (!box.hidden) status.textContent = '';
    },
  };
}

// "Make a KIV" for a dropped GIF: the rate (empty: from the GIF's delays),
// then a download of name.kiv.
function createPanel(player) {
  const shadow = player.shadowRoot;
  const box = make('div', { className: 'convert create', hidden: true }, shadow);
  const title = make('div', {}, box);
  const rateRow = make('label', { className: 'row', textContent: 'Frames a second ' }, box);
  const rate = make('input', { type: 'number', min: '0.01', step: 'any', className: 'rate', placeholder: 'from its delays' }, rateRow);
  const buttons = make('div', { className: 'row' }, box);
  const makeButton = make('button', { className: 'make', textContent: 'Make KIV' }, buttons);
  const cancelButton = make('button', { className: 'cancel', textContent: 'Cancel' }, buttons);
  const progress = make('progress', { max: 1, value: 0, hidden: true }, box);
  const status = make('div', { className: 'status' }, box);
  let file = null;
  let busy = false;
  makeButton.addEventListener('click', async () => {
    if (!file || busy) return;
    busy = true;
    makeButton.disabled = true;
    progress.hidden = false;
    status.textContent = 'Converting\u2026';
    try {
      const made = await createKiv(file.name, await file.arrayBuffer(), Number(rate.value) || 0,
        (done, total) => { progress.value = done / total; });
      download(made.name, made.blob);
      status.textContent = 'Saved ' + made.name;
      player.dispatchEvent(new CustomEvent('kiv-saved', { detail: { name: made.name, size: made.blob.size } }));
    } catch (error) {
      status.textContent = error instanceof Cancelled ? 'Cancelled' : 'Could not convert: ' + error.message;
    } finally {
      busy = false;
      makeButton.disabled = false;
      progress.hidden = true;
    }
  });
  cancelButton.addEventListener('click', () => {
    if (busy) cancel();
    else box.hidden = true;
  });
  return {
    show(gif) {
      file = gif;
      title.textContent = 'Make a KIV from ' + gif.name;
      status.textContent = typeof ImageDecoder === 'function' ? '' : 'This browser has no ImageDecoder to read GIF frames.';
      makeButton.disabled = typeof ImageDecoder !== 'function';
      box.hidden = false;
    },
  };
}

return { formats: kFormats, createPanel, videoUnsupported, convert, createKiv, cancel, zip, panel, folderPanel, describe, saveAll, droppedFiles, stemOf, download };
