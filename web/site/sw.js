// Keeps the site's files for use without a network: they are cached on
// install under a name made from their content and served from the cache
// first; a site whose files changed has another name, and the caches of
// earlier versions go when it takes over. A file shared to the installed
// app (Android's share sheet) arrives here as a form and is handed to the
// page through a cache of its own.
'use strict';
const kCache = '@KIV_CACHE@';
const kFiles = @KIV_FILES@;
const kShared = 'kivplay-shared';

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(kCache).then((cache) => cache.addAll(kFiles)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((name) => name !== kCache && name !== kShared)
      .map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

async function takeShared(request) {
  const form = await request.formData();
  const files = form.getAll('file').filter((file) => typeof file !== 'string');
  const cache = await caches.open(kShared);
  for (const old of await cache.keys()) await cache.delete(old);
  for (let i = 0; i < files.length; ++i) {
    await cache.put(new Request(new URL(`shared/${i}`, self.registration.scope)),
      new Response(files[i], { headers: { 'X-Kiv-Name': encodeURIComponent(files[i].name) } }));
  }
  return Response.redirect(new URL(`./?shared=${files.length}`, self.registration.scope).href, 303);
}

self.addEventListener('fetch', (event) => {
  const request = event.request;
  const url = new URL(request.url);
  if (url.origin !== self.location.origin) return;
  if (request.method === 'POST' && url.pathname.endsWith('/share')) {
    event.respondWith(takeShared(request));
    return;
  }
  if (request.method !== 'GET') return;
  // ?src= and ?shared= name what to play; the page is the same.
  event.respondWith(caches.open(kCache)
    .then((cache) => cache.match(request, { ignoreSearch: request.mode === 'navigate' }))
    .then((cached) => cached || fetch(request)));
});
