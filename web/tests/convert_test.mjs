// The page's conversions in headless chromium against kivtool: GIFs (with
// index 127 transparent and over the background) and PNG frames decoded by
// ImageMagick, "Save as..." through the panel to a download, cancelling, a
// list of files with thumbnails and "Save all", videos checked by ffprobe
// and ffmpeg, a KIV made from a GIF, and no network request throughout.
//
// node convert_test.mjs PAGE_DIR KIVTOOL MAKEDEMO WORK_DIR
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

const [pageDir, kivtool, makedemo, workDir] = process.argv.slice(2);
if (!workDir) {
  console.error('usage: node convert_test.mjs PAGE_DIR KIVTOOL MAKEDEMO WORK_DIR');
  process.exit(2);
}
fs.rmSync(workDir, { recursive: true, force: true });
fs.mkdirSync(workDir, { recursive: true });
const pageUrl = pathToFileURL(path.join(pageDir, 'kivplay.html')).href;
const magick = '/usr/bin/convert';
const run = (program, args) => execFileSync(program, args, { maxBuffer: 1 << 30, stdio: ['ignore', 'pipe', 'pipe'] });

// Test files: one with holes (index 127) at 7.5 fps, one of noise at an odd
// rate above 50 fps (frames left out), one large for cancelling.
const files = {
  holes: ['--frames', '12', '--fps', '7.5'],
  odd: ['--width', '320', '--height', '200', '--frames', '25', '--fps', '59.94', '--noise'],
  large: ['--width', '1600', '--height', '1200', '--frames', '60', '--noise'],
};
for (const [name, args] of Object.entries(files)) run(makedemo, [...args, path.join(workDir, `${name}.kiv`)]);
const kiv = (name) => path.join(workDir, `${name}.kiv`);

// Every frame as ImageMagick draws it (coalesced, RGBA), the delays, and the
// screen descriptor with the global colour map.
function decodedGif(file) {
  return {
    rgba: run(magick, [file, '-coalesce', 'rgba:-']),
    delays: run('identify', ['-format', '%T,', file]).toString(),
    head: fs.readFileSync(file).subarray(6, 13 + 768),
  };
}

// A PNG's PLTE and tRNS chunks, and its pixels as ImageMagick reads them.
function decodedPng(file) {
  const bytes = fs.readFileSync(file);
  const chunks = {};
  for (let at = 8; at < bytes.length;) {
    const length = bytes.readUInt32BE(at);
    const type = bytes.toString('latin1', at + 4, at + 8);
    if (type === 'PLTE' || type === 'tRNS') chunks[type] = bytes.subarray(at + 8, at + 8 + length).toString('hex');
    at += 12 + length;
  }
  return { ...chunks, rgba: run(magick, [file, 'rgba:-']) };
}

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--disable-quic'],
});
let failures = 0;
let passes = 0;

async function test(name, body) {
  if (process.env.KIV_TEST_ONLY && !name.includes(process.env.KIV_TEST_ONLY)) return;
  const page = await browser.newPage();
  // Nothing may leave the computer: every request that is not of the page
  // itself (file:, blob:, data:) is refused and counted.
  const remote = [];
  await page.setRequestInterception(true);
  page.on('request', (request) => {
    if (/^(file|blob|data):/.test(request.url())) {
      request.continue();
    } else {
      remote.push(request.url());
      request.abort();
    }
  });
  const errors = [];
  page.on('pageerror', (error) => errors.push(String(error)));
  const downloads = path.join(workDir, 'downloads-' + passes + '-' + failures);
  fs.mkdirSync(downloads);
  const session = await page.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
  try {
    await page.goto(pageUrl);
    await page.waitForFunction(() => customElements.get('kiv-player') !== undefined);
    await body(page, downloads, session);
    assert.deepEqual(errors, [], 'errors in the page');
    assert.deepEqual(remote, [], 'requests that would leave the computer');
    ++passes;
    console.log(`ok - ${name}`);
  } catch (error) {
    ++failures;
    console.log(`not ok - ${name}\n  ${String(error.stack || error).replace(/\n/g, '\n  ')}`);
  } finally {
    await page.close();
  }
}

