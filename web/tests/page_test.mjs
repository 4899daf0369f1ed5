// The page in headless chromium: opened from file:// (with kivplay.js beside
// it and alone), files opened through the file input and by a drop, canvas
// pixels against `kivtool render` after every key and button, playing,
// paused and with the layer off, the real clock, the fit at window sizes and
// device pixel ratios (measured in screenshots), touch, fullscreen, a
// corrupt file, a large file, two players on one page, no network request
// for a local file, the page served under a strict Content-Security-Policy,
// and the site (PAGE_DIR/site) offline, installed and launched with files.
//
// node page_test.mjs PAGE_DIR KIVTOOL MAKEDEMO DEMO_KIV WORK_DIR
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

const [pageDir, kivtool, makedemo, demo, workDir] = process.argv.slice(2);
if (!workDir) {
  console.error('usage: node page_test.mjs PAGE_DIR KIVTOOL MAKEDEMO DEMO_KIV WORK_DIR');
  process.exit(2);
}
fs.mkdirSync(workDir, { recursive: true });
const pageUrl = pathToFileURL(path.join(pageDir, 'kivplay.html')).href;

// The screen that kivtool shows for a frame, playing or paused, with the
// background layer or without it, as RGB.
function rendered(frame, paused, noLayer = false) {
  const pattern = path.join(workDir, `${paused ? 'paused' : 'playing'}${noLayer ? '-nolayer' : ''}-%d.png`);
  const file = pattern.replace('%d', String(frame));
  if (!fs.existsSync(file)) {
    const args = ['render', demo, '-o', pattern, '--frames', `${frame}-${frame}`, '-q'];
    if (paused) args.push('--paused');
    if (noLayer) args.push('--no-layer');
    execFileSync(kivtool, args);
  }
  // ImageMagick gives the picture's colours as plain RGB bytes.
  const size = execFileSync('/usr/bin/identify', ['-format', '%w %h', file]).toString().split(' ').map(Number);
  const rgb = execFileSync('/usr/bin/convert', [file, '-depth', '8', 'rgb:-'], { maxBuffer: 1 << 26 });
  return { width: size[0], height: size[1], rgb };
}

function sameScreen(shown, expected, what) {
  assert.equal(shown.uneven, 0, `${what}: screen pixels not shown as k x k blocks of one colour`);
  assert.equal(shown.width, expected.width, `${what}: width`);
  assert.equal(shown.height, expected.height, `${what}: height`);
  let differing = 0;
  let first = -1;
  for (let i = 0, j = 0; j < expected.rgb.length; i += 4, j += 3) {
    if (shown.data[i] !== expected.rgb[j] || shown.data[i + 1] !== expected.rgb[j + 1] ||
        shown.data[i + 2] !== expected.rgb[j + 2]) {
      if (first < 0) first = j / 3;
      ++differing;
    }
  }
  assert.equal(differing, 0, `${what}: ${differing} pixels differ, the first at ` +
    `(${first % expected.width}, ${Math.floor(first / expected.width)})`);
}

// Debian's chromium, headless; `options` add to puppeteer's.
const launch = (args = [], options = {}) => puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  // No background connections: this machine may have no network at all.
  args: ['--no-sandbox', '--allow-file-access-from-files=false', '--disable-gpu', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync', '--disable-quic', ...args],
  ...options,
});
const browser = await launch();
let failures = 0;
let passes = 0;

// Runs `body` on a new page at `url`, in `on` (a browser launched with its
// own window size and ratio) or else the shared browser at 1280x1024.
async function test(name, body, url = pageUrl, on = null) {
  // KIV_TEST_ONLY=TEXT runs only the tests whose names contain TEXT.
  if (process.env.KIV_TEST_ONLY && !name.includes(process.env.KIV_TEST_ONLY)) return;
  const page = await (on || browser).newPage();
  if (!on) await page.setViewport({ width: 1280, height: 1024, deviceScaleFactor: 1 });
  const requests = [];
  page.on('request', (request) => requests.push(request.url()));
  const errors = [];
  page.on('pageerror', (error) => errors.push(String(error)));
  const messages = [];
  page.on('console', (message) => {
    messages.push(message.text());
    if (process.env.KIV_TEST_VERBOSE) console.log('  console:', message.text());
  });
  try {
    await page.goto(url);
    await page.waitForFunction(() => customElements.get('kiv-player') !== undefined);
    await body(page, requests, messages);
    assert.deepEqual(errors, [], 'errors in the page');
    ++passes;
    console.log(`ok - ${name}`);
  } catch (error) {
    ++failures;
    console.log(`not ok - ${name}\n  ${String(error.stack || error).replace(/\n/g, '\n  ')}`);
  } finally {
    await page.close();
  }
}

