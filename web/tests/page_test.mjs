// The page in headless chromium: opened from file://, files opened through
// the file input and by a drop, canvas pixels against `kivtool render`, keys
// and buttons, a corrupt file, two players on one page, and no network
// request for a local file.
//
// node page_test.mjs PAGE_DIR KIVTOOL DEMO_KIV WORK_DIR
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

const [pageDir, kivtool, demo, workDir] = process.argv.slice(2);
if (!workDir) {
  console.error('usage: node page_test.mjs PAGE_DIR KIVTOOL DEMO_KIV WORK_DIR');
  process.exit(2);
}
fs.mkdirSync(workDir, { recursive: true });
const pageUrl = pathToFileURL(path.join(pageDir, 'kivplay.html')).href;

// The screens that kivtool shows for frames A-B, playing or paused, as RGB.
function rendered(frame, paused) {
  const pattern = path.join(workDir, `${paused ? 'paused' : 'playing'}-%d.png`);
  const file = pattern.replace('%d', String(frame));
  if (!fs.existsSync(file)) {
    const args = ['render', demo, '-o', pattern, '--frames', `${frame}-${frame}`, '-q'];
    if (paused) args.push('--paused');
    execFileSync(kivtool, args);
  }
  // ImageMagick gives the picture's colours as plain RGB bytes.
  const size = execFileSync('/usr/bin/identify', ['-format', '%w %h', file]).toString().split(' ').map(Number);
  const rgb = execFileSync('/usr/bin/convert', [file, '-depth', '8', 'rgb:-'], { maxBuffer: 1 << 26 });
  return { width: size[0], height: size[1], rgb };
}

function sameScreen(shown, expected, what) {
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

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  // No background connections: this machine may have no network at all.
  args: ['--no-sandbox', '--allow-file-access-from-files=false', '--disable-gpu', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync', '--disable-quic'],
});
let failures = 0;
let passes = 0;

async function test(name, body, url = pageUrl) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 1024, deviceScaleFactor: 1 });
  const requests = [];
  page.on('request', (request) => requests.push(request.url()));
  const errors = [];
  page.on('pageerror', (error) => errors.push(String(error)));
  if (process.env.KIV_TEST_VERBOSE) page.on('console', (message) => console.log('  console:', message.text()));
  try {
    await page.goto(url);
    await page.waitForFunction(() => customElements.get('kiv-player') !== undefined);
    await body(page, requests);
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
  return { width: shown.width, height: shown.height, data: Array.from(shown.data) };
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
  // Esc pauses on the frame shown; keys step it.
  await page.keyboard.press('Escape');
  await player.evaluate((element) => element.advance(20));
  assert.equal(await player.evaluate((element) => element.state), 1, 'Esc pauses');
  const pausedAt = await player.evaluate((element) => element.frame);
  sameScreen(await screenOf(player), rendered(pausedAt, true), `paused frame ${pausedAt}`);
  await page.keyboard.down('ArrowRight');
  await player.evaluate((element) => element.advance(20));
  await page.keyboard.up('ArrowRight');
  await player.evaluate((element) => element.advance(20));
  assert.equal(await player.evaluate((element) => element.frame), pausedAt + 1, 'Right steps');
  sameScreen(await screenOf(player), rendered(pausedAt + 1, true), `paused frame ${pausedAt + 1}`);
  // The layer button hides the background, and shows it again.
  const withLayer = await screenOf(player);
  const layer = await player.evaluateHandle((element) => element.shadowRoot.querySelectorAll('button')[3]);
  await layer.click();
  await player.evaluate((element) => element.advance(30));
  assert.notDeepEqual((await screenOf(player)).data, withLayer.data, 'the layer button changes the screen');
  await page.keyboard.down('KeyL');
  await player.evaluate((element) => element.advance(20));
  await page.keyboard.up('KeyL');
  await player.evaluate((element) => element.advance(20));
  sameScreen(await screenOf(player), rendered(pausedAt + 1, true), 'L shows the background again');
  // 4 plays on; Esc twice pauses and closes.
  await page.keyboard.press('Digit4');
  await player.evaluate((element) => element.advance(20));
  assert.equal(await player.evaluate((element) => element.state), 2, '4 plays');
  await page.keyboard.press('Escape');
  await player.evaluate((element) => element.advance(20));
  await page.keyboard.press('Escape');
  await player.evaluate((element) => element.advance(20));
  assert.equal(await player.evaluate((element) => element.state), 0, 'Esc when paused closes');
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

// A static server that adds the strict policy a careful site would send;
// the page must play a file of the site given as ?src= under it.
const kPolicy = "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'";
const served = new Map([
  ['/kivplay.html', ['text/html', path.join(pageDir, 'kivplay.html')]],
  ['/kivplay.js', ['text/javascript', path.join(pageDir, 'kivplay.js')]],
  ['/files/demo.kiv', ['application/octet-stream', demo]],
]);
const server = http.createServer((request, response) => {
  const entry = served.get(new URL(request.url, 'http://localhost').pathname);
  if (!entry) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { 'Content-Type': entry[0], 'Content-Security-Policy': kPolicy });
  response.end(fs.readFileSync(entry[1]));
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const origin = `http://127.0.0.1:${server.address().port}`;

await test('served under a strict policy, ?src= plays a file of the site', async (page) => {
  const player = await page.$('kiv-player');
  await player.evaluate(async (element) => { await element.ready; element.useManualClock(); });
  await waitPlaying(player);
  await playTo(player, 12);
  sameScreen(await screenOf(player), rendered(12, false), 'served file, frame 12');
  const style = await player.evaluate((element) => getComputedStyle(element.canvas).imageRendering);
  assert.equal(style, 'pixelated', 'the page styles apply under the policy');
}, `${origin}/kivplay.html?src=files/demo.kiv`);
server.close();

await browser.close();
console.log(`browser: ${passes} passed, ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