async function open(page, name) {
  const player = await page.$('kiv-player');
  const input = await player.evaluateHandle((element) => element.shadowRoot.querySelector('input[type=file]'));
  await input.uploadFile(kiv(name));
  await player.evaluate((element) => new Promise((resolve) => {
    if (element.state === 2) resolve();
    else element.addEventListener('kiv-frame', resolve, { once: true });
  }));
  return player;
}

// saveAs() without the download: the bytes made, written to `file`.
async function saved(player, format, file) {
  const made = await player.evaluate(async (element, wanted) => {
    const result = await element.saveAs(wanted, { download: false });
    const bytes = new Uint8Array(await result.blob.arrayBuffer());
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return { name: result.name, base64: btoa(text) };
  }, format);
  fs.writeFileSync(file, Buffer.from(made.base64, 'base64'));
  return made.name;
}

await test('GIFs equal kivtool export\'s: frames, palette, transparency and delays', async (page) => {
  for (const name of ['holes', 'odd']) {
    const player = await open(page, name);
    for (const composite of [false, true]) {
      const suffix = composite ? '-composite' : '';
      const ours = path.join(workDir, `${name}${suffix}.page.gif`);
      const theirs = path.join(workDir, `${name}${suffix}.kivtool.gif`);
      assert.equal(await saved(player, 'gif' + suffix, ours), `${name}.gif`);
      run(kivtool, ['export', '-q', ...(composite ? ['--composite'] : []), kiv(name), '-o', theirs]);
      const a = decodedGif(ours);
      const b = decodedGif(theirs);
      assert.equal(a.delays, b.delays, `${name}${suffix}: delays`);
      assert.ok(a.head.equals(b.head), `${name}${suffix}: screen and colour map`);
      assert.ok(a.rgba.equals(b.rgba), `${name}${suffix}: frames as ImageMagick draws them`);
    }
  }
});

await test('PNG frames in a zip equal kivtool export\'s pictures', async (page) => {
  const player = await open(page, 'holes');
  for (const composite of [false, true]) {
    const suffix = composite ? '-composite' : '';
    const zip = path.join(workDir, `holes${suffix}.zip`);
    assert.equal(await saved(player, 'png' + suffix, zip), 'holes-frames.zip');
    const ours = path.join(workDir, `png${suffix}-page`);
    const theirs = path.join(workDir, `png${suffix}-kivtool`);
    fs.mkdirSync(theirs);
    run('unzip', ['-q', zip, '-d', ours]);
    run(kivtool, ['export', '-q', ...(composite ? ['--composite'] : []), kiv('holes'), '-o', path.join(theirs, 'holes-%04d.png')]);
    const names = fs.readdirSync(theirs).sort();
    assert.equal(names.length, 12);
    assert.deepEqual(fs.readdirSync(ours).sort(), names);
    for (const file of names) {
      assert.deepEqual(decodedPng(path.join(ours, file)), decodedPng(path.join(theirs, file)), file);
    }
  }
});

