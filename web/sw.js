// The service worker: keeps every file of the page, so that the page, once
// opened from a server, opens again without a network and can be
// installed.  The build fills in the files and a version made from their
// contents, so that a new build replaces the files kept.
'use strict';

const FILES = [@SKYNOTE_PAGE_FILES@];
const CACHE = 'skynote-page-@SKYNOTE_PAGE_VERSION@';

self.addEventListener('install', (event) => {
    event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
    event.waitUntil(caches.keys()
        .then((names) => Promise.all(names.filter((name) => name.startsWith('skynote-page-') && name !== CACHE)
            .map((name) => caches.delete(name))))
        .then(() => self.clients.claim()));
});

// The files kept first, the network only for anything else.
self.addEventListener('fetch', (event) => {
    if (event.request.method !== 'GET')
        return;
    event.respondWith(caches.open(CACHE)
        .then((cache) => cache.match(event.request, { ignoreSearch: true }))
        .then((kept) => kept || fetch(event.request)));
});
