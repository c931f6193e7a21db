// Trusted Types: the page's policy requires them wherever a script's address is given (a worker,
// the service worker). The page loads scripts from its own site only, and this says so once, before
// any other module of the page runs; it sets no HTML anywhere, so nothing else is allowed.
if (window.trustedTypes && window.trustedTypes.createPolicy) {
    window.trustedTypes.createPolicy('default', {
        createScriptURL(url) {
            if (new URL(url, location.href).origin !== location.origin)
                throw new TypeError(`not a script of this site: ${url}`);
            return url;
        },
    });
}
