// The page in headless chromium: opened from file:// (with kivplay.js beside
// it and alone), files opened through the file input and by a drop, canvas
// pixels against `kivtool render` playing, paused and with the layer off,
// keys and buttons, fullscreen, a corrupt file, a large file, two players on
// one page, no network request for a local file, and the page served under a
// strict Content-Security-Policy.
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
// page runs again, or a button clicked), then what the player does: its
// state (1 paused, 2 playing, 0 closed), the step it takes while paused,
// and whether it toggles the background layer. After every action the
// canvas must equal kivtool render of the frame shown.
const kActions = [
  ['Esc pauses', 'Escape', { state: 1 }],
  ['Right steps on', 'ArrowRight', { state: 1, step: 1 }],
  ['Left steps back', 'ArrowLeft', { state: 1, step: -1 }],
  ['Down steps on', 'ArrowDown', { state: 1, step: 1 }],
  ['2 steps on', 'Digit2', { state: 1, step: 1 }],
  ['1 steps back', 'Digit1', { state: 1, step: -1 }],
  ['Up steps back', 'ArrowUp', { state: 1, step: -1 }],
  ['the step button steps on', kStepButton, { state: 1, step: 1 }],
  ['the step back button steps back', kBackButton, { state: 1, step: -1 }],
  ['the layer button hides the background', kLayerButton, { state: 1, layer: true }],
  ['a step with the layer off', 'ArrowRight', { state: 1, step: 1 }],
  ['L shows the background again', 'KeyL', { state: 1, layer: true }],
  ['L hides it again', 'KeyL', { state: 1, layer: true }],
  ['4 plays, the layer still off', 'Digit4', { state: 2 }],
  ['the play/pause button pauses', kPlayButton, { state: 1 }],
  ['the play/pause button plays on', kPlayButton, { state: 2 }],
  ['the step button while playing pauses and steps', kStepButton, { state: 1, step: 1 }],
  ['the play/pause button plays on', kPlayButton, { state: 2 }],
  ['the layer button while playing pauses and shows the background', kLayerButton, { state: 1, layer: true }],
  ['4 plays', 'Digit4', { state: 2 }],
  ['Esc pauses', 'Escape', { state: 1 }],
  ['Esc when paused closes', 'Escape', { state: 0 }],
];

await test('after every key and button the screen equals kivtool render, and a paused page sleeps',
  async (page) => {
    const player = await openByInput(page, demo);
    await waitPlaying(player);
    await playTo(player, 6);
    let noLayer = false;
    let before = await stateOf(player);
    for (const [what, action, expect] of kActions) {
      if (typeof action === 'string') await page.keyboard.press(action);
      else await (await buttonOf(player, action)).click();
      const after = await settle(player);
      assert.equal(after.state, expect.state, `${what}: state`);
      if (expect.layer) noLayer = !noLayer;
      if (after.state === 0) break;
      if (before.state === 1 && after.state === 1) {
        assert.equal(after.frame, before.frame + (expect.step || 0), `${what}: frame`);
      }
      // Playing, the status line names the frame before the one shown.
      const shown = after.state === 1 ? after.frame : after.frame - 1;
      sameScreen(await screenOf(player), rendered(shown, after.state === 1, noLayer), `${what} (frame ${shown})`);
      if (after.state === 1) {
        assert.ok(after.idle, `${what}: the paused page sleeps until the next key`);
        const turns = await player.evaluate((element) => {
          const at = element.turns;
          element.advance(2000);
          return element.turns - at;
        });
        assert.equal(turns, 0, `${what}: turns of the loop in 2 s paused`);
      }
      before = after;
    }
    const { frame } = before;
    layerOffRule(rendered(frame, true), rendered(frame, true, true), 'kivtool render --no-layer');
  });