// Opens `file` in the first player through its file input, with the
// player's clock in the test's hands, and waits until it plays.
async function openByInput(page, file) {
  const player = await page.$('kiv-player');
  await player.evaluate(async (element) => { await element.ready; element.useManualClock(); });
  const input = await player.evaluateHandle((element) => element.shadowRoot.querySelector('input[type=file]'));
  await input.uploadFile(file);
  return player;
}

async function waitPlaying(player) {
  await player.evaluate(async (element) => {
    for (let i = 0; i < 2000 && element.state !== 2; ++i) {
      if (element.state === 0) await new Promise((resolve) => setTimeout(resolve, 10));
      element.advance(10);
    }
  });
  assert.equal(await player.evaluate((element) => element.state), 2, 'the file plays');
}

const screenOf = (player) => player.evaluate((element) => {
  const shown = element.screenPixels();
  return { ...shown, data: Array.from(shown.data) };
});

// Advances the clock until the playing player shows `frame`: its status
// line names the frame before the tick, which then moves on by one (kivtool
// numbers the screen by the former).
async function playTo(player, frame) {
  await player.evaluate((element, wanted) => {
    for (let i = 0; i < 5000 && element.frame !== wanted; ++i) element.advance(10);
  }, frame + 1);
  assert.equal(await player.evaluate((element) => element.frame), frame + 1, `reached frame ${frame}`);
}

await test('file input: playing and paused screens equal kivtool render', async (page, requests) => {
  const player = await openByInput(page, demo);
  await waitPlaying(player);
  for (const frame of [1, 30]) {
    await playTo(player, frame);
    sameScreen(await screenOf(player), rendered(frame, false), `playing frame ${frame}`);
  }
  // The page's own files, and the module embedded in it as a data: URL.
  const elsewhere = requests.filter((url) => !url.startsWith('file:') && !url.startsWith('data:'));
  assert.deepEqual(elsewhere, [], 'no request leaves the computer');
  assert.equal(await page.title(), 'demo.kiv - KIV Player 3.1');
});