await test('"Save as..." downloads name.gif; cancelling downloads nothing and the file plays on', async (page, downloads) => {
  const player = await open(page, 'holes');
  const click = (selector) => player.evaluate((element, wanted) => element.shadowRoot.querySelector(wanted).click(), selector);
  await click('button.saveas');
  await page.waitForFunction((element) => element.shadowRoot.querySelector('.convert:not([hidden])'), {}, player);
  await player.evaluate((element) => { element.shadowRoot.querySelector('select.format').value = 'gif'; });
  await click('.convert button.save');
  const saved = path.join(downloads, 'holes.gif');
  await page.waitForFunction((element) => /Saved/.test(element.shadowRoot.querySelector('.convert .status').textContent), {}, player);
  for (let i = 0; i < 500 && !fs.existsSync(saved); ++i) await new Promise((resolve) => setTimeout(resolve, 20));
  const theirs = path.join(workDir, 'holes.kivtool.gif');
  assert.ok(decodedGif(saved).rgba.equals(decodedGif(theirs).rgba), 'the download is the GIF');

  // A large file, cancelled once under way.
  await open(page, 'large');
  await player.evaluate((element) => { element.shadowRoot.querySelector('select.format').value = 'png'; });
  await click('.convert button.save');
  await page.waitForFunction((element) => element.shadowRoot.querySelector('.convert progress').value > 0, {}, player);
  const frameBefore = await player.evaluate((element) => element.frame);
  await click('.convert button.cancel');
  await page.waitForFunction((element) => element.shadowRoot.querySelector('.convert .status').textContent === 'Cancelled', {}, player);
  await page.waitForFunction((element, before) => element.state === 2 && element.frame !== before, {}, player, frameBefore);
  // The worker that was cancelled can send nothing more; a second
  // conversion after it still works.
  const again = await player.evaluate(async (element) => (await element.saveAs('gif', { download: false })).name);
  assert.equal(again, 'large.gif');
  assert.deepEqual(fs.readdirSync(downloads), ['holes.gif'], 'nothing more downloaded');
});