await test('on the real clock a 25 fps file shows 25 frames a second; paused, the loop sleeps', async (page) => {
  const player = await page.$('kiv-player');
  await player.evaluate(async (element) => { await element.ready; });
  const input = await player.evaluateHandle((element) => element.shadowRoot.querySelector('input[type=file]'));
  await input.uploadFile(demo);
  await page.waitForFunction(() => document.querySelector('kiv-player').state === 2);
  const counted = await player.evaluate(async (element) => {
    let frames = 0;
    const count = () => ++frames;
    element.addEventListener('kiv-frame', count);
    const start = performance.now();
    await new Promise((resolve) => setTimeout(resolve, 2000));
    element.removeEventListener('kiv-frame', count);
    return { frames, seconds: (performance.now() - start) / 1000 };
  });
  const rate = counted.frames / counted.seconds;
  // A busy machine drops frames, never adds them.
  assert.ok(rate > 10 && rate <= 26, `${rate.toFixed(1)} frames a second`);
  await page.keyboard.press('Escape');
  await page.keyboard.press('ArrowRight');
  const paused = await player.evaluate(async (element) => {
    // The page settles within a few turns of the last key, then sleeps.
    await new Promise((resolve) => setTimeout(resolve, 500));
    const at = element.turns;
    await new Promise((resolve) => setTimeout(resolve, 1500));
    return { state: element.state, frame: element.frame, turns: element.turns - at };
  });
  assert.equal(paused.state, 1, 'Esc pauses');
  assert.equal(paused.turns, 0, 'turns of the loop in 1.5 s paused');
  sameScreen(await screenOf(player), rendered(paused.frame, true), `stepped on the real clock (frame ${paused.frame})`);
});

// How the page player shows the screen: the canvas's box, the stage it
// sits in, the viewport, and the screen as the canvas shows it.
const viewOf = (player) => player.evaluate(async (element) => {
  // The observers report sizes before the next paint.
  for (let i = 0; i < 2; ++i) await new Promise((resolve) => requestAnimationFrame(resolve));
  const rect = element.canvas.getBoundingClientRect();
  const stage = element.shadowRoot.querySelector('.stage').getBoundingClientRect();
  const note = element.shadowRoot.querySelector('.scaled');
  return { left: rect.left, top: rect.top, right: rect.right, bottom: rect.bottom, width: rect.width,
    stageWidth: stage.width, stageHeight: stage.height, stageLeft: stage.left, stageTop: stage.top,
    viewWidth: window.innerWidth, viewHeight: window.innerHeight, ratio: window.devicePixelRatio,
    scrollWidth: document.documentElement.scrollWidth, screen: element.screenSize,
    full: document.fullscreenElement === element, note: note.hidden ? '' : note.textContent };
});

// The largest whole k of device pixels per screen pixel that fits the
// stage: inside the viewport, centred, no sideways scrolling; or scaled
// down and marked so where not even 1 fits.
async function checkFit(player, what, emulatedRatio = false) {
  const view = await viewOf(player);
  const { width, height } = view.screen;
  const k = Math.floor(Math.min(Math.floor(view.stageWidth * view.ratio) / width,
    Math.floor(view.stageHeight * view.ratio) / height));
  assert.ok(view.left >= 0 && view.top >= 0 && view.right <= view.viewWidth + 0.01 &&
    view.bottom <= view.viewHeight + 0.01, `${what}: the screen is inside the viewport`);
  assert.ok(view.scrollWidth <= view.viewWidth, `${what}: no sideways scrolling`);
  assert.ok(Math.abs((view.left + view.right) / 2 - (view.stageLeft + view.stageWidth / 2)) <= 1 &&
    Math.abs((view.top + view.bottom) / 2 - (view.stageTop + view.stageHeight / 2)) <= 1, `${what}: centred`);
  const shown = await screenOf(player);
  if (emulatedRatio) {
    // An emulated ratio does not change the device pixels that the browser
    // reports for the canvas: only its CSS size can be measured.
    assert.ok(Math.abs(view.width * view.ratio - k * width) < 0.5, `${what}: CSS width of k x ${width} device pixels`);
    return { k, view, shown: { scaled: true } };
  }
  if (k >= 1) {
    assert.equal(shown.k, k, `${what}: device pixels per screen pixel`);
    assert.ok(Math.abs(view.width * view.ratio - k * width) < 0.5, `${what}: CSS width of k x ${width} device pixels`);
    assert.equal(view.note, '', `${what}: not marked as scaled`);
  } else {
    assert.equal(shown.scaled, true, `${what}: scaled down`);
    assert.match(view.note, /^scaled \d+%$/, `${what}: marked as scaled`);
  }
  return { k, view, shown };
}