await test('a drop opens the file; F12 closes it', async (page) => {
  const player = await page.$('kiv-player');
  await player.evaluate(async (element) => { await element.ready; element.useManualClock(); });
  const bytes = fs.readFileSync(demo).toString('base64');
  await page.evaluate((base64) => {
    const data = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    const transfer = new DataTransfer();
    transfer.items.add(new File([data], 'dropped.kiv'));
    document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, bytes);
  await waitPlaying(player);
  await playTo(player, 5);
  sameScreen(await screenOf(player), rendered(5, false), 'dropped file, frame 5');
  await page.keyboard.press('F12');
  await player.evaluate((element) => element.advance(20));
  assert.equal(await player.evaluate((element) => element.state), 0, 'F12 closes');
});

await test('a corrupt file shows the message and the page stays usable', async (page) => {
  const corrupt = path.join(workDir, 'corrupt.kiv');
  const bytes = fs.readFileSync(demo);
  fs.writeFileSync(corrupt, Buffer.concat([bytes.subarray(0, 64), Buffer.alloc(64, 0xff)]));
  const player = await openByInput(page, corrupt);
  await player.evaluate(async (element) => {
    for (let i = 0; i < 500 && !element.lastMessage; ++i) {
      await new Promise((resolve) => setTimeout(resolve, 10));
      element.advance(10);
    }
  });
  const message = await player.evaluate((element) => element.lastMessage);
  assert.deepEqual(message, { caption: 'Fatal error', text: 'Unable to load KIV file or corrupt KIV file' });
  const input = await player.evaluateHandle((element) => element.shadowRoot.querySelector('input[type=file]'));
  await input.uploadFile(demo);
  await waitPlaying(player);
  assert.equal(await player.evaluate((element) => element.lastMessage), null, 'the message goes');
});

await test('two players on one page play independently', async (page) => {
  await page.evaluate(() => {
    document.body.innerHTML = '<kiv-player id="a" nocontrols></kiv-player><kiv-player id="b"></kiv-player>';
  });
  const players = await page.$$('kiv-player');
  for (const player of players) {
    await player.evaluate(async (element) => { await element.ready; element.useManualClock(); });
    const input = await player.evaluateHandle((element) => element.shadowRoot.querySelector('input[type=file]'));
    await input.uploadFile(demo);
    await waitPlaying(player);
  }
  await playTo(players[0], 10);
  await playTo(players[1], 3);
  sameScreen(await screenOf(players[0]), rendered(10, false), 'first player');
  sameScreen(await screenOf(players[1]), rendered(3, false), 'second player');
  const hidden = await players[0].evaluate((element) =>
    getComputedStyle(element.shadowRoot.querySelector('.bar')).display);
  assert.equal(hidden, 'none', 'nocontrols hides the buttons');
  const widths = await players[1].evaluate((element) => [element.canvas.offsetWidth, element.screenSize.width]);
  assert.equal(widths[0], widths[1], 'an embedded player shows the screen at one CSS pixel per screen pixel');
});

await test('paused start shows the first frame, paused', async (page) => {
  await page.evaluate(() => { document.body.innerHTML = '<kiv-player paused></kiv-player>'; });
  const player = await openByInput(page, demo);
  await player.evaluate(async (element) => {
    for (let i = 0; i < 2000 && element.state !== 1; ++i) {
      if (element.state === 0) await new Promise((resolve) => setTimeout(resolve, 10));
      element.advance(10);
    }
  });
  assert.equal(await player.evaluate((element) => element.state), 1, 'paused');
  const frame = await player.evaluate((element) => element.frame);
  assert.ok(frame <= 1, `on the first frame, not ${frame}`);
  sameScreen(await screenOf(player), rendered(frame, true), 'paused start');
});

// The player's buttons, by index: play/pause, step back, step, layer, close, fullscreen.
const kPlayButton = 0, kBackButton = 1, kStepButton = 2, kLayerButton = 3, kCloseButton = 4, kFullButton = 5;

const stateOf = (player) => player.evaluate((element) => ({ state: element.state, frame: element.frame }));

const buttonOf = (player, index) =>
  player.evaluateHandle((element, i) => element.shadowRoot.querySelectorAll('button')[i], index);

async function clickButton(player, index) {
  await (await buttonOf(player, index)).click();
  await player.evaluate((element) => element.advance(30));
}

// Runs the page on the test's clock, as its own timers would, until it has
// nothing left to do (paused, closed) or has played on for a while. The
// buttons that pause first finish on a later animation frame.
async function settle(player) {
  return player.evaluate(async (element) => {
    for (let ms = 0; ms < 3000; ms += 10) {
      element.advance(10);
      await new Promise((resolve) => requestAnimationFrame(resolve));
      if (element.idle || (element.state === 2 && ms >= 200 && !element.pausing)) break;
    }
    return { state: element.state, frame: element.frame, idle: element.idle };
  });
}

// Where the background layer is off, the frame's see-through pixels show as
// they are: white, as in the desktop window after L.
function layerOffRule(withLayer, withoutLayer, what) {
  let differing = 0;
  for (let j = 0; j < withLayer.rgb.length; j += 3) {
    if (withLayer.rgb[j] === withoutLayer.rgb[j] && withLayer.rgb[j + 1] === withoutLayer.rgb[j + 1] &&
        withLayer.rgb[j + 2] === withoutLayer.rgb[j + 2]) continue;
    ++differing;
    assert.deepEqual([...withoutLayer.rgb.subarray(j, j + 3)], [255, 255, 255], `${what}: pixel ${j / 3}`);
  }
  assert.ok(differing > 0, `${what}: the layer shows somewhere`);
}

// Each action as a user takes it (a key pressed and released before the
// page runs again, or a button clicked), the state it leaves (1 paused, 2
// playing, 0 closed), the step it takes and whether it toggles the layer.
// After each, the canvas must equal kivtool render of the frame shown, and
// a paused page must sleep until the next key.
const kActions = [
  ['Esc pauses', 'Escape', 1], ['Right steps on', 'ArrowRight', 1, 1], ['Left steps back', 'ArrowLeft', 1, -1],
  ['Down steps on', 'ArrowDown', 1, 1], ['2 steps on', 'Digit2', 1, 1], ['1 steps back', 'Digit1', 1, -1],
  ['Up steps back', 'ArrowUp', 1, -1], ['the step button', kStepButton, 1, 1], ['the back button', kBackButton, 1, -1],
  ['the layer button', kLayerButton, 1, 0, true], ['a step with the layer off', 'ArrowRight', 1, 1],
  ['L shows the layer', 'KeyL', 1, 0, true], ['L hides it', 'KeyL', 1, 0, true], ['4 plays', 'Digit4', 2],
  ['the play button pauses', kPlayButton, 1], ['the play button plays', kPlayButton, 2],
  ['the step button while playing', kStepButton, 1, 1], ['the play button plays', kPlayButton, 2],
  ['the layer button while playing pauses, shows the layer', kLayerButton, 1, 0, true], ['4 plays', 'Digit4', 2],
  ['Esc pauses', 'Escape', 1], ['Esc when paused closes', 'Escape', 0],
];

await test('after every key and button the screen equals kivtool render, and a paused page sleeps',
  async (page) => {
    const player = await openByInput(page, demo);
    await waitPlaying(player);
    await playTo(player, 6);
    let noLayer = false;
    let before = await stateOf(player);
    for (const [what, action, state, step = 0, layer = false] of kActions) {
      if (typeof action === 'string') await page.keyboard.press(action);
      else await (await buttonOf(player, action)).click();
      const after = await settle(player);
      assert.equal(after.state, state, `${what}: state`);
      noLayer = noLayer !== layer;
      if (state === 0) break;
      if (before.state === 1 && state === 1) assert.equal(after.frame, before.frame + step, `${what}: frame`);
      // Playing, the status line names the frame before the one shown.
      const shown = state === 1 ? after.frame : after.frame - 1;
      sameScreen(await screenOf(player), rendered(shown, state === 1, noLayer), `${what} (frame ${shown})`);
      const turns = await player.evaluate((element) => [element.turns, element.advance(2000), element.turns]);
      if (state === 1) assert.deepEqual([after.idle, turns[2] - turns[0]], [true, 0], `${what}: asleep, no turns in 2 s`);
      before = after;
    }
    layerOffRule(rendered(before.frame, true), rendered(before.frame, true, true), 'kivtool render --no-layer');
  });

await test('on the real clock a 25 fps file shows 25 frames a second; paused, the loop sleeps', async (page) => {
  const player = await page.$('kiv-player');
  await player.evaluate(async (element) => { await element.ready; });
  await (await player.evaluateHandle((element) => element.shadowRoot.querySelector('input'))).uploadFile(demo);
  await page.waitForFunction(() => document.querySelector('kiv-player').state === 2);
  // Frames shown in 2 s playing (a busy machine drops frames, never adds
  // them); then turns of the loop in 1.5 s paused, once a step has shown.
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  const frames = await player.evaluate(async (element, ms) => {
    let count = 0;
    element.addEventListener('kiv-frame', () => ++count);
    await new Promise((resolve) => setTimeout(resolve, ms));
    return count;
  }, 2000);
  assert.ok(frames > 20 && frames <= 52, `${frames} frames in 2 s`);
  await page.keyboard.press('Escape');
  await page.keyboard.press('ArrowRight');
  await sleep(500);
  const turns = await player.evaluate((element) => element.turns);
  await sleep(1500);
  const paused = { ...await stateOf(player), turns: await player.evaluate((element) => element.turns) - turns };
  assert.deepEqual([paused.state, paused.turns], [1, 0], 'paused, and no turns of the loop in 1.5 s');
  sameScreen(await screenOf(player), rendered(paused.frame, true), `stepped on the real clock (frame ${paused.frame})`);
});

// Where the page player shows the screen: at the largest whole k of device
// pixels per screen pixel that fits its stage, or scaled down and marked so
// where not even 1 fits; inside the viewport, centred, never scrolling
// sideways. An emulated ratio does not change the device pixels that the
// browser reports for the canvas: there only the CSS size is measured.
async function checkFit(player, what, emulatedRatio = false) {
  const view = await player.evaluate(async (element) => {
    // The observers report sizes before the next paint.
    for (let i = 0; i < 2; ++i) await new Promise((resolve) => requestAnimationFrame(resolve));
    const box = (node) => node.getBoundingClientRect().toJSON();
    const note = element.shadowRoot.querySelector('.scaled');
    return { canvas: box(element.canvas), stage: box(element.shadowRoot.querySelector('.stage')),
      viewWidth: innerWidth, viewHeight: innerHeight, ratio: devicePixelRatio, screen: element.screenSize,
      scrollWidth: document.documentElement.scrollWidth, note: note.hidden ? '' : note.textContent };
  });
  const { canvas, stage, ratio, screen } = view;
  const k = Math.floor(Math.min(Math.floor(stage.width * ratio) / screen.width,
    Math.floor(stage.height * ratio) / screen.height));
  assert.ok(canvas.left >= 0 && canvas.top >= 0 && canvas.right <= view.viewWidth + 0.01 &&
    canvas.bottom <= view.viewHeight + 0.01 && view.scrollWidth <= view.viewWidth, `${what}: inside the viewport`);
  assert.ok(Math.abs(canvas.x + canvas.width / 2 - stage.x - stage.width / 2) <= 1 &&
    Math.abs(canvas.y + canvas.height / 2 - stage.y - stage.height / 2) <= 1, `${what}: centred`);
  const shown = emulatedRatio ? { k: 0 } : await screenOf(player);
  if (k >= 1) {
    assert.ok(Math.abs(canvas.width * ratio - k * screen.width) < 0.5, `${what}: CSS width of k x W device pixels`);
    if (!emulatedRatio) assert.deepEqual([shown.k, view.note], [k, ''], `${what}: exact k x k, not marked`);
  } else {
    assert.ok(shown.scaled && /^scaled \d+%$/.test(view.note), `${what}: scaled down and marked so`);
  }
  return { k, view, shown };
}

// Window sizes where rounding and flooring the multiple differ (1300 wide:
// 1.8), one that needs a re-fit to 2, a large one, one narrower than the
// screen, a change of the device pixel ratio alone (a page zoomed, or moved
// to another monitor), and fullscreen (the whole element, buttons included).
const kFits = [
  [1600, 1200, 'page', 1, 2], [1300, 1100, 'page', 1, 1], [2200, 1700, 'page'], [700, 900, 'page'],
  [1300, 1100, 'page', 1.5, 2], [1280, 1024, 'page'], [1600, 1100, 'fullscreen'],
];

await test('the page shows the screen at the largest whole multiple that fits, at every window size',
  async (page) => {
    await page.setViewport({ width: kFits[0][0], height: kFits[0][1], deviceScaleFactor: 1 });
    const player = await openByInput(page, demo);
    await waitPlaying(player);
    await playTo(player, 3);
    await clickButton(player, kPlayButton);
    const { frame } = await stateOf(player);
    for (const [width, height, mode, ratio = 1, wantedK] of kFits) {
      const what = `${width}x${height} ${mode} at ${ratio}`;
      await page.setViewport({ width, height, deviceScaleFactor: ratio });
      if (mode === 'fullscreen') {
        await clickButton(player, kFullButton);
        await page.waitForFunction(() => document.fullscreenElement === document.querySelector('kiv-player'));
      }
      const { k, shown } = await checkFit(player, what, ratio !== 1);
      if (wantedK) assert.equal(k, wantedK, `${what}: k`);
      if (shown.k) sameScreen(shown, rendered(frame, true), what);
    }
    await page.evaluate(() => document.exitFullscreen());
    await page.waitForFunction(() => document.fullscreenElement === null);
    await checkFit(player, 'after fullscreen');
  });

// Device pixel ratios of scaled laptop displays and phones, the window in
// CSS pixels (phones in portrait and landscape). In a screenshot, every
// screen pixel is a k x k block of kivtool's colour (read by ImageMagick);
// the canvas starts on a whole device pixel next to its CSS position.
// 'css' stands for a browser without devicePixelContentBox (Safari).
const kDisplays = [
  [1.25, 1400, 1100], [2.625, 600, 540], [2.625, 412, 892], [2.625, 892, 412], [3, 844, 390], [1.5, 390, 844],
  [1.25, 1400, 1100, 'css'], [2.625, 600, 540, 'css'],
];
for (const [ratio, width, height, box = ''] of kDisplays) {
  const on = await launch([`--force-device-scale-factor=${ratio}`, `--window-size=${width},${height}`],
    { defaultViewport: null });
  await test(`exact at a device pixel ratio of ${ratio} in ${width}x${height} ${box}`, async (page) => {
    if (box) {
      await page.evaluateOnNewDocument(() => Object.defineProperty(ResizeObserverEntry.prototype,
        'devicePixelContentBoxSize', { get: () => undefined }));
      await page.reload();
    }
    const player = await openByInput(page, demo);
    await waitPlaying(player);
    await clickButton(player, kPlayButton);
    const { frame } = await stateOf(player);
    const what = `ratio ${ratio}, ${width}x${height}`;
    const { k, view, shown } = await checkFit(player, what);
    assert.equal(view.ratio, ratio, `${what}: the browser's ratio`);
    if (k < 1) return;
    const expected = rendered(frame, true);
    sameScreen(shown, expected, what);
    const file = path.join(workDir, 'shot.png');
    fs.writeFileSync(file, await page.screenshot({ type: 'png' }));
    const shotWidth = Number(execFileSync('/usr/bin/identify', ['-format', '%w', file]));
    const rgb = execFileSync('/usr/bin/convert', [file, '-depth', '8', 'rgb:-'], { maxBuffer: 1 << 27 });
    const exactAt = (left, top) => {
      for (let y = 0; y < expected.height * k; ++y) {
        for (let x = 0; x < expected.width * k; ++x) {
          const at = ((top + y) * shotWidth + left + x) * 3;
          const want = (Math.floor(y / k) * expected.width + Math.floor(x / k)) * 3;
          if (rgb.compare(expected.rgb, want, want + 3, at, at + 3) !== 0) return false;
        }
      }
      return true;
    };
    const [left, top] = [Math.round(view.canvas.x * ratio), Math.round(view.canvas.y * ratio)];
    assert.ok([-1, 0, 1].some((dy) => [-1, 0, 1].some((dx) => exactAt(left + dx, top + dy))),
      `${what}: the screenshot shows each screen pixel as ${k} x ${k} device pixels of its colour`);
  }, pageUrl, on);
  await on.close();
}

// Touch gestures on the picture, as a phone sends them, and the state (1
// paused, 2 playing) and step that each leaves.
const kGestures = [
  ['a tap pauses', 'tap', 1, 0], ['a swipe right steps on', 80, 1, 1], ['a swipe left steps back', -80, 1, -1],
  ['two fingers are no gesture', 'two', 1, 0], ['a tap plays on', 'tap', 2, 0],
  ['a swipe while playing does not pause', 80, 2, 0],
];

await test('touch: tap, swipe, two fingers, double tap; large buttons and no panning', async (page) => {
  await page.setViewport({ width: 900, height: 700, deviceScaleFactor: 1, hasTouch: true, isMobile: true });
  const player = await openByInput(page, demo);
  await waitPlaying(player);
  const box = await player.evaluate((element) => {
    const rect = element.canvas.getBoundingClientRect();
    const heights = [...element.shadowRoot.querySelectorAll('button')].map((node) => node.offsetHeight);
    return { x: rect.x + rect.width / 2, y: rect.y + rect.height / 2, top: rect.top, heights,
      touchAction: getComputedStyle(element.canvas).touchAction,
      barBottom: element.shadowRoot.querySelector('.bar').getBoundingClientRect().bottom };
  });
  assert.equal(box.touchAction, 'none', 'the browser does not pan the picture');
  assert.ok(Math.min(...box.heights) >= 44 && box.barBottom <= box.top, `buttons ${box.heights} high, above the picture`);
  const session = await page.createCDPSession();
  const { x, y } = box;
  let before = await stateOf(player);
  for (const [what, gesture, state, step] of kGestures) {
    if (gesture === 'tap') {
      await page.touchscreen.tap(x, y);
    } else if (gesture === 'two') {
      await session.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: [{ x, y }, { x: x + 60, y }] });
      await session.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
    } else {
      await page.touchscreen.touchStart(x, y);
      await page.touchscreen.touchMove(x + gesture / 2, y + 2);
      await page.touchscreen.touchMove(x + gesture, y + 4);
      await page.touchscreen.touchEnd();
    }
    // Past the wait for a second tap.
    await new Promise((resolve) => setTimeout(resolve, 400));
    const after = await settle(player);
    assert.equal(after.state, state, `${what}: state`);
    if (state === 1 && before.state === 1) assert.equal(after.frame, before.frame + step, `${what}: frame`);
    if (state === 1) sameScreen(await screenOf(player), rendered(after.frame, true), what);
    before = after;
  }
  await page.touchscreen.tap(x, y);
  await page.touchscreen.tap(x, y);
  await page.waitForFunction(() => document.fullscreenElement === document.querySelector('kiv-player'));
  await new Promise((resolve) => setTimeout(resolve, 400));
  assert.equal((await settle(player)).state, 2, 'a double tap toggles fullscreen and does not pause');
});

