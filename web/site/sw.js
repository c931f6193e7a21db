// The page's service worker: keeps every file of the site, so that after one visit the page works
// with the network off. The cache's name carries the version and a digest of the files (filled in
// when the site is built); a new version caches its files under its own name and waits: an open
// page goes on with its own version's files until the user asks for the new one (the page's
// 再読み込み button, which sends "activate"); only then does it take over and remove the caches of
// the versions before it, and the pages reload.
const cacheName = 'quillarn-@QUILLARN_CACHE@';
const files = [@QUILLARN_FILES@];

self.addEventListener('install', (event) => {
    // Checked with the server, not taken from the browser's HTTP cache as they are: the files must
    // be this version's. A file the page has just loaded comes back as "not modified".
    const requests = files.map((file) => new Request(file, { cache: 'no-cache' }));
    event.waitUntil(caches.open(cacheName).then((cache) => cache.addAll(requests)));
});

self.addEventListener('message', (event) => {
    if (event.data === 'activate')
        self.skipWaiting();
});

self.addEventListener('activate', (event) => {
    event.waitUntil(caches.keys()
        .then((names) => Promise.all(names
            .filter((name) => name.startsWith('quillarn-') && name !== cacheName)
            .map((name) => caches.delete(name))))
        .then(() => self.clients.claim()));
});

self.addEventListener('fetch', (event) => {
    const request = event.request;
    if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin)
        return;
    // The site's files from the cache (a launch may add a query to the page's address); anything
    // else from the network.
    event.respondWith(caches.open(cacheName)
        .then((cache) => cache.match(request, { ignoreSearch: true }))
        .then((cached) => cached || fetch(request)));
});
