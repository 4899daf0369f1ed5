// <kiv-player>: plays a KIV animation in the page with the player compiled
// to WebAssembly (KivPlayCore, above, and its module below). Each element
// runs an instance of its own; the module is compiled once for all.
//
//   <kiv-player src="a.kiv"></kiv-player>      plays a file of the same site
//   paused      starts paused on the first frame
//   nocontrols  hides the buttons (keys still work)
//   page        the element is the page's player: it fills the window, takes
//               files dropped anywhere on the page and ?src=URL, and sets the
//               page title to the window caption
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
:host([page]) { display: flex; flex-direction: column; position: fixed; inset: 0; }
.bar { display: flex; gap: 4px; padding: 4px; background: #222; flex-wrap: wrap; align-items: center; }
:host([nocontrols]) .bar { display: none; }
button, label.open { background: #444; color: #eee; border: 1px solid #666; padding: 4px 10px; font: inherit; cursor: pointer; border-radius: 3px; }
button:disabled { opacity: 0.4; cursor: default; }
input[type=file] { display: none; }
.stage { flex: 1; display: flex; align-items: center; justify-content: center; overflow: hidden; min-height: 0; }
canvas { image-rendering: pixelated; display: block; }
canvas[hidden] { display: none; }
.hint { padding: 24px; text-align: center; color: #aaa; }
.message { padding: 16px; margin: 16px; background: #fff; color: #000; border: 2px solid #a00; max-width: 40em; }
.message b { display: block; margin-bottom: 8px; }
progress { width: 60%; }
progress[hidden], .message[hidden], .hint[hidden] { display: none; }
:host(:fullscreen) .stage, .stage:fullscreen { background: #000; }
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
      this._loadToken = 0;
      this._scale = 1;
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
      this._progress = make('progress', { max: 1, value: 0, hidden: true }, bar);
      this._stage = make('div', { className: 'stage' }, shadow);
      this._hint = make('div', { className: 'hint', textContent: 'Open a KIV animation or drop it here.' }, this._stage);
      this._message = make('div', { className: 'message', hidden: true }, this._stage);
      this._canvas = make('canvas', { hidden: true, width: 1, height: 1 }, this._stage);
      this._context = this._canvas.getContext('2d', { alpha: false });

      this._input.addEventListener('change', () => {
        const file = this._input.files && this._input.files[0];
        if (file) this.openFile(file);
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
      this._updateButtons();
    }

    static get observedAttributes() { return ['src']; }

    connectedCallback() {
      window.addEventListener('resize', this._onResize);
      document.addEventListener('fullscreenchange', this._onResize);
      if (this.hasAttribute('page')) {
        document.addEventListener('dragover', (event) => event.preventDefault());
        document.addEventListener('drop', (event) => this._drop(event));
        const src = new URLSearchParams(location.search).get('src');
        if (src && !this.hasAttribute('src')) this.openUrl(src);
      }
      if (!activePlayer) activePlayer = this;
    }

    disconnectedCallback() {
      window.removeEventListener('resize', this._onResize);
      document.removeEventListener('fullscreenchange', this._onResize);
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
        if (!this._manualClock) this._turn(taskStart);
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
      if (file) this.openFile(file);
    }

    // ---- running ---------------------------------------------------------------
    // Runs the player's passes after `delayMs`, or sooner if a turn is
    // already due sooner.
    _schedule(delayMs = 0) {
      if (!this._playing || this._manualClock) return;
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
      const status = this._run(this.state === 3 ? kLoadBudgetMs : kRunBudgetMs, taskStart);
      if (!this._playing) return;
      const wait = (status & 4) !== 0 || this._pendingReleases.length > 0 ? 0 : this._module._kiv_wait_ms();
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
      const first = this._canvas.width !== width || this._canvas.height !== height;
      const cost = first ? width * height * kFirstPictureMsPerPixel : 0;
      return performance.now() - taskStart + cost <= kTaskBudgetMs;
    }

    _takePicture(module) {
      if (module._kiv_take_picture()) this._draw(module);
    }

    // Puts the rows that changed on the canvas, straight from the module's
    // memory.
    _draw(module) {
      const width = module._kiv_width();
      const height = module._kiv_height();
      if (width <= 0 || height <= 0) return;
      let top = module._kiv_changed_top();
      let end = module._kiv_changed_end();
      if (this._canvas.width !== width || this._canvas.height !== height) {
        // A resized canvas is blank: all of it is new.
        this._canvas.width = width;
        this._canvas.height = height;
        this._fit();
        top = 0;
        end = height;
      }
      const address = module._kiv_rgba();
      const image = this._image;
      // The module's memory moves when it grows, and a new mode has a new buffer.
      if (!image || image.data.buffer !== module.HEAPU8.buffer || image.data.byteOffset !== address ||
          image.width !== width || image.height !== height) {
        const bytes = new Uint8ClampedArray(module.HEAPU8.buffer, address, width * height * 4);
        this._image = new ImageData(bytes, width, height);
      }
      this._context.putImageData(this._image, 0, 0, 0, top, width, end - top);
      if (this._canvas.hidden) {
        this._canvas.hidden = false;
        this._progress.hidden = true;
      }
      this.dispatchEvent(new CustomEvent('kiv-frame'));
    }

    _ended() {
      this._playing = false;
      this._pendingReleases = [];
      this._picturePending = false;
      clearTimeout(this._wakeTimer);
      this._wakeTimer = 0;
      this._canvas.hidden = true;
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
      if (taken) this._schedule();
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
    toggleFullscreen() {
      if (document.fullscreenElement) {
        document.exitFullscreen();
      } else if (this._stage.requestFullscreen) {
        this._stage.requestFullscreen();
      }
    }

    // The largest whole multiple of the screen that fits, at least 1.
    _fit() {
      const width = this._canvas.width;
      const height = this._canvas.height;
      // The document sees the element, not the stage inside its shadow root.
      const full = this.shadowRoot.fullscreenElement === this._stage;
      let room;
      if (full) {
        room = { width: window.innerWidth, height: window.innerHeight };
      } else if (this.hasAttribute('page')) {
        room = this._stage.getBoundingClientRect();
      } else {
        room = { width: width * 4, height: height * 4 };
        const boxWidth = this.parentElement ? this.parentElement.clientWidth : 0;
        if (boxWidth > 0) room.width = boxWidth;
      }
      const scale = Math.max(1, Math.floor(Math.min(room.width / width, room.height / height)) || 1);
      this._scale = this.hasAttribute('page') || full ? scale : 1;
      this._canvas.style.width = width * this._scale + 'px';
      this._canvas.style.height = height * this._scale + 'px';
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
    get ready() { return this._ensureModule().then(() => this); }

    // The player's clock stops following the browser's and moves only by
    // advance(); the page then runs the loop only from advance().
    useManualClock() {
      this._manualClock = true;
      if (this._module) this._module._kiv_manual_clock(1, 0);
    }

    // Moves the player's clock on by `ms` in 10 ms steps, running the loop
    // after each step as the page would.
    advance(ms) {
      if (!this._module) return;
      for (let left = ms; left > 0; left -= 10) {
        this._module._kiv_advance_clock(Math.min(10, left));
        this._run(1e9);
      }
      if (ms === 0) this._run(1e9);
    }

    // The screen as shown (unscaled RGBA), for comparisons.
    screenPixels() {
      const width = this._canvas.width;
      const height = this._canvas.height;
      return { width, height, data: this._context.getImageData(0, 0, width, height).data };
    }
  }

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
