// The browser's CPU share for the page, beside reference pages in the same
// run (bench/web_cpu.sh prepares the files):
//   playing a file        beside  a floor page that puts an 800x600 picture
//                                 on a canvas 25 times a second
//   paused                beside  an idle page
//   time from the page's load to the first picture of a file given as ?src=
//                         (its first frame playing): FIRST, by default ANIMATION
// Each round measures the four pages in turn; the figures are the medians
// over the rounds.
//
// node cpu_bench.mjs PAGE_DIR ANIMATION [SECONDS [ROUNDS [FIRST]]]
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const [pageDir, animation, secondsArg] = process.argv.slice(2);
if (!animation) {
  console.error('usage: node cpu_bench.mjs PAGE_DIR ANIMATION [SECONDS [ROUNDS [FIRST]]]');
  process.exit(2);
}
const seconds = Number(secondsArg || 10);
const rounds = Number(process.argv[5] || 5);
const firstFile = process.argv[6] || animation;
const ticksPerSecond = 100;  // USER_HZ on Linux

const floorPage = `<!DOCTYPE html><canvas width="800" height="600"></canvas><script>
const c = document.querySelector('canvas').getContext('2d');
const picture = new ImageData(800, 600);
let n = 0;
setInterval(() => {
  const d = picture.data;
  for (let i = 0; i < d.length; i += 4) { d[i] = (i >> 2) + n; d[i + 1] = n; d[i + 2] = i >> 10; d[i + 3] = 255; }
  c.putImageData(picture, 0, 0);
  ++n;
}, 40);
</script>`;
const idlePage = '<!DOCTYPE html><p>idle</p>';

const files = new Map([
  ['/kivplay.html', ['text/html', fs.readFileSync(path.join(pageDir, 'kivplay.html'))]],
  ['/kivplay.js', ['text/javascript', fs.readFileSync(path.join(pageDir, 'kivplay.js'))]],
  ['/floor.html', ['text/html', Buffer.from(floorPage)]],
  ['/idle.html', ['text/html', Buffer.from(idlePage)]],
  ['/animation.kiv', ['application/octet-stream', fs.readFileSync(animation)]],
  ['/first.kiv', ['application/octet-stream', fs.readFileSync(firstFile)]],
]);
const server = http.createServer((request, response) => {
  const entry = files.get(new URL(request.url, 'http://localhost').pathname);
  if (!entry) return response.writeHead(404).end();
  // As a static server does: the length up front, not a chunked stream.
  response.writeHead(200, { 'Content-Type': entry[0], 'Content-Length': entry[1].length });
  response.end(entry[1]);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const origin = `http://127.0.0.1:${server.address().port}`;

// CPU ticks of a process and all its descendants.
function treeTicks(rootPid) {
  const stats = new Map();
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const text = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      const fields = text.slice(text.lastIndexOf(')') + 2).split(' ');
      stats.set(Number(entry), { ppid: Number(fields[1]), ticks: Number(fields[11]) + Number(fields[12]) });
    } catch (error) { /* gone */ }
  }
  let total = 0;
  const wanted = new Set([rootPid]);
  let grew = true;
  while (grew) {
    grew = false;
    for (const [pid, stat] of stats) {
      if (!wanted.has(pid) && wanted.has(stat.ppid)) { wanted.add(pid); grew = true; }
    }
  }
  for (const pid of wanted) total += stats.has(pid) ? stats.get(pid).ticks : 0;
  return total;
}

async function share(browser, prepare) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 1024, deviceScaleFactor: 1 });
  await prepare(page);
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const pid = browser.process().pid;
  const before = treeTicks(pid);
  const start = Date.now();
  await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
  const used = (treeTicks(pid) - before) / ticksPerSecond;
  const wall = (Date.now() - start) / 1000;
  await page.close();
  return (100 * used) / wall;  // percent of one core
}

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu'],
});

const playingPage = async (page) => {
  await page.goto(`${origin}/kivplay.html?src=animation.kiv`);
  await page.waitForFunction(() => document.querySelector('kiv-player').state === 2, { timeout: 60000 });
};
const pausedPage = async (page) => {
  await playingPage(page);
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => document.querySelector('kiv-player').state === 1);
};

// The first picture: from the start of navigation to the file's first frame
// drawn while it plays.
async function firstPicture() {
  // As for the CPU shares: the page closed before has gone first.
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const page = await browser.newPage();
  await page.evaluateOnNewDocument(() => {
    window.firstPicture = new Promise((resolve) => {
      document.addEventListener('kiv-frame', (event) => {
        if (event.target.state === 2) resolve(performance.now());
      }, { capture: true });
    });
  });
  await page.goto(`${origin}/kivplay.html?src=first.kiv`);
  const ms = await page.evaluate(() => window.firstPicture);
  await page.close();
  return ms;
}

const results = { floor: [], playing: [], idle: [], paused: [], ratio: [], above: [], first: [] };
for (let round = 0; round < rounds; ++round) {
  const floor = await share(browser, (page) => page.goto(`${origin}/floor.html`));
  const playing = await share(browser, playingPage);
  const idle = await share(browser, (page) => page.goto(`${origin}/idle.html`));
  const paused = await share(browser, pausedPage);
  const first = await firstPicture();
  results.floor.push(floor);
  results.playing.push(playing);
  results.idle.push(idle);
  results.paused.push(paused);
  results.ratio.push(playing / floor);
  results.above.push(paused - idle);
  results.first.push(first);
  console.log(`round ${round + 1}: floor ${floor.toFixed(1)}, playing ${playing.toFixed(1)} ` +
    `(${(playing / floor).toFixed(2)} x), idle ${idle.toFixed(1)}, paused ${paused.toFixed(1)}, ` +
    `first picture ${first.toFixed(0)} ms`);
}
const median = (values) => {
  const sorted = [...values].sort((x, y) => x - y);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

await browser.close();
server.close();
const cores = os.cpus().length;
console.log(`browser CPU, % of one core, medians of ${rounds} rounds of ${seconds} s each (${cores} cores):`);
console.log(`  floor page (800x600 canvas, 25 pictures/s): ${median(results.floor).toFixed(1)}`);
console.log(`  kivplay playing:                            ${median(results.playing).toFixed(1)}  (${median(results.ratio).toFixed(2)} x floor; target <= 1.2)`);
console.log(`  idle page:                                  ${median(results.idle).toFixed(1)}`);
console.log(`  kivplay paused:                             ${median(results.paused).toFixed(1)}  (+${median(results.above).toFixed(1)} over idle; target <= 1)`);
console.log(`first picture after load, ms (median):        ${median(results.first).toFixed(0)}  (target <= 300)`);