await test('a large file loads across frames with a progress bar and no task over 100 ms', async (page) => {
  // About 190 MB of frames that do not compress.
  const large = path.join(workDir, 'large.kiv');
  if (!fs.existsSync(large)) {
    execFileSync(makedemo, ['--width', '1600', '--height', '1200', '--frames', '100', '--noise', large]);
  }
  const player = await page.$('kiv-player');
  await player.evaluate(async (element) => {
    await element.ready;
    window.longTasks = [];
    new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) window.longTasks.push(Math.round(entry.duration));
    }).observe({ type: 'longtask' });
    window.progressSeen = new Set();
    window.framesWhileLoading = 0;
    window.barGoneWhileLoading = 0;
    const progress = element.shadowRoot.querySelector('progress');
    const watch = () => {
      if (element.state === 2) return;
      if (!progress.hidden) window.progressSeen.add(progress.value);
      // Until the first frame, the bar and not a blank screen.
      if (element.state === 3 && (progress.hidden || !element.canvas.hidden)) ++window.barGoneWhileLoading;
      ++window.framesWhileLoading;
      requestAnimationFrame(watch);
    };
    requestAnimationFrame(watch);
  });
  const input = await player.evaluateHandle((element) => element.shadowRoot.querySelector('input[type=file]'));
  await input.uploadFile(large);
  // Playing, and its first picture drawn (a large one may come a task later).
  await page.waitForFunction(() => document.querySelector('kiv-player').state === 2 &&
    !document.querySelector('kiv-player').canvas.hidden &&
    document.querySelector('kiv-player').canvas.width > 1, { timeout: 180000, polling: 50 });
  const seen = await page.evaluate(() => ({
    longTasks: window.longTasks, frames: window.framesWhileLoading,
    progress: [...window.progressSeen].filter((value) => value > 0 && value < 1).length,
    barGone: window.barGoneWhileLoading,
    width: document.querySelector('kiv-player').screenSize.width,
  }));
  assert.equal(seen.width, 80 + 1600, 'the large file plays');
  assert.ok(seen.progress >= 3, `the progress bar moved (${seen.progress} values between 0 and 1)`);
  assert.ok(seen.frames >= 10, `the page kept drawing frames while loading (${seen.frames})`);
  assert.equal(seen.barGone, 0, 'frames while loading without the progress bar, or with the canvas');
  assert.deepEqual(seen.longTasks.filter((duration) => duration > 100), [], 'tasks over 100 ms');
});

