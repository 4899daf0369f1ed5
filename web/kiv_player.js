// <kiv-player>: plays a KIV animation in the page with the player compiled
// to WebAssembly (KivPlayCore, above, and its module below). Each element
// runs an instance of its own; the module is compiled once for all.
//
//   <kiv-player src="a.kiv"></kiv-player>      plays a file of the same site
//   paused      starts paused on the first frame
//   nocontrols  hides the buttons (keys still work)
//   page        the element is the page's player: it fills the window, takes
//               files dropped anywhere on the page and ?src=URL, and sets the
//               page title to the window caption; installed as an app, it
//               plays the files the system opens it with
//   offline="sw.js"  the service worker that keeps the site for use offline
(function () {
  'use strict';

  // The page's budget per turn for the player's ticks: far from a long task
  // even on a busy machine. A load reads a slice per tick and gets more,
  // still far below 100 ms.
  const kRunBudgetMs = 12;
  const kLoadBudgetMs = 15;
  // Tasks stay short (the browser counts one over 50 ms as long): a turn
  // leaves the picture it has made to the next task when drawing it would
  // take its task past this. The first picture of a screen touches the
  // memory of the picture and the canvas for the first time, which costs
  // about this much per pixel (some 50 ms for the largest screen); later
  // pictures cost little.
  const kTaskBudgetMs = 50;
  const kFirstPictureMsPerPixel = 25e-6;
  // A playing player sleeps until its next frame is due, and at most this
  // long (a file may have a rate of one frame a day).
  const kLongestSleepMs = 1000;
  // Files are read in pieces so that a large one never stalls the page.
  const kReadPiece = 1 << 20;
  // ... and copied into the module's memory in slices of this size.
  const kCopyPiece = 16 << 20;

  const kStyle = `
:host { display: inline-block; background: #000; color: #ddd; font: 14px sans-serif; position: relative; }
:host([page]), :host(:fullscreen) { display: flex; flex-direction: column; position: fixed; inset: 0; }
:host(:fullscreen) { width: 100%; height: 100%; }
.bar { display: flex; gap: 4px; padding: 4px; background: #222; flex-wrap: wrap; align-items: center; }
:host([nocontrols]) .bar { display: none; }
button, label.open { background: #444; color: #eee; border: 1px solid #666; padding: 4px 10px; font: inherit; cursor: pointer; border-radius: 3px; }
button:disabled { opacity: 0.4; cursor: default; }
input[type=file] { display: none; }
.stage { flex: 1; display: flex; align-items: center; justify-content: center; overflow: hidden; min-height: 0; }
canvas { display: block; flex: none; touch-action: none; }
@media (pointer: coarse) { button, label.open { min-height: 44px; min-width: 44px; } }
.scaled { color: #fc6; padding: 0 6px; }
.scaled[hidden] { display: none; }
canvas[hidden] { display: none; }
.hint { padding: 24px; text-align: center; color: #aaa; }
.message { padding: 16px; margin: 16px; background: #fff; color: #000; border: 2px solid #a00; max-width: 40em; }
.message b { display: block; margin-bottom: 8px; }
progress { width: 60%; }
progress[hidden], .message[hidden], .hint[hidden], select[hidden] { display: none; }
select { background: #444; color: #eee; border: 1px solid #666; font: inherit; max-width: 40vw; }
:host(:fullscreen) .stage { background: #000; }
`;

  let activePlayer = null;  // the element that the keyboard drives

  // The compiled player, gzipped, in base64 (written here when the page is built).
  const kWasm = '@KIV_WASM_GZIP_BASE64@';
  let compiled = null;

  function decodeBase64(text) {
    if (typeof Uint8Array.fromBase64 === 'function') return Uint8Array.fromBase64(text);
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  // Unzips and compiles the module once, in the background, as soon as the
  // script runs: by the time a file has arrived the player is ready for it.
  function compiledModule() {
    if (!compiled) {
      // A Response reads the bytes where they are (a Blob would send them
      // through the browser's own process and back).
      const unzipped = new Response(decodeBase64(kWasm)).body.pipeThrough(new DecompressionStream('gzip'));
      compiled = new Response(unzipped).arrayBuffer().then((bytes) => WebAssembly.compile(bytes));
    }
    return compiled;
  }

  function adoptStyle(shadow) {
    // A constructed style sheet is allowed under a strict Content-Security-Policy.
    if ('adoptedStyleSheets' in shadow && typeof CSSStyleSheet === 'function') {
      const sheet = new CSSStyleSheet();
      sheet.replaceSync(kStyle);
      shadow.adoptedStyleSheets = [sheet];
    } else {
      const style = document.createElement('style');
      style.textContent = kStyle;
      shadow.appendChild(style);
    }
  }

  function make(tag, props, parent) {
    const node = document.createElement(tag);
    Object.assign(node, props);
    if (parent) parent.appendChild(node);
    return node;
  }

  // A file name that is safe as one name in the module's file system.
  function safeName(name) {
    const base = String(name || 'animation.kiv').split(/[\\/]/).pop();
    const cleaned = base.replace(/[\x00-\x1f"]/g, '_');
    return cleaned === '' || cleaned === '.' || cleaned === '..' ? 'animation.kiv' : cleaned;
  }

  class KivPlayer extends HTMLElement {
    constructor() {
      super();
      this._module = null;
      this._modulePromise = null;
      this._playing = false;
      this._fileName = null;
      this._wakeTimer = 0;
      this._wakeDue = 0;
      this._picturePending = false;
      this._image = null;
      this._buttonState = -1;
      this._pendingReleases = [];
      this._manualClock = false;
      this._manualNow = 0;
      this._manualDue = Infinity;
      this._pictureChanged = false;
      this._keyed = false;
      this.turns = 0;  // turns of the loop so far, for tests
      this._loadToken = 0;
      this.caption = '';
      this.lastMessage = null;

      const shadow = this.attachShadow({ mode: 'open' });
      adoptStyle(shadow);
      const bar = make('div', { className: 'bar' }, shadow);
      const open = make('label', { className: 'open', textContent: 'Open\u2026' }, bar);
      this._input = make('input', { type: 'file', accept: '.kiv,application/x-kiv' }, open);
      this._buttons = {
        play: make('button', { textContent: 'Play/Pause', title: 'Esc pauses, 4 plays' }, bar),
        back: make('button', { textContent: '\u25c0 Step', title: '1 or Left' }, bar),
        step: make('button', { textContent: 'Step \u25b6', title: '2 or Right' }, bar),
        layer: make('button', { textContent: 'Layer', title: 'L' }, bar),
        close: make('button', { textContent: 'Close', title: 'F12' }, bar),
        full: make('button', { textContent: 'Fullscreen' }, bar),
      };
      this._scaledNote = make('span', { className: 'scaled', hidden: true }, bar);
      // Files opened together (by the system, or shared): one plays, the
      // list offers the others.
      this._fileList = make('select', { className: 'files', hidden: true, title: 'Files opened together' }, bar);
      this._listedFiles = [];
      this._fileList.addEventListener('change', () => {
        const file = this._listedFiles[this._fileList.selectedIndex];
        if (file) this.openFile(file);
      });
      this._progress = make('progress', { max: 1, value: 0, hidden: true }, bar);
      attachConversions(this, bar);  // see below
      this._stage = make('div', { className: 'stage' }, shadow);
      this._hint = make('div', { className: 'hint', textContent: 'Open a KIV animation or drop it here.' }, this._stage);
      this._message = make('div', { className: 'message', hidden: true }, this._stage);
      // The player's screen at its own size, off the page; the canvas shows
      // it at the size that fits the display (see _fit).
      this._screen = make('canvas', { width: 1, height: 1 });
      this._screenContext = this._screen.getContext('2d', { alpha: false });
      this._canvas = make('canvas', { hidden: true, width: 1, height: 1 }, this._stage);
      this._context = this._canvas.getContext('2d', { alpha: false });

      this._input.addEventListener('change', () => {
        const file = this._input.files && this._input.files[0];
        if (file) this._openAlone(file);
        this._input.value = '';
      });
      const b = this._buttons;
      b.play.addEventListener('click', () => this.tap(this.state === 2 ? 'Escape' : 'Digit4'));
      b.back.addEventListener('click', () => this._step('Digit1'));
      b.step.addEventListener('click', () => this._step('Digit2'));
      b.layer.addEventListener('click', () => this._whilePaused('KeyL'));
      b.close.addEventListener('click', () => this.tap('F12'));
      b.full.addEventListener('click', () => this.toggleFullscreen());
      this.addEventListener('pointerdown', () => { activePlayer = this; });
      this.addEventListener('dragover', (event) => event.preventDefault());
      this.addEventListener('drop', (event) => this._drop(event));
      this._onResize = () => this._fit();
      this._fitWatch = null;
      this._scaledFrame = 0;
      this._watchTouch();
      this._updateButtons();
    }

    static get observedAttributes() { return ['src']; }

    connectedCallback() {
      window.addEventListener('resize', this._onResize);
      document.addEventListener('fullscreenchange', this._onResize);
      this._watchFit();
      if (this.hasAttribute('page')) {
        document.addEventListener('dragover', (event) => event.preventDefault());
        document.addEventListener('drop', (event) => this._drop(event));
        const src = new URLSearchParams(location.search).get('src');
        if (src && !this.hasAttribute('src')) this.openUrl(src);
        this._takeLaunchedFiles();
      }
      this._keepOffline();
      if (!activePlayer) activePlayer = this;
    }

    disconnectedCallback() {
      window.removeEventListener('resize', this._onResize);
      document.removeEventListener('fullscreenchange', this._onResize);
      this._unwatchFit();
      if (activePlayer === this) activePlayer = null;
    }

    attributeChangedCallback(name, oldValue, value) {
      if (name === 'src' && value && value !== oldValue) this.openUrl(value);
    }

    // ---- the module ----------------------------------------------------------
    _ensureModule() {
      if (!this._modulePromise) {
        this._modulePromise = KivPlayCore({
          instantiateWasm: (imports, receive) => {
            compiledModule()
              .then((module) => WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module)))
              .catch((error) => this._showMessage('Error', 'The player could not start: ' + error));
            return {};
          },
          onMessage: (caption, text) => this._showMessage(caption, text),
          onCaption: (caption) => this._setCaption(caption),
          print: (text) => console.log(text),
          printErr: (text) => console.warn(text),
        }).then((module) => {
          this._module = module;
          return module;
        });
      }
      return this._modulePromise;
    }

    // ---- opening files ------------------------------------------------------
    // Plays a File or Blob; its bytes stay in the page.
    openFile(file) {
      let offset = 0;
      return this._load(safeName(file.name), async () => ({
        size: file.size,
        exact: true,
        next: async () => {
          if (offset >= file.size) return null;
          const piece = new Uint8Array(await file.slice(offset, offset + kReadPiece).arrayBuffer());
          offset += piece.length;
          return piece;
        },
        cancel: () => {},
      }));
    }

    // Plays a file of the same site (the src attribute, ?src=).
    openUrl(url) {
      // The file and the module arrive side by side.
      const pending = fetch(url, { credentials: 'same-origin' });
      pending.catch(() => {});  // reported once the module is there
      return this._load(safeName(decodeURIComponent(String(url).split(/[?#]/)[0])), async () => {
        const response = await pending;
        if (!response.ok) throw new Error(response.status + ' ' + response.statusText);
        const reader = response.body.getReader();
        return {
          size: Number(response.headers.get('content-length')) || 0,
          // The length is of the bytes as sent; unpacked, there are more.
          exact: !response.headers.get('content-encoding'),
          next: async () => {
            const chunk = await reader.read();
            return chunk.done ? null : chunk.value;
          },
          cancel: () => { reader.cancel().catch(() => {}); },
        };
      });
    }

    // Reads what `openSource()` gives (its size, or 0 when unknown; `exact`
    // when that size is all there is; and its pieces from next() until null)
    // with a progress bar, then plays it. The module gets ready while the
    // bytes arrive. The bytes are copied once into the module's memory, where
    // the player keeps them while the file plays. A later open cancels this one.
    async _load(name, openSource) {
      activePlayer = this;
      const token = ++this._loadToken;
      const ready = this._ensureModule();
      this._beginLoad(name);
      let bytes;
      try {
        const source = await openSource();
        let buffer = new Uint8Array(source.size);
        let length = 0;
        for (;;) {
          const piece = await source.next();
          if (token !== this._loadToken) {
            source.cancel();
            return;
          }
          if (!piece) break;
          if (length + piece.length > buffer.length) {
            // More than announced (or nothing announced): grow by half again.
            const larger = new Uint8Array(Math.max(length + piece.length, Math.floor(buffer.length * 1.5)));
            larger.set(buffer.subarray(0, length));
            buffer = larger;
          }
          buffer.set(piece, length);
          length += piece.length;
          if (source.size > 0) this._setProgress(Math.min(1, length / source.size));
          // A server's stream says it has ended only some time after its
          // last bytes; the announced length says so at once.
          if (source.exact && length === source.size) {
            source.cancel();
            break;
          }
        }
        bytes = buffer.subarray(0, length);
        this._convertSource = { name, bytes };  // for "Save as..."
      } catch (error) {
        this._failRead(name, error);
        return;
      }
      const module = await ready;
      if (token !== this._loadToken) return;
      const address = module._kiv_file_buffer(bytes.length);
      if (!address) {
        this._failRead(name, new Error('not enough memory'));
        return;
      }
      // A slice per task: copying a large file at once would be a long task.
      for (let at = 0; at < bytes.length; at += kCopyPiece) {
        if (at > 0) {
          await new Promise((resolve) => setTimeout(resolve, 0));
          if (token !== this._loadToken) return;
        }
        module.HEAPU8.set(bytes.subarray(at, at + kCopyPiece), address + at);
      }
      bytes = null;
      this._start(module, name, performance.now());
    }

    // Ends what plays (a module is there if anything does) for a new file.
    _beginLoad(name) {
      if (this._module) {
        this._close(this._module);
        this._forgetFile(this._module);
      }
      this._hideMessage();
      this._setProgress(0);
      this._progress.hidden = false;
      this._fileName = name;
    }

    _failRead(name, error) {
      this._progress.hidden = true;
      this._forgetFile(this._module);
      this._showMessage('Error', 'Could not read ' + name + ': ' + (error && error.message ? error.message : error));
    }

    _forgetFile(module) {
      if (!this._fileName) return;
      this._fileName = null;
    }

    // Opens the file and runs the first turn in the same task: for a small
    // file the first picture is drawn with no wait for a timer.
    _start(module, name, taskStart) {
      if (this._manualClock) module._kiv_manual_clock(1, 0);
      this._playing = module.ccall('kiv_open', 'number', ['string'], [name]) === 1;
      this._startPaused = this._playing && this.hasAttribute('paused');
      this._updateButtons();
      if (this._playing) {
        // The bar runs on, without a measure, until the first picture.
        this._progress.removeAttribute('value');
        this._progress.hidden = false;
        this._hint.hidden = true;
        this.dispatchEvent(new CustomEvent('kiv-open', { detail: { name } }));
        if (this._manualClock) this._schedule(0);
        else this._turn(taskStart);
      } else {
        this._progress.hidden = true;
        this._forgetFile(module);
      }
    }

    _close(module) {
      if (!this._playing) return;
      module._kiv_close();
      this._ended();
    }

    _drop(event) {
      event.preventDefault();
      const file = event.dataTransfer && event.dataTransfer.files && event.dataTransfer.files[0];
      if (file) this._openAlone(file);
    }

    // ---- files from the system ---------------------------------------------------
    // Installed, the site opens the .kiv files that the system hands it
    // (launchQueue: a double click on a file); on Android, a file shared to
    // the app comes through the service worker (./?shared=N).
    _takeLaunchedFiles() {
      if ('launchQueue' in window) {
        window.launchQueue.setConsumer(async (params) => {
          if (!params.files || params.files.length === 0) return;
          this._offerFiles(await Promise.all(params.files.map((handle) => handle.getFile())));
        });
      }
      if (new URLSearchParams(location.search).has('shared') && 'caches' in window) {
        this._takeSharedFiles().catch((error) => this._showMessage('Error', 'Could not read the shared file: ' + error));
      }
    }

    async _takeSharedFiles() {
      const cache = await caches.open('kivplay-shared');
      const files = [];
      for (const request of await cache.keys()) {
        const response = await cache.match(request);
        const name = decodeURIComponent(response.headers.get('X-Kiv-Name') || 'shared.kiv');
        files.push(new File([await response.blob()], name));
        await cache.delete(request);
      }
      if (files.length > 0) this._offerFiles(files);
    }

    // Plays the first of `files` and lists them all where there are several.
    _offerFiles(files) {
      this._listedFiles = files;
      this._fileList.replaceChildren(...files.map((file) => make('option', { textContent: file.name })));
      this._fileList.hidden = files.length < 2;
      this._fileList.selectedIndex = 0;
      this.openFile(files[0]);
    }

    // A file opened by itself ends the list of files opened together.
    _openAlone(file) {
      this._listedFiles = [];
      this._fileList.hidden = true;
      this.openFile(file);
    }

    // Registers the site's service worker. A page opened from file:// (or
    // any origin without them) cannot have one and plays all the same.
    _keepOffline() {
      const worker = this.getAttribute('offline');
      if (!worker || !('serviceWorker' in navigator)) return;
      try {
        navigator.serviceWorker.register(worker).catch(() => {});
      } catch (error) {
        // refused outright on some origins
      }
    }

    // ---- running ---------------------------------------------------------------
    // Runs the player's passes after `delayMs`, or sooner if a turn is
    // already due sooner.
    _schedule(delayMs = 0) {
      if (!this._playing) return;
      if (this._manualClock) {
        // advance() runs the turn once its clock gets there.
        this._manualDue = Math.min(this._manualDue, this._manualNow + delayMs);
        return;
      }
      const due = performance.now() + delayMs;
      if (this._wakeTimer && this._wakeDue <= due) return;
      clearTimeout(this._wakeTimer);
      this._wakeDue = due;
      this._wakeTimer = setTimeout(() => this._turn(), delayMs);
    }

    // One turn, then sleep until the player has something to show: a
    // playing player wakes when its next frame is due, and a paused one only
    // for a key (key() and tap() wake it). Between frames the page does no
    // work at all.
    _turn(taskStart = performance.now()) {
      clearTimeout(this._wakeTimer);
      this._wakeTimer = 0;
      this._manualDue = Infinity;
      this._pictureChanged = false;
      const keyed = this._keyed;
      this._keyed = false;
      ++this.turns;
      const budget = this._manualClock ? 1e9 : this.state === 3 ? kLoadBudgetMs : kRunBudgetMs;
      const status = this._run(budget, taskStart);
      if (!this._playing) return;
      let wait = (status & 4) !== 0 || this._pendingReleases.length > 0 ? 0 : this._module._kiv_wait_ms();
      // A paused player shows what a key did over its next passes: the pass
      // that takes a step or the layer key draws the screen as it was, the
      // next one the new frame's number over the old picture, and only then
      // the new picture. It sleeps once a pass after the keys leaves the
      // picture as it was.
      if (wait < 0 && (keyed || this._pictureChanged)) wait = 0;
      if (wait >= 0) this._schedule(Math.min(wait, kLongestSleepMs));
    }

    // One turn of the main loop's passes, then the keys released since, in a
    // task that began at `taskStart`. kiv_run's status: 1 a file plays, 2 a
    // picture shown, 4 work left.
    _run(budgetMs, taskStart = performance.now()) {
      const module = this._module;
      if (!module || !this._playing) return 0;
      if (this._picturePending) {
        this._picturePending = false;
        this._takePicture(module);
      }
      let status = module._kiv_run(budgetMs);
      if (this._pendingReleases.length > 0) {
        if (status & 2) this._takePicture(module);
        const releases = this._pendingReleases;
        this._pendingReleases = [];
        for (const code of releases) module.ccall('kiv_key', 'number', ['string', 'number', 'number'], [code, 0, 0]);
        status = module._kiv_run(budgetMs);
      }
      if (status & 2) {
        if (!this._pictureFits(module, taskStart) && !this._manualClock) {
          this._picturePending = true;
          status |= 4;
        } else {
          this._takePicture(module);
        }
      }
      if ((status & 1) === 0) {
        this._ended();
        return 0;
      }
      if (this._startPaused && module._kiv_state() === 2) {
        this._startPaused = false;
        this.tap('Escape');
      }
      this._updateButtons();
      return status;
    }

    _pictureFits(module, taskStart) {
      const width = module._kiv_width();
      const height = module._kiv_height();
      const first = this._screen.width !== width || this._screen.height !== height;
      const cost = first ? width * height * kFirstPictureMsPerPixel : 0;
      return performance.now() - taskStart + cost <= kTaskBudgetMs;
    }

    _takePicture(module) {
      if (!module._kiv_take_picture()) return;
      this._pictureChanged = true;
      this._draw(module);
    }

    // Puts the rows that changed on the canvas, straight from the module's
    // memory.
    _draw(module) {
      const width = module._kiv_width();
      const height = module._kiv_height();
      if (width <= 0 || height <= 0) return;
      let top = module._kiv_changed_top();
      let end = module._kiv_changed_end();
      const resized = this._screen.width !== width || this._screen.height !== height;
      if (resized) {
        // A resized canvas is blank: all of it is new.
        this._screen.width = width;
        this._screen.height = height;
        top = 0;
        end = height;
      }
      if (this._canvas.hidden) {
        this._canvas.hidden = false;
        this._progress.hidden = true;
      }
      if (resized) this._fit();
      this._present(top, end);
      this.dispatchEvent(new CustomEvent('kiv-frame'));
    }

    // The module's picture as ImageData, without a copy. The module's memory
    // moves when it grows, and a new mode has a new buffer.
    _currentImage() {
      const module = this._module;
      if (!module || !this._playing) return null;
      const width = module._kiv_width();
      const height = module._kiv_height();
      const address = module._kiv_rgba();
      const image = this._image;
      if (!image || image.data.buffer !== module.HEAPU8.buffer || image.data.byteOffset !== address ||
          image.width !== width || image.height !== height) {
        if (!address || width <= 0 || height <= 0) return null;
        const bytes = new Uint8ClampedArray(module.HEAPU8.buffer, address, width * height * 4);
        this._image = new ImageData(bytes, width, height);
      }
      return this._image;
    }

    _ended() {
      this._playing = false;
      this._pendingReleases = [];
      this._picturePending = false;
      clearTimeout(this._wakeTimer);
      this._wakeTimer = 0;
      this._manualDue = Infinity;
      this._canvas.hidden = true;
      this._scaledNote.hidden = true;
      this._progress.hidden = true;
      if (this._message.hidden) this._hint.hidden = false;
      if (this._module) this._forgetFile(this._module);
      this._updateButtons();
      this.dispatchEvent(new CustomEvent('kiv-close'));
    }

    // ---- keys and buttons ------------------------------------------------------
    // A key press now and its release after the next pass, so that the
    // player's tick sees the press.
    tap(code) {
      if (!this._playing || !this._module) return false;
      this.key(code, true);
      this._pendingReleases.push(code);
      this._schedule();
      return true;
    }

    key(code, down, numLock) {
      if (!this._playing || !this._module) return false;
      const taken = this._module.ccall('kiv_key', 'number', ['string', 'number', 'number'],
                                       [code, down ? 1 : 0, numLock ? 1 : 0]) === 1;
      if (taken) {
        this._keyed = true;
        this._schedule();
      }
      return taken;
    }

    // Stepping and the layer work on a paused player; a playing one is paused first.
    _whilePaused(code) {
      if (this.state === 2) {
        this.tap('Escape');
        this._afterPause = code;
        const wait = () => {
          if (this.state === 1 && this._afterPause) {
            const next = this._afterPause;
            this._afterPause = null;
            this.tap(next);
          } else if (this._afterPause && this._playing) {
            requestAnimationFrame(wait);
          }
        };
        requestAnimationFrame(wait);
      } else {
        this.tap(code);
      }
    }

    _step(code) { this._whilePaused(code); }

    // Touches the buttons only when the state changed: a change to the page
    // costs the browser a layout and a repaint.
    _updateButtons() {
      const state = this.state;
      if (state === this._buttonState) return;
      this._buttonState = state;
      const b = this._buttons;
      b.play.disabled = b.close.disabled = state === 0 || state === 3;
      b.back.disabled = b.step.disabled = b.layer.disabled = state === 0 || state === 3;
      b.play.textContent = state === 1 ? 'Play' : 'Pause';
    }

    // ---- view ------------------------------------------------------------------
    // Fullscreen takes the whole element, buttons and all. The browser keeps
    // Esc for leaving fullscreen: the first Esc there leaves it, and the
    // player sees the next.
    toggleFullscreen() {
      if (document.fullscreenElement) {
        document.exitFullscreen();
      } else if (this.requestFullscreen) {
        this.requestFullscreen().catch(() => {});
      }
    }

    // ---- touch -------------------------------------------------------------------
    // On the picture: a tap pauses or plays, a swipe left or right while
    // paused steps a frame back or on, a double tap toggles fullscreen. Two
    // fingers are no gesture. A tap acts once a second tap can no longer
    // follow.
    _watchTouch() {
      const fingers = new Set();
      let gesture = null;
      this._tapTimer = 0;
      const touch = (event) => event.pointerType === 'touch' || event.pointerType === 'pen';
      this._canvas.addEventListener('pointerdown', (event) => {
        if (!touch(event)) return;
        fingers.add(event.pointerId);
        if (fingers.size === 1) gesture = { x: event.clientX, y: event.clientY, fingers: 1 };
        else if (gesture) gesture.fingers = fingers.size;
      });
      const lift = (event, cancelled) => {
        if (!touch(event) || !fingers.delete(event.pointerId)) return;
        if (fingers.size > 0 || !gesture) return;
        const done = gesture;
        gesture = null;
        if (!cancelled && done.fingers === 1) this._touchGesture(event.clientX - done.x, event.clientY - done.y);
      };
      this._canvas.addEventListener('pointerup', (event) => lift(event, false));
      this._canvas.addEventListener('pointercancel', (event) => lift(event, true));
    }

    _touchGesture(dx, dy) {
      const kSwipe = 30;  // CSS pixels across for a swipe, at most 10 moved for a tap
      if (Math.abs(dx) >= kSwipe && Math.abs(dx) > 2 * Math.abs(dy)) {
        if (this.state === 1) this._step(dx < 0 ? 'Digit1' : 'Digit2');
        return;
      }
      if (Math.hypot(dx, dy) > 10) return;
      if (this._tapTimer) {
        clearTimeout(this._tapTimer);
        this._tapTimer = 0;
        this.toggleFullscreen();
        return;
      }
      this._tapTimer = setTimeout(() => {
        this._tapTimer = 0;
        if (this.state === 1 || this.state === 2) this.tap(this.state === 2 ? 'Escape' : 'Digit4');
      }, 300);
    }

    // ---- fitting the screen to the display -----------------------------------
    // A screen pixel covers k x k device pixels, k whole, so that every
    // pixel is as sharp as the player's own: the canvas's CSS size is
    // k x W device pixels, its backing store is the device pixels it covers
    // (from devicePixelContentBox, or CSS size x devicePixelRatio where a
    // browser lacks it), and the screen is drawn into it without smoothing.
    // Where not even k = 1 fits, the screen is scaled down smoothly and the
    // bar says so.
    _watchFit() {
      if (this._fitWatch || typeof ResizeObserver !== 'function') return;
      const watch = {
        // The room: the stage (page, fullscreen) or the box around the element.
        room: new ResizeObserver(() => this._fit()),
        box: new ResizeObserver((entries) => this._takeCanvasBox(entries[entries.length - 1])),
        ratio: null,
      };
      watch.room.observe(this._stage);
      if (this.parentElement) watch.room.observe(this.parentElement);
      try {
        watch.box.observe(this._canvas, { box: 'device-pixel-content-box' });
      } catch (error) {
        watch.box.observe(this._canvas);
      }
      this._fitWatch = watch;
      this._watchRatio();
    }

    // The ratio changes when the window moves to another monitor or the
    // page is zoomed; a query matches the present ratio only.
    _watchRatio() {
      const watch = this._fitWatch;
      if (!watch || typeof matchMedia !== 'function') return;
      const query = matchMedia(`(resolution: ${window.devicePixelRatio || 1}dppx)`);
      const changed = () => {
        this._fit();
        this._watchRatio();
      };
      query.addEventListener('change', changed, { once: true });
      watch.ratio = { query, changed };
    }

    _unwatchFit() {
      const watch = this._fitWatch;
      if (!watch) return;
      watch.room.disconnect();
      watch.box.disconnect();
      if (watch.ratio) watch.ratio.query.removeEventListener('change', watch.ratio.changed);
      this._fitWatch = null;
    }

    // Sets the canvas's CSS size for the room there is. A page player (and
    // fullscreen) takes the largest k that fits; an embedded one at most
    // one CSS pixel per screen pixel, and never more than its box is wide.
    _fit() {
      const width = this._screen.width;
      const height = this._screen.height;
      if (width <= 1 || height <= 1) return;
      const ratio = window.devicePixelRatio || 1;
      const whole = this.hasAttribute('page') || document.fullscreenElement === this;
      let room;
      if (whole) {
        room = this._stage.getBoundingClientRect();
      } else {
        const boxWidth = this.parentElement ? this.parentElement.clientWidth : 0;
        room = { width: boxWidth > 0 ? boxWidth : Infinity, height: Infinity };
      }
      let k = Math.floor(Math.min(Math.floor(room.width * ratio) / width, Math.floor(room.height * ratio) / height));
      if (!whole) k = Math.min(k, Math.max(1, Math.floor(ratio)));
      let cssWidth;
      let cssHeight;
      if (k >= 1) {
        cssWidth = k * width / ratio;
        cssHeight = k * height / ratio;
      } else {
        const factor = Math.min(room.width / width, room.height / height);
        cssWidth = Math.max(1, Math.floor(width * factor));
        cssHeight = Math.max(1, Math.floor(height * factor));
      }
      this._canvas.style.width = cssWidth + 'px';
      this._canvas.style.height = cssHeight + 'px';
      // CSS size x ratio until the observer reports the device pixels.
      this._takeCanvasBox(null);
      const percent = k >= 1 ? 0 : Math.round(100 * cssWidth * ratio / width);
      const note = percent ? 'scaled ' + percent + '%' : '';
      if (this._scaledNote.textContent !== note) {
        this._scaledNote.textContent = note;
        this._scaledNote.hidden = !note;
      }
    }

    // The device pixels that the canvas covers become its backing store.
    _takeCanvasBox(entry) {
      const ratio = window.devicePixelRatio || 1;
      let width;
      let height;
      if (entry && entry.devicePixelContentBoxSize && entry.devicePixelContentBoxSize[0]) {
        width = entry.devicePixelContentBoxSize[0].inlineSize;
        height = entry.devicePixelContentBoxSize[0].blockSize;
      } else {
        width = Math.round(parseFloat(this._canvas.style.width) * ratio);
        height = Math.round(parseFloat(this._canvas.style.height) * ratio);
      }
      if (!(width > 0 && height > 0) || this._screen.width <= 1) return;
      if (width !== this._canvas.width || height !== this._canvas.height) {
        this._canvas.width = width;
        this._canvas.height = height;
      }
      this._present(0, this._screen.height);
    }

    // Copies rows `top` to `end` of the module's picture onto the canvas:
    // straight at k = 1, else through the screen canvas, k x k device pixels
    // each, or the whole screen smoothed where it is scaled down.
    _present(top, end) {
      const image = this._currentImage();
      const width = this._screen.width;
      const height = this._screen.height;
      if (!image || image.width !== width || image.height !== height) return;
      const k = this._wholeScale();
      const context = this._context;
      if (k === 1) {
        context.putImageData(image, 0, 0, 0, top, width, end - top);
        return;
      }
      this._screenContext.putImageData(image, 0, 0, 0, top, width, end - top);
      if (k > 1) {
        context.imageSmoothingEnabled = false;
        context.drawImage(this._screen, 0, top, width, end - top, 0, top * k, width * k, (end - top) * k);
      } else if (!this._scaledFrame) {
        // Scaling the whole screen down smoothly costs as much as converting
        // it: once per animation frame, in a task of its own.
        this._scaledFrame = requestAnimationFrame(() => {
          this._scaledFrame = 0;
          if (this._wholeScale() >= 1) return;
          context.imageSmoothingEnabled = true;
          context.imageSmoothingQuality = 'high';
          context.drawImage(this._screen, 0, 0, this._canvas.width, this._canvas.height);
        });
      }
    }

    // Device pixels per screen pixel on the canvas, 0 where scaled down.
    _wholeScale() {
      return Math.floor(Math.min(this._canvas.width / this._screen.width, this._canvas.height / this._screen.height));
    }

    _setCaption(caption) {
      this.caption = caption;
      if (this.hasAttribute('page')) document.title = caption;
      this.dispatchEvent(new CustomEvent('kiv-caption', { detail: { caption } }));
    }

    _showMessage(caption, text) {
      this.lastMessage = { caption, text };
      this._message.replaceChildren(make('b', { textContent: caption }), document.createTextNode(text));
      this._message.hidden = false;
      this._hint.hidden = true;
      if (this.hasAttribute('page')) document.title = caption;
      this.dispatchEvent(new CustomEvent('kiv-message', { detail: { caption, text } }));
    }

    _hideMessage() {
      this._message.hidden = true;
      this.lastMessage = null;
    }

    _setProgress(fraction) { this._progress.value = fraction; }

    // ---- for scripts and tests ---------------------------------------------------
    // 0 no file, 1 paused, 2 playing, 3 loading.
    get state() { return this._module && this._playing ? this._module._kiv_state() : 0; }
    get frame() { return this._module && this._playing ? this._module._kiv_frame() : 0; }
    get canvas() { return this._canvas; }
    get screenSize() { return { width: this._screen.width, height: this._screen.height }; }
    // Nothing to run until a key or a timer: no turn due, no pause pending.
    get idle() { return !this._wakeTimer && this._manualDue === Infinity && !this._afterPause; }
    // A button's pause is under way; its step or layer change follows.
    get pausing() { return Boolean(this._afterPause); }
    get ready() { return this._ensureModule().then(() => this); }

    // The player's clock stops following the browser's and moves only by
    // advance(); the page then runs the loop only from advance(), at the
    // times its own timers would have.
    useManualClock() {
      this._manualClock = true;
      this._manualNow = 0;
      clearTimeout(this._wakeTimer);
      this._wakeTimer = 0;
      if (this._playing) this._manualDue = 0;
      if (this._module) this._module._kiv_manual_clock(1, 0);
    }

    // Moves the player's clock on by `ms` in steps of at most 10 ms, and
    // runs a turn wherever the page has one due.
    advance(ms) {
      if (!this._module) return;
      let left = ms;
      do {
        const step = Math.min(10, left);
        this._module._kiv_advance_clock(step);
        this._manualNow += step;
        left -= step;
        if (this._manualDue <= this._manualNow) this._turn();
      } while (left > 0);
    }

    // The screen as the canvas shows it, one RGBA pixel per screen pixel,
    // for comparisons; `uneven` counts the screen pixels whose k x k block
    // of device pixels is not all one colour. Where scaled down, the
    // screen itself, and `scaled` says so.
    screenPixels() {
      const width = this._screen.width;
      const height = this._screen.height;
      const k = this._wholeScale();
      if (k < 1) {
        return { width, height, scaled: true, data: this._screenContext.getImageData(0, 0, width, height).data };
      }
      const stride = this._canvas.width;
      const shown = new Uint32Array(this._context.getImageData(0, 0, stride, height * k).data.buffer);
      const data = new Uint8ClampedArray(width * height * 4);
      const pixels = new Uint32Array(data.buffer);
      let uneven = 0;
      for (let y = 0; y < height; ++y) {
        for (let x = 0; x < width; ++x) {
          const colour = shown[y * k * stride + x * k];
          pixels[y * width + x] = colour;
          let even = true;
          for (let dy = 0; dy < k && even; ++dy) {
            for (let dx = 0; dx < k; ++dx) even = even && shown[(y * k + dy) * stride + x * k + dx] === colour;
          }
          if (!even) ++uneven;
        }
      }
      return { width, height, k, uneven, data };
    }
  }

  // ---- conversions ------------------------------------------------------------
  // "Save as..." and the element's saveAs(): the conversions are a module
  // and a script of their own, gzipped here, unzipped and compiled only when
  // first used. The bundle: the length of the page's script (4 bytes, little
  // endian), that script, the length of the worker's script, that script,
  // then the module.
  const kConvert = '@KIV_CONVERT_GZIP_BASE64@';
  let conversions = null;

  function loadConversions() {
    if (!conversions) {
      const unzipped = new Response(decodeBase64(kConvert)).body.pipeThrough(new DecompressionStream('gzip'));
      conversions = new Response(unzipped).arrayBuffer().then((buffer) => {
        const view = new DataView(buffer);
        const text = new TextDecoder();
        const pageLength = view.getUint32(0, true);
        const page = text.decode(new Uint8Array(buffer, 4, pageLength));
        const workerLength = view.getUint32(4 + pageLength, true);
        const worker = text.decode(new Uint8Array(buffer, 8 + pageLength, workerLength));
        const wasm = buffer.slice(8 + pageLength + workerLength);
        // eslint-disable-next-line no-new-func
        return new Function('source', 'wasm', 'makePlayerCore', page)(worker, wasm, makePlayerCore);
      });
      conversions.catch(() => { conversions = null; });
    }
    return conversions;
  }

  // "Save as..." for the file that plays; "Files..." and "Folder..." (or a
  // drop of several files or of a folder) list several files.
  // A player's module of its own, with no page around it (whole-screen videos).
  function makePlayerCore() {
    return KivPlayCore({
      instantiateWasm: (imports, receive) => {
        compiledModule().then((module) => WebAssembly.instantiate(module, imports)
          .then((instance) => receive(instance, module)));
        return {};
      },
      onMessage: () => {},
      onCaption: () => {},
      print: () => {},
      printErr: () => {},
    });
  }

  function attachConversions(player, bar) {
    const button = make('button', { className: 'saveas', textContent: 'Save as\u2026', disabled: true }, bar);
    const many = make('label', { className: 'open files', textContent: 'Files\u2026' }, bar);
    const filesInput = make('input', { type: 'file', multiple: true, accept: '.kiv,.gif,application/x-kiv,image/gif' }, many);
    const folder = make('label', { className: 'open folder', textContent: 'Folder\u2026' }, bar);
    const folderInput = make('input', { type: 'file', webkitdirectory: true }, folder);
    let panel = null;
    const update = () => { button.disabled = !player._convertSource || player.state === 0; };
    player.addEventListener('kiv-open', update);
    player.addEventListener('kiv-close', () => { player._convertSource = null; update(); });
    // A file that did not start keeps no bytes here.
    player.addEventListener('kiv-message', () => { if (player.state === 0) player._convertSource = null; update(); });
    const failed = (error) => player._showMessage('Error', 'The conversions could not start: ' + error);
    button.addEventListener('click', async () => {
      try {
        if (!panel) panel = (await loadConversions()).panel(player, () => player._convertSource);
        panel.toggle();
      } catch (error) {
        failed(error);
      }
    });
    const listInput = (input) => {
      const files = Array.from(input.files || []);
      const first = files[0] && files[0].webkitRelativePath;
      input.value = '';
      if (files.length === 1 && /\.gif$/i.test(files[0].name)) player.makeKiv(files[0]).catch(failed);
      else if (files.length > 0) player.openFiles(files, first ? first.split('/')[0] : '').catch(failed);
    };
    filesInput.addEventListener('change', () => listInput(filesInput));
    folderInput.addEventListener('change', () => listInput(folderInput));
    // Before the player's own drop (which plays one file): several files or
    // a folder go to the list.
    player._dropFiles = (event) => {
      const transfer = event.dataTransfer;
      const items = Array.from((transfer && transfer.items) || []);
      const folderDropped = items.some((item) => item.webkitGetAsEntry && item.webkitGetAsEntry() &&
                                                 item.webkitGetAsEntry().isDirectory);
      const files = (transfer && transfer.files) || [];
      if (files.length === 1 && /\.gif$/i.test(files[0].name)) {
        event.preventDefault();
        event.stopImmediatePropagation();
        player.makeKiv(files[0]).catch(failed);
        return;
      }
      if (!folderDropped && files.length <= 1) return;
      event.preventDefault();
      event.stopImmediatePropagation();
      const reading = loadConversions().then((api) => api.droppedFiles(transfer));
      reading.then(({ files, folder: name }) => player.openFiles(files, name)).catch(failed);
    };
    player.addEventListener('drop', player._dropFiles, true);
  }
  // The page's player takes drops anywhere on the page.
  document.addEventListener('drop', (event) => {
    const player = document.querySelector('kiv-player[page]');
    if (player && player._dropFiles) player._dropFiles(event);
  }, true);

  Object.assign(KivPlayer.prototype, {
    // The file that plays as `format` ('gif', 'gif-composite', 'png',
    // 'png-composite'): resolves to { name, blob }, downloaded as name
    // unless options.download is false. options.onProgress(done, total).
    async saveAs(format, options = {}) {
      const source = this._convertSource;
      if (!source || this.state === 0) throw new Error('no file plays');
      const api = await loadConversions();
      const made = await api.convert(source.name, source.bytes.slice().buffer, format, options.onProgress);
      if (options.download !== false) api.download(made.name, made.blob);
      return made;
    },
    // Lists several files (File objects; the .kiv ones), `folder` naming the
    // zip that "Save all" makes: resolves when the list is complete.
    async openFiles(files, folder = '') {
      const api = await loadConversions();
      if (!this._folderPanel) this._folderPanel = api.folderPanel(this);
      return this._folderPanel.show(files, folder);
    },
    // Offers to make a KIV of a GIF (a File): its rate, then a download.
    async makeKiv(file) {
      const api = await loadConversions();
      if (!this._createPanel) this._createPanel = api.createPanel(this);
      this._createPanel.show(file);
    },
    // Ends the conversion that runs; its saveAs() rejects.
    async cancelConversion() { (await loadConversions()).cancel(); },
    // The conversions' interface (folder views, tests).
    conversions() { return loadConversions(); },
  });

  document.addEventListener('keydown', (event) => {
    const player = activePlayer;
    if (!player || !player._playing || event.ctrlKey || event.altKey || event.metaKey) return;
    if (event.repeat && player._pendingReleases.length > 0) return;
    if (player.key(event.code, true, event.getModifierState && event.getModifierState('NumLock'))) {
      event.preventDefault();
      player._schedule();
    }
  });
  document.addEventListener('keyup', (event) => {
    const player = activePlayer;
    if (!player || !player._playing) return;
    if (player.key(event.code, false, event.getModifierState && event.getModifierState('NumLock'))) {
      event.preventDefault();
    }
  });

  // Elements already in the page start their files' downloads first.
  if (!customElements.get('kiv-player')) customElements.define('kiv-player', KivPlayer);
  compiledModule().catch(() => {});  // an element that needs it reports a failure
})();
