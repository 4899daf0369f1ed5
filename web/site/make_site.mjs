// Writes the site's service worker beside its files: the worker's cache is
// named by a hash of the files' names and bytes, so that any change to the
// site installs a new worker with a cache of its own.
//
// node make_site.mjs SW_TEMPLATE SITE_DIR
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';

const [template, siteDir] = process.argv.slice(2);
if (!siteDir) {
  console.error('usage: node make_site.mjs SW_TEMPLATE SITE_DIR');
  process.exit(2);
}
const files = fs.readdirSync(siteDir).filter((name) => name !== 'sw.js').sort();
const hash = crypto.createHash('sha256');
for (const name of files) {
  hash.update(`${name}\0`);
  hash.update(fs.readFileSync(path.join(siteDir, name)));
}
// The site's root is index.html.
const cached = ['./', ...files];
const worker = fs.readFileSync(template, 'utf8')
  .replace('@KIV_CACHE@', `kivplay-${hash.digest('hex').slice(0, 16)}`)
  .replace('@KIV_FILES@', JSON.stringify(cached));
fs.writeFileSync(path.join(siteDir, 'sw.js'), worker);