// Window sizes where rounding and flooring the multiple differ (1300 wide:
// 1.8), one that needs a re-fit to 2, a large one, one narrower than the
// screen, a change of the device pixel ratio alone (a page zoomed, or moved
// to another monitor), and fullscreen (the whole element, buttons included).
const kFits = [
  [1600, 1200, 'page'], [1300, 1100, 'page'], [2200, 1700, 'page'], [700, 900, 'page'],
  [1300, 1100, 'page', 1.5], [1280, 1024, 'page'], [1600, 1100, 'fullscreen'],
];

await test('the page shows the screen at the largest whole multiple that fits, at every window size',
  async (page) => {
    await page.setViewport({ width: kFits[0][0], height: kFits[0][1], deviceScaleFactor: 1 });
    const player = await openByInput(page, demo);
    await waitPlaying(player);
    await playTo(player, 3);
    await clickButton(player, kPlayButton);
    const { frame } = await stateOf(player);
    for (const [width, height, mode, ratio = 1] of kFits) {
      const what = `${width}x${height} ${mode} at ${ratio}`;
      await page.setViewport({ width, height, deviceScaleFactor: ratio });
      if (mode === 'fullscreen') {
        await clickButton(player, kFullButton);
        await page.waitForFunction(() => document.fullscreenElement !== null, { polling: 20 });
      }
      const { k, view, shown } = await checkFit(player, what, ratio !== 1);
      if (width === 1600 && mode === 'page') assert.equal(k, 2, `${what}: 2x on opening`);
      if (width === 1300) assert.equal(k, ratio === 1 ? 1 : 2, `${what}: not rounded up`);
      if (mode === 'fullscreen') assert.ok(view.full, 'the element with its buttons is fullscreen');
      if (!shown.scaled) sameScreen(shown, rendered(frame, true), what);
    }
    await page.evaluate(() => document.exitFullscreen());
    await page.waitForFunction(() => document.fullscreenElement === null, { polling: 20 });
    await checkFit(player, 'after fullscreen');
  });

// The screen in a screenshot, in device pixels: every screen pixel a k x k
// block of kivtool's colour, measured by ImageMagick.
function checkScreenshot(png, view, k, expected, what) {
  const file = path.join(workDir, 'shot.png');
  fs.writeFileSync(file, png);
  const [shotWidth] = execFileSync('/usr/bin/identify', ['-format', '%w %h', file]).toString().split(' ').map(Number);
  const rgb = execFileSync('/usr/bin/convert', [file, '-depth', '8', 'rgb:-'], { maxBuffer: 1 << 27 });
  // The canvas starts on a whole device pixel next to its CSS position.
  let best = null;
  for (const dy of [-1, 0, 1]) {
    for (const dx of [-1, 0, 1]) {
      const left = Math.round(view.left * view.ratio) + dx;
      const top = Math.round(view.top * view.ratio) + dy;
      let wrong = 0;
      let first = null;
      for (let y = 0; y < expected.height * k; ++y) {
        for (let x = 0; x < expected.width * k; ++x) {
          const at = ((top + y) * shotWidth + left + x) * 3;
          const want = (Math.floor(y / k) * expected.width + Math.floor(x / k)) * 3;
          if (rgb[at] !== expected.rgb[want] || rgb[at + 1] !== expected.rgb[want + 1] ||
              rgb[at + 2] !== expected.rgb[want + 2]) {
            ++wrong;
            first = first || [x, y];
          }
        }
      }
      if (!best || wrong < best.wrong) best = { wrong, first };
    }
  }
  assert.equal(best.wrong, 0, `${what}: ${best.wrong} device pixels off their screen pixel's colour, the first at ${best.first}`);
}