await test('kivplay.html alone in a folder, opened from file://, plays a file', async (page, requests) => {
  const player = await openByInput(page, demo);
  await waitPlaying(player);
  await playTo(player, 4);
  sameScreen(await screenOf(player), rendered(4, false), 'the page alone, frame 4');
  assert.ok(requests.some((url) => url.endsWith('/alone/kivplay.js')), 'it looked for kivplay.js beside it');
}, (() => {
  const alone = path.join(workDir, 'alone');
  fs.rmSync(alone, { recursive: true, force: true });
  fs.mkdirSync(alone, { recursive: true });
  fs.copyFileSync(path.join(pageDir, 'kivplay.html'), path.join(alone, 'kivplay.html'));
  return pathToFileURL(path.join(alone, 'kivplay.html')).href;
})());

// A static server that adds the strict policy a careful site would send;
// the page must play a file of the site given as ?src= under it.
const kPolicy = "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'";
const served = new Map([
  ['/kivplay.html', ['text/html', path.join(pageDir, 'kivplay.html')]],
  ['/kivplay.js', ['text/javascript', path.join(pageDir, 'kivplay.js')]],
  ['/files/demo.kiv', ['application/octet-stream', demo]],
  ['/files/unsized/demo.kiv', ['application/octet-stream', demo]],
]);
const server = http.createServer((request, response) => {
  const pathname = new URL(request.url, 'http://localhost').pathname;
  const entry = served.get(pathname);
  if (!entry) {
    response.writeHead(404).end();
    return;
  }
  const bytes = fs.readFileSync(entry[1]);
  const headers = { 'Content-Type': entry[0], 'Content-Security-Policy': kPolicy };
  // A static server sends the length; under /unsized/ the file comes as a
  // stream of unknown length, in pieces.
  if (!pathname.includes('/unsized/')) headers['Content-Length'] = bytes.length;
  response.writeHead(200, headers);
  const half = bytes.length >> 1;
  response.write(bytes.subarray(0, half));
  setTimeout(() => response.end(bytes.subarray(half)), 20);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const origin = `http://127.0.0.1:${server.address().port}`;

await test('served under a strict policy, ?src= plays a file of the site', async (page, requests, messages) => {
  // The inline copy is refused; kivplay.js from the site is what plays.
  assert.ok(messages.some((text) => /Content Security Policy/.test(text) && /inline script/.test(text)),
    'the inline script was refused');
  const player = await page.$('kiv-player');
  await player.evaluate(async (element) => { await element.ready; element.useManualClock(); });
  await waitPlaying(player);
  await playTo(player, 12);
  sameScreen(await screenOf(player), rendered(12, false), 'served file, frame 12');
  const style = await player.evaluate((element) => getComputedStyle(element.shadowRoot.querySelector('.bar')).display);
  assert.equal(style, 'flex', 'the page styles apply under the policy');
  // The same file with no length given is read to its end all the same.
  await player.evaluate((element) => element.openUrl('files/unsized/demo.kiv'));
  await waitPlaying(player);
  await playTo(player, 12);
  sameScreen(await screenOf(player), rendered(12, false), 'served file of unknown length, frame 12');
}, `${origin}/kivplay.html?src=files/demo.kiv`);
server.close();

// The site (make web's site/), copied so that a test can change it, served
// as a static server would; stop() ends it, connections and all.
const siteCopy = path.join(workDir, 'site');
fs.rmSync(siteCopy, { recursive: true, force: true });
fs.cpSync(path.join(pageDir, 'site'), siteCopy, { recursive: true });
async function serveSite(port = 0) {
  const [sockets, requests] = [new Set(), []];
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.webmanifest': 'application/manifest+json' };
  const site = http.createServer((request, response) => {
    requests.push(request.url);
    const file = path.join(siteCopy, new URL(request.url, 'http://localhost').pathname.replace(/\/$/, '/index.html'));
    if (!file.startsWith(siteCopy) || !fs.existsSync(file)) return response.writeHead(404).end();
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'image/png' }).end(fs.readFileSync(file));
  }).on('connection', (socket) => sockets.add(socket));
  await new Promise((resolve) => site.listen(port, '127.0.0.1', resolve));
  const stop = () => new Promise((resolve) => { site.close(resolve); sockets.forEach((socket) => socket.destroy()); });
  return { origin: `http://127.0.0.1:${site.address().port}`, port: site.address().port, requests, stop };
}

