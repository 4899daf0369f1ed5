// The page's memory once a file plays: opens FILE in the page of PAGE_DIR,
// waits until it plays, and prints the module's memory, the JS heap and the
// resident memory of all chromium's processes before the open and after.
//   node memory_bench.mjs PAGE_DIR FILE
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

const [pageDir, file] = process.argv.slice(2);
if (!file) {
  console.error('usage: node memory_bench.mjs PAGE_DIR FILE');
  process.exit(2);
}
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--enable-precise-memory-info', '--js-flags=--expose-gc'],
});
// Resident kilobytes of a process and all its descendants.
function treeRss(pid) {
  const out = execFileSync('ps', ['-eo', 'pid,ppid,rss']).toString().trim().split('\n').slice(1)
    .map((l) => l.trim().split(/\s+/).map(Number));
  const kids = new Map();
  for (const [p, pp] of out) { if (!kids.has(pp)) kids.set(pp, []); kids.get(pp).push(p); }
  const rss = new Map(out.map(([p, , r]) => [p, r]));
  let total = 0; const stack = [pid];
  while (stack.length) { const p = stack.pop(); total += rss.get(p) || 0; for (const k of kids.get(p) || []) stack.push(k); }
  return total;
}
const page = await browser.newPage();
await page.goto(pathToFileURL(path.join(pageDir, 'kivplay.html')).href);
await page.waitForFunction(() => customElements.get('kiv-player') !== undefined);
const player = await page.$('kiv-player');
await player.evaluate(async (e) => { await e.ready; });
const before = treeRss(browser.process().pid);
const input = await player.evaluateHandle((e) => e.shadowRoot.querySelector('input[type=file]'));
const t0 = Date.now();
await input.uploadFile(file);
await page.waitForFunction(() => document.querySelector('kiv-player').state === 2, { timeout: 300000, polling: 50 });
const loadMs = Date.now() - t0;
await new Promise((r) => setTimeout(r, 1000));
await page.evaluate(() => { if (window.gc) window.gc(); });
await new Promise((r) => setTimeout(r, 1000));
const m = await page.evaluate(() => ({
  wasm: document.querySelector('kiv-player')._module.HEAPU8.length,
  js: performance.memory.usedJSHeapSize,
}));
const metrics = await page.metrics();
const after = treeRss(browser.process().pid);
console.log(JSON.stringify({ file: path.basename(file), bytes: fs.statSync(file).size, loadMs,
  wasmHeapMB: +(m.wasm / 1048576).toFixed(1), jsHeapUsedMB: +(m.js / 1048576).toFixed(1),
  chromiumRssBeforeMB: +(before / 1024).toFixed(0), chromiumRssAfterMB: +(after / 1024).toFixed(0) }));
await browser.close();