// Device pixel ratios of scaled laptop displays and phones, the window in
// CSS pixels (phones in portrait and landscape): exact where a whole k fits,
// scaled down and marked so where it does not.
const kDisplays = [
  [1.25, 1400, 1100], [2.625, 600, 540], [2.625, 412, 892], [2.625, 892, 412], [3, 844, 390], [1.5, 390, 844],
];
for (const [ratio, width, height] of kDisplays) {
  const on = await launch([`--force-device-scale-factor=${ratio}`, `--window-size=${width},${height}`],
    { defaultViewport: null });
  await test(`exact at a device pixel ratio of ${ratio} in ${width}x${height}`, async (page) => {
    const player = await openByInput(page, demo);
    await waitPlaying(player);
    await playTo(player, 3);
    await clickButton(player, kPlayButton);
    const { frame } = await stateOf(player);
    const what = `ratio ${ratio}, ${width}x${height}`;
    const { k, view, shown } = await checkFit(player, what);
    assert.equal(view.ratio, ratio, `${what}: the browser's ratio`);
    if (k >= 1) {
      sameScreen(shown, rendered(frame, true), what);
      checkScreenshot(await page.screenshot({ type: 'png' }), view, k, rendered(frame, true), what);
    }
  }, pageUrl, on);
  await on.close();
}

// Runs the page on the test's clock until `wanted` holds of the player, a
// tap's own timer included.
async function until(player, wanted, what) {
  const ok = await player.evaluate(async (element, source) => {
    const test = new Function('element', `return ${source};`);
    for (let i = 0; i < 200 && !test(element); ++i) {
      await new Promise((resolve) => setTimeout(resolve, 10));
      element.advance(10);
    }
    return test(element);
  }, wanted);
  assert.ok(ok, what);
}

// Touch gestures on the picture, as a phone sends them: [what, gesture,
// the state it leaves (1 paused, 2 playing), the step taken].
const kGestures = [
  ['a tap pauses', 'tap', 1, 0],
  ['a swipe right steps on', 'right', 1, 1],
  ['a swipe left steps back', 'left', 1, -1],
  ['two fingers are no gesture', 'two', 1, 0],
  ['a tap plays on', 'tap', 2, 0],
  ['a swipe while playing does not pause', 'right', 2, 0],
];

await test('touch: tap, swipe, two fingers, double tap; large buttons and no panning', async (page) => {
  await page.setViewport({ width: 900, height: 700, deviceScaleFactor: 1, hasTouch: true, isMobile: true });
  const player = await openByInput(page, demo);
  await waitPlaying(player);
  await playTo(player, 5);
  const box = await player.evaluate((element) => {
    const rect = element.canvas.getBoundingClientRect();
    return { x: rect.left + rect.width / 2, y: rect.top + rect.height / 2,
      touchAction: getComputedStyle(element.canvas).touchAction,
      buttons: [...element.shadowRoot.querySelectorAll('button')].map((button) => button.getBoundingClientRect().height),
      barBottom: element.shadowRoot.querySelector('.bar').getBoundingClientRect().bottom, top: rect.top };
  });
  assert.equal(box.touchAction, 'none', 'the browser does not pan the picture');
  assert.ok(box.buttons.every((height) => height >= 44), `buttons of ${box.buttons} CSS pixels`);
  assert.ok(box.barBottom <= box.top, 'the buttons do not cover the picture');
  const session = await page.createCDPSession();
  const { x, y } = box;
  let before = await stateOf(player);
  for (const [what, gesture, state, step] of kGestures) {
    if (gesture === 'tap') {
      await page.touchscreen.tap(x, y);
    } else if (gesture === 'two') {
      await session.send('Input.dispatchTouchEvent',
        { type: 'touchStart', touchPoints: [{ x, y }, { x: x + 60, y }] });
      await session.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
    } else {
      await page.touchscreen.touchStart(x, y);
      await page.touchscreen.touchMove(x + (gesture === 'right' ? 40 : -40), y + 2);
      await page.touchscreen.touchMove(x + (gesture === 'right' ? 80 : -80), y + 4);
      await page.touchscreen.touchEnd();
    }
    // Past the wait for a second tap, then until the page is settled.
    await new Promise((resolve) => setTimeout(resolve, 400));
    await until(player, `element.state === ${state} && (element.state !== 1 || element.idle)`, `${what}: state ${state}`);
    const after = await stateOf(player);
    if (state === 1 && before.state === 1) assert.equal(after.frame, before.frame + step, `${what}: frame`);
    if (state === 1) sameScreen(await screenOf(player), rendered(after.frame, true), what);
    before = after;
  }
  await page.touchscreen.tap(x, y);
  await page.touchscreen.tap(x, y);
  await page.waitForFunction(() => document.fullscreenElement === document.querySelector('kiv-player'), { polling: 20 });
  await new Promise((resolve) => setTimeout(resolve, 400));
  assert.equal((await stateOf(player)).state, 2, 'a double tap does not pause');
});