// Waits until the page's player plays the file `name` on the browser's
// clock, pauses it, waits until it sleeps and compares its screen with
// kivtool render.
async function playsExactly(page, name) {
  const player = await page.$('kiv-player');
  await page.waitForFunction((wanted) => document.querySelector('kiv-player').state === 2 &&
    document.querySelector('kiv-player').caption.startsWith(wanted), {}, name);
  await player.evaluate((element) => element.tap('Escape'));
  await page.waitForFunction(() => document.querySelector('kiv-player').state === 1 &&
    document.querySelector('kiv-player').idle);
  const { frame } = await stateOf(player);
  sameScreen(await screenOf(player), rendered(frame, true), `${name}, frame ${frame}`);
}
const cacheNames = (page) => page.evaluate(async () => (await caches.keys()).filter((name) => name !== 'kivplay-shared'));

let site = await serveSite();
await test('the site works offline once visited, takes a shared file, and an update replaces its cache',
  async (page) => {
    await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
    const [cached] = await cacheNames(page);
    assert.match(cached, /^kivplay-[0-9a-f]{16}$/, 'the cache is named by the content');
    // Cache first: the site's files come from the cache even online.
    site.requests.length = 0;
    await page.reload();
    assert.deepEqual(site.requests.filter((url) => !url.endsWith('/sw.js')), [], 'requests that reached the server');
    await site.stop();
    const loaded = await page.reload().then(() => page.evaluate(() => customElements.get('kiv-player') !== undefined),
      () => false);
    assert.ok(loaded, 'the page loads with the server gone');
    const player = await openByInput(page, demo);
    await waitPlaying(player);
    await playTo(player, 4);
    sameScreen(await screenOf(player), rendered(4, false), 'offline, frame 4');

    // A file shared to the app arrives as a form posted to ./share.
    await page.evaluate((base64) => {
      const form = Object.assign(document.createElement('form'), { method: 'POST', action: 'share', enctype: 'multipart/form-data' });
      const input = Object.assign(document.createElement('input'), { type: 'file', name: 'file' });
      const transfer = new DataTransfer();
      transfer.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], 'shared.kiv'));
      input.files = transfer.files;
      document.body.appendChild(form).appendChild(input);
      form.submit();
    }, fs.readFileSync(demo).toString('base64'));
    await page.waitForNavigation();
    await playsExactly(page, 'shared.kiv');

    // The site changes: its worker names another cache and drops the old
    // once it has taken over (its activation ends with the clean-up).
    site = await serveSite(site.port);
    fs.appendFileSync(path.join(siteCopy, 'index.html'), '<!-- changed -->\n');
    const siteSource = path.join(path.dirname(process.argv[1]), '../site');
    execFileSync(process.execPath, [path.join(siteSource, 'make_site.mjs'), path.join(siteSource, 'sw.js'), siteCopy]);
    await page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update());
    await page.waitForFunction(async (old) => {
      const registration = await navigator.serviceWorker.getRegistration();
      return !registration.installing && !registration.waiting && registration.active.state === 'activated' &&
        (await caches.keys()).some((name) => name.startsWith('kivplay-') && name !== old && name !== 'kivplay-shared');
    }, { polling: 100 }, cached);
    const now = await cacheNames(page);
    const index = await page.evaluate(async () => (await (await caches.match('index.html')).text()));
    assert.ok(now.length === 1 && now[0] !== cached && index.includes('<!-- changed -->'),
      `one cache, not the old one, with the changed page: ${now}`);
  }, `${site.origin}/`);