await test('five files, one damaged: thumbnails equal kivtool thumbnail\'s; save all gives four GIFs, then four folders of PNG frames, and names the damaged',
  async (page, downloads) => {
    const names = ['f1', 'f2', 'f3', 'f4', 'f5'];
    const sizes = [['160', '120', '7.5'], ['200', '100', '25'], ['90', '160', '29.97'], ['320', '240', '12.5']];
    sizes.forEach(([width, height, fps], i) => run(makedemo, ['--width', width, '--height', height, '--frames', String(6 + i),
      '--fps', fps, kiv(names[i])]));
    const bytes = fs.readFileSync(kiv('f1'));
    fs.writeFileSync(kiv('f5'), Buffer.concat([bytes.subarray(0, 64), Buffer.alloc(64, 0xff)]));
    const player = await page.$('kiv-player');
    const input = await player.evaluateHandle((element) => element.shadowRoot.querySelector('label.files input'));
    await input.uploadFile(...names.map(kiv));
    const status = (element) => element.shadowRoot.querySelector('.folder .status').textContent;
    await page.waitForFunction((element) => element.shadowRoot.querySelector('.folder .status').textContent
      .startsWith('5 files'), {}, player);
    const listed = await player.evaluate((element) => element._folderPanel.entries.map((entry) => ({
      stem: entry.stem, message: entry.message, count: entry.info && entry.info.count,
      thumbnail: entry.thumbnail && { width: entry.thumbnail.width, height: entry.thumbnail.height,
        rgb: Array.from(entry.thumbnail.rgb) },
    })));
    assert.deepEqual(listed.map((entry) => entry.stem), names);
    assert.deepEqual(listed.map((entry) => entry.count), [6, 7, 8, 9, null]);
    assert.equal(listed[4].message, 'Unable to load KIV file or corrupt KIV file');
    for (const entry of listed.slice(0, 4)) {
      const png = path.join(workDir, `${entry.stem}.thumb.png`);
      run(kivtool, ['thumbnail', '-s', '96', kiv(entry.stem), png]);
      const size = run('identify', ['-format', '%w %h', png]).toString();
      assert.equal(`${entry.thumbnail.width} ${entry.thumbnail.height}`, size, `${entry.stem}: thumbnail size`);
      assert.ok(Buffer.from(entry.thumbnail.rgb).equals(run(magick, [png, 'rgb:-'])), `${entry.stem}: thumbnail`);
    }
    await player.evaluate((element) => element.shadowRoot.querySelector('.folder button.save-gif').click());
    await page.waitForFunction((element) => /^Saved/.test(element.shadowRoot.querySelector('.folder .status').textContent),
      {}, player);
    assert.match(await player.evaluate(status), /left out \(damaged\): f5$/);
    const zip = path.join(downloads, 'animations-gif.zip');
    for (let i = 0; i < 500 && !fs.existsSync(zip); ++i) await new Promise((resolve) => setTimeout(resolve, 20));
    const unzipped = path.join(workDir, 'all-gif');
    run('unzip', ['-q', zip, '-d', unzipped]);
    assert.deepEqual(fs.readdirSync(unzipped).sort(), names.slice(0, 4).map((name) => `${name}.gif`));
    // PNG frames: each file's pictures in a folder of its own, as kivtool
    // export numbers them, the damaged file left out again.
    await player.evaluate((element) => element.shadowRoot.querySelector('.folder button.save-png').click());
    await page.waitForFunction((element) => /^Saved .*-frames\.zip/.test(
      element.shadowRoot.querySelector('.folder .status').textContent), {}, player);
    assert.match(await player.evaluate(status), /left out \(damaged\): f5$/);
    const frames = path.join(downloads, 'animations-frames.zip');
    for (let i = 0; i < 500 && !fs.existsSync(frames); ++i) await new Promise((resolve) => setTimeout(resolve, 20));
    const unzippedFrames = path.join(workDir, 'all-frames');
    run('unzip', ['-q', frames, '-d', unzippedFrames]);
    assert.deepEqual(fs.readdirSync(unzippedFrames).sort(), names.slice(0, 4).map((name) => `${name}-frames`));
    names.slice(0, 4).forEach((name, i) => assert.equal(
      fs.readdirSync(path.join(unzippedFrames, `${name}-frames`)).length, 6 + i, `${name}: pictures`));
    const theirFrame = path.join(workDir, 'f3-kivtool-%04d.png');
    run(kivtool, ['export', '-q', kiv('f3'), '-o', theirFrame]);
    assert.ok(run(magick, [path.join(unzippedFrames, 'f3-frames', 'f3-0007.png'), 'rgba:-']).equals(
      run(magick, [theirFrame.replace('%04d', '0007'), 'rgba:-'])), 'f3-0007.png');
    // A click on a file plays it.
    await player.evaluate((element) => element.shadowRoot.querySelectorAll('.folder li')[1].click());
    await page.waitForFunction((element) => element.state === 2 && element.canvas.width > 1, {}, player);
    assert.equal(await player.evaluate((element) => element._convertSource.name), 'f2.kiv');
    for (const name of names.slice(0, 4)) {
      const theirs = path.join(workDir, `${name}.kivtool.gif`);
      run(kivtool, ['export', '-q', kiv(name), '-o', theirs]);
      assert.ok(decodedGif(path.join(unzipped, `${name}.gif`)).rgba.equals(decodedGif(theirs).rgba), `${name}.gif`);
    }
  });

// Mean absolute difference per channel of two RGB pictures of one size.
function meanError(a, b) {
  assert.equal(a.length, b.length, 'picture sizes');
  let sum = 0;
  for (let i = 0; i < a.length; ++i) sum += Math.abs(a[i] - b[i]);
  return sum / a.length;
}