await test('an embedded player shows the screen at one CSS pixel per screen pixel', async (page) => {
  await page.evaluate(() => { document.body.innerHTML = '<p>above</p><kiv-player></kiv-player>'; });
  const player = await openByInput(page, demo);
  await waitPlaying(player);
  const view = await viewOf(player);
  assert.equal(view.width, view.screen.width, 'an embedded player shows the screen at its size');
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
  await page.waitForFunction(() => document.querySelector('kiv-player').state === 2 &&
    !document.querySelector('kiv-player').canvas.hidden, { timeout: 180000, polling: 50 });
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
const kTypes = { '.html': 'text/html', '.js': 'text/javascript', '.png': 'image/png',
  '.webmanifest': 'application/manifest+json' };
async function serveSite(port = 0) {
  const sockets = new Set();
  const requests = [];
  const site = http.createServer((request, response) => {
    requests.push(request.url);
    let pathname = new URL(request.url, 'http://localhost').pathname;
    if (pathname.endsWith('/')) pathname += 'index.html';
    const file = path.join(siteCopy, path.normalize(pathname));
    if (!file.startsWith(siteCopy) || !fs.existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': kTypes[path.extname(file)] || 'application/octet-stream' });
    response.end(fs.readFileSync(file));
  });
  site.on('connection', (socket) => {
    sockets.add(socket);
    socket.on('close', () => sockets.delete(socket));
  });
  await new Promise((resolve) => site.listen(port, '127.0.0.1', resolve));
  return {
    origin: `http://127.0.0.1:${site.address().port}`, port: site.address().port, requests,
    stop: () => new Promise((resolve) => { site.close(resolve); for (const socket of sockets) socket.destroy(); }),
  };
}

// Pauses a player that runs on the browser's clock and waits until it
// sleeps, then compares its screen with kivtool render.
async function pauseAndCompare(player, what) {
  await player.evaluate((element) => element.tap('Escape'));
  await player.evaluate(async (element) => {
    for (let i = 0; i < 500 && !(element.state === 1 && element.idle); ++i) {
      await new Promise((resolve) => setTimeout(resolve, 10));
    }
  });
  const { state, frame } = await stateOf(player);
  assert.equal(state, 1, `${what}: paused`);
  sameScreen(await screenOf(player), rendered(frame, true), `${what}, frame ${frame}`);
}

const cacheNames = (page) => page.evaluate(async () => (await caches.keys()).filter((name) => name !== 'kivplay-shared'));

let site = await serveSite();
await test('the site works offline once visited, takes a shared file, and an update replaces its cache',
  async (page) => {
    await page.waitForFunction(() => navigator.serviceWorker.controller !== null, { polling: 50 });
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
    await page.evaluate(async (base64) => {
      const form = document.createElement('form');
      Object.assign(form, { method: 'POST', action: 'share', enctype: 'multipart/form-data' });
      const input = Object.assign(document.createElement('input'), { type: 'file', name: 'file' });
      const transfer = new DataTransfer();
      transfer.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], 'shared.kiv'));
      input.files = transfer.files;
      form.appendChild(input);
      document.body.appendChild(form);
      form.submit();
    }, fs.readFileSync(demo).toString('base64'));
    await page.waitForFunction(() => location.search === '?shared=1' && document.querySelector('kiv-player') &&
      document.querySelector('kiv-player').state === 2, { polling: 50 });
    assert.match(await page.title(), /^shared\.kiv - /, 'the shared file plays');
    await pauseAndCompare(await page.$('kiv-player'), 'shared file');

    // The site changes: its worker names another cache and drops the old.
    site = await serveSite(site.port);
    fs.appendFileSync(path.join(siteCopy, 'index.html'), '<!-- changed -->\n');
    execFileSync(process.execPath, [path.join(path.dirname(process.argv[1]), '../site/make_site.mjs'),
      path.join(path.dirname(process.argv[1]), '../site/sw.js'), siteCopy]);
    await page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update());
    // Until the new worker has taken over (its activation ends with the clean-up).
    await page.waitForFunction(async (old) => {
      const registration = await navigator.serviceWorker.getRegistration();
      return !registration.installing && !registration.waiting && registration.active.state === 'activated' &&
        (await caches.keys()).some((name) => name.startsWith('kivplay-') && name !== old && name !== 'kivplay-shared');
    }, { polling: 100 }, cached);
    const now = await cacheNames(page);
    assert.ok(now.length === 1 && now[0] !== cached, `one cache, not the old one: ${now}`);
    const index = await page.evaluate(async () => (await (await caches.match('index.html')).text()));
    assert.ok(index.includes('<!-- changed -->'), 'the new cache holds the changed page');
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
  await session.send('PWA.install', { manifestId, installUrlOrBundleUrl: `${site.origin}/` });
  const launchWith = async (files) => {
    const before = new Set(appBrowser.targets());
    await session.send('PWA.launchFilesInApp', { manifestId, files });
    const target = await appBrowser.waitForTarget((t) => !before.has(t) && t.type() === 'page' &&
      t.url().startsWith(site.origin));
    const app = await target.asPage();
    await app.setViewport({ width: 1280, height: 1024, deviceScaleFactor: 1 });
    await app.waitForFunction(() => customElements.get('kiv-player') !== undefined);
    return { app, player: await app.$('kiv-player') };
  };
  const one = await launchWith([demo]);
  await one.app.waitForFunction(() => document.querySelector('kiv-player').state === 2, { polling: 50 });
  await pauseAndCompare(one.player, 'launched with a file');

  const two = await launchWith([demo, second]);
  await two.app.waitForFunction(() => document.querySelector('kiv-player').state === 2, { polling: 50 });
  const list = await two.player.evaluate((element) => {
    const select = element.shadowRoot.querySelector('select');
    return { hidden: select.hidden, names: [...select.options].map((option) => option.textContent), caption: element.caption };
  });
  assert.deepEqual(list, { hidden: false, names: ['demo.kiv', 'second.kiv'], caption: list.caption });
  assert.match(list.caption, /^demo\.kiv/, 'the first file plays');
  await two.player.evaluate((element) => {
    const select = element.shadowRoot.querySelector('select');
    select.selectedIndex = 1;
    select.dispatchEvent(new Event('change'));
  });
  await two.app.waitForFunction(() => document.querySelector('kiv-player').caption.startsWith('second.kiv') &&
    document.querySelector('kiv-player').state === 2, { polling: 50 });
  await pauseAndCompare(two.player, 'the second file from the list');

  const bad = await launchWith([corrupt]);
  await bad.app.waitForFunction(() => document.querySelector('kiv-player').lastMessage !== null, { polling: 50 });
  assert.deepEqual(await bad.player.evaluate((element) => element.lastMessage),
    { caption: 'Fatal error', text: 'Unable to load KIV file or corrupt KIV file' });
}, `${site.origin}/`, appBrowser);
await appBrowser.close();
await site.stop();

await browser.close();
console.log(`browser: ${passes} passed, ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