// Installing needs the DevTools PWA domain, which a pipe connection has.
const appBrowser = await launch([], { pipe: true });
await test('installed, the site plays files the system opens it with', async (page) => {
  const corrupt = path.join(workDir, 'launched-corrupt.kiv');
  fs.writeFileSync(corrupt, Buffer.concat([fs.readFileSync(demo).subarray(0, 64), Buffer.alloc(64, 0xff)]));
  const second = path.join(workDir, 'second.kiv');
  fs.copyFileSync(demo, second);
  const session = await page.createCDPSession();
  const manifestId = `${site.origin}/`;
  await session.send('PWA.install', { manifestId, installUrlOrBundleUrl: manifestId });
  const launchWith = async (files) => {
    const before = new Set(appBrowser.targets());
    await session.send('PWA.launchFilesInApp', { manifestId, files });
    const app = await (await appBrowser.waitForTarget((target) => !before.has(target) &&
      target.type() === 'page' && target.url().startsWith(site.origin))).asPage();
    await app.setViewport({ width: 1280, height: 1024, deviceScaleFactor: 1 });
    await app.waitForFunction(() => customElements.get('kiv-player') !== undefined);
    return app;
  };
  await playsExactly(await launchWith([demo]), 'demo.kiv');
  // Two files: the first plays, the list offers both, and plays the other.
  const two = await launchWith([demo, second]);
  await playsExactly(two, 'demo.kiv');
  const names = await two.evaluate(() => {
    const select = document.querySelector('kiv-player').shadowRoot.querySelector('select');
    select.selectedIndex = 1;
    select.dispatchEvent(new Event('change'));
    return select.hidden ? [] : [...select.options].map((option) => option.textContent);
  });
  assert.deepEqual(names, ['demo.kiv', 'second.kiv'], 'the list of files');
  await playsExactly(two, 'second.kiv');

  const bad = await launchWith([corrupt]);
  await bad.waitForFunction(() => document.querySelector('kiv-player').lastMessage !== null);
  assert.deepEqual(await bad.evaluate(() => document.querySelector('kiv-player').lastMessage),
    { caption: 'Fatal error', text: 'Unable to load KIV file or corrupt KIV file' });
}, `${site.origin}/`, appBrowser);
await appBrowser.close();
await site.stop();

await browser.close();
console.log(`browser: ${passes} passed, ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