await test('videos: one frame per animation frame at the stored rate, close to kivtool\'s frames; WebM the same twice',
  async (page) => {
    const player = await open(page, 'holes');
    const reference = path.join(workDir, 'video-ref-%d.png');
    run(kivtool, ['export', '-q', '--composite', kiv('holes'), '-o', reference]);
    for (const container of ['webm', 'mp4']) {
      const first = path.join(workDir, `holes.${container}`);
      const second = path.join(workDir, `holes-again.${container}`);
      assert.equal(await saved(player, container, first), `holes.${container}`);
      // Chromium's H.264 software encoder splits a picture between threads
      // and does not give the same bytes twice; VP9's does.
      if (container === 'webm') {
        await saved(player, container, second);
        assert.ok(fs.readFileSync(first).equals(fs.readFileSync(second)), `${container}: two encodes, the same bytes`);
      }
      const probe = JSON.parse(run('ffprobe', ['-v', 'error', '-count_frames', '-select_streams', 'v:0', '-show_entries',
        'stream=codec_name,width,height,avg_frame_rate,nb_read_frames', '-of', 'json', first]).toString()).streams[0];
      assert.deepEqual([probe.codec_name, probe.width, probe.height, Number(probe.nb_read_frames)],
        [container === 'webm' ? 'vp9' : 'h264', 640, 480, 12], `${container}: ffprobe`);
      const [num, den] = probe.avg_frame_rate.split('/').map(Number);
      assert.ok(Math.abs(num / den - 7.5) < 0.01, `${container}: rate ${probe.avg_frame_rate}`);
      // Lossy: the first and last frames within 4 levels in 255 on average.
      const frames = run('ffmpeg', ['-v', 'error', '-i', first, '-f', 'rawvideo', '-pix_fmt', 'rgb24', '-']);
      const size = 640 * 480 * 3;
      for (const [at, frame] of [[0, 0], [11, 11]]) {
        const error = meanError(frames.subarray(at * size, (at + 1) * size), run(magick, [reference.replace('%d', frame), 'rgb:-']));
        assert.ok(error < 4, `${container}: frame ${frame} differs by ${error.toFixed(2)} on average`);
      }
    }
  });

await test('a KIV made from a GIF is the one kivtool create makes', async (page, downloads) => {
  const gif = path.join(workDir, 'made.gif');
  run(kivtool, ['export', '-q', kiv('holes'), '-o', gif]);
  const theirs = path.join(workDir, 'made.kivtool.kiv');
  run(kivtool, ['create', '-q', gif, '-o', theirs]);
  const player = await page.$('kiv-player');
  const input = await player.evaluateHandle((element) => element.shadowRoot.querySelector('label.files input'));
  await input.uploadFile(gif);
  await page.waitForFunction((element) => element.shadowRoot.querySelector('.create:not([hidden]) button.make'), {}, player);
  await player.evaluate((element) => element.shadowRoot.querySelector('.create button.make').click());
  const ours = path.join(downloads, 'made.kiv');
  await page.waitForFunction((element) => /Saved/.test(element.shadowRoot.querySelector('.create .status').textContent), {}, player);
  for (let i = 0; i < 500 && !fs.existsSync(ours); ++i) await new Promise((resolve) => setTimeout(resolve, 20));
  assert.ok(fs.readFileSync(ours).equals(fs.readFileSync(theirs)), 'the same bytes as kivtool create');
});

await test('a video of the whole screen: the screens kivtool render writes, one per frame', async (page) => {
  const player = await open(page, 'holes');
  const file = path.join(workDir, 'holes-screen.webm');
  assert.equal(await saved(player, 'webm-screen', file), 'holes.webm');
  run(kivtool, ['render', '-q', kiv('holes'), '-o', path.join(workDir, 'screen-%d.png')]);
  const [width, height] = run('identify', ['-format', '%w %h', path.join(workDir, 'screen-0.png')]).toString().split(' ').map(Number);
  const probe = JSON.parse(run('ffprobe', ['-v', 'error', '-count_frames', '-select_streams', 'v:0', '-show_entries',
    'stream=width,height,nb_read_frames', '-of', 'json', file]).toString()).streams[0];
  assert.deepEqual([probe.width, probe.height, Number(probe.nb_read_frames)], [width, height, 12]);
  const frames = run('ffmpeg', ['-v', 'error', '-i', file, '-f', 'rawvideo', '-pix_fmt', 'rgb24', '-']);
  const size = width * height * 3;
  for (const frame of [0, 5, 11]) {
    const error = meanError(frames.subarray(frame * size, (frame + 1) * size),
      run(magick, [path.join(workDir, `screen-${frame}.png`), 'rgb:-']));
    assert.ok(error < 4, `screen ${frame} differs by ${error.toFixed(2)} on average`);
  }
});

await browser.close();
console.log(`conversions: ${passes} passed, ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
