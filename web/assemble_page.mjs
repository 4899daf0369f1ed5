// Writes the page from the compiled player:
//   kivplay.js    the module's glue (the factory KivPlayCore), then the
//                 element, with the module itself in it, gzipped, as base64
//                 and the conversions (their page script, their worker's
//                 script with its module's glue, and the module), gzipped
//                 as one, unzipped only when first used
//   kivplay.html  the page, with the same script inline: it works opened
//                 alone (a file on disk with nothing beside it). Where a
//                 Content-Security-Policy refuses inline scripts, the page
//                 runs kivplay.js from beside it instead.
//
// node assemble_page.mjs CORE_JS CORE_WASM ELEMENT_JS PAGE_HTML OUT_JS OUT_HTML
//                        CONVERT_JS CONVERT_WASM CONVERT_PAGE_JS CONVERT_WORKER_JS
import fs from 'node:fs';
import zlib from 'node:zlib';

const [coreJs, coreWasm, elementJs, pageHtml, outJs, outHtml, convertJs, convertWasm, convertPageJs,
  convertWorkerJs] = process.argv.slice(2);
if (!convertWorkerJs) {
  console.error('usage: node assemble_page.mjs CORE_JS CORE_WASM ELEMENT_JS PAGE_HTML OUT_JS OUT_HTML ' +
                'CONVERT_JS CONVERT_WASM CONVERT_PAGE_JS CONVERT_WORKER_JS');
  process.exit(2);
}

function fill(text, marker, value) {
  const at = text.indexOf(marker);
  if (at < 0 || text.indexOf(marker, at + 1) >= 0) {
    throw new Error(`expected ${marker} exactly once`);
  }
  // A function, so that '$' in the value is taken as it is.
  return text.replace(marker, () => value);
}

// The module gzipped: less than half the text for the browser to read
// before the player can start (it unzips it with DecompressionStream).
// The conversions: each script after its length (4 bytes, little endian),
// then the module.
function counted(text) {
  const bytes = Buffer.from(text, 'utf8');
  const length = Buffer.alloc(4);
  length.writeUInt32LE(bytes.length);
  return [length, bytes];
}
// The conversions' own scripts lose their lines of comment (none of their
// strings has a line that starts with //): the page is smaller by that much.
function withoutCommentLines(file) {
  return fs.readFileSync(file, 'utf8').split('\n').filter((line) => !/^\s*\/\//.test(line)).join('\n');
}
const convertBundle = Buffer.concat([
  ...counted(withoutCommentLines(convertPageJs)),
  ...counted(`${fs.readFileSync(convertJs, 'utf8')}\n${withoutCommentLines(convertWorkerJs)}`),
  fs.readFileSync(convertWasm),
]);
let element = fill(fs.readFileSync(elementJs, 'utf8'), '@KIV_WASM_GZIP_BASE64@',
  zlib.gzipSync(fs.readFileSync(coreWasm), { level: 9 }).toString('base64'));
element = fill(element, '@KIV_CONVERT_GZIP_BASE64@', zlib.gzipSync(convertBundle, { level: 9 }).toString('base64'));
const script = `${fs.readFileSync(coreJs, 'utf8')}\n${element}`;
// Inside <script> the HTML parser ends the element at "</script" and treats
// "<!--" specially; the script must contain neither.
if (/<\/script|<!--/i.test(script)) throw new Error('the script cannot be put inline in the page');
// A page of ASCII alone is decoded and parsed on the browser's fast path.
if (/[^\x00-\x7f]/.test(script)) throw new Error('the script has characters beyond ASCII');
// The page runs whichever copy comes first: the inline one, or kivplay.js
// where a policy refuses inline scripts. A page that loads kivplay.js twice
// also gets one player.
const guarded = `if (!window.customElements.get('kiv-player')) {\n${script}\n}\n`;
fs.writeFileSync(outJs, guarded);
fs.writeFileSync(outHtml, fill(fs.readFileSync(pageHtml, 'utf8'), '/*@KIVPLAY_JS@*/', guarded));
