#!/usr/bin/python3
"""The web page's figures (docs/performance.md), measured in Debian's Chromium, headless, against
ugi2sgf built for Release in the same run (bench/web.sh builds both and makes the data):

1. a 10.9 MB record: the page's conversion (from the opened file to the record back in the page,
   read in a worker, converted, copied out) against ugi2sgf -q FILE > /dev/null (the whole
   command), best of several runs each, in both encodings; goal at most 1.5 times;
2. 1,000 typical records in folders: from the folder opened to every outcome in the page, against
   ugi2sgf -q -d OUT IN writing to memory (/dev/shm, where the batch's flushes cost nothing); goal
   at most 2 times;
3. the first load: every byte the server sends, gzip-compressed as static hosts send text and
   WebAssembly, until the service worker holds the whole site; goal at most 200 KB;
4. the page ready (its controls wired) after the start of a local load, first visit (in a browser
   already running) and later visit; goal at most 300 ms.

Exit status 0 when every goal is met, 1 when one is missed.

    bench/web.py --site build-web/site --ugi2sgf build/bench/cli/ugi2sgf --data build/bench/web-data
"""

import argparse
import email.utils
import gzip
import http.server
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'tests', 'web'))
import pagetools  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402

types = {'.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.json': 'application/json',
         '.wasm': 'application/wasm', '.svg': 'image/svg+xml', '.png': 'image/png', '.txt': 'text/plain'}
compressed = {'.html', '.js', '.css', '.json', '.wasm', '.svg', '.txt'}


class Counted(http.server.BaseHTTPRequestHandler):
    """The site as a static host serves it: gzip for text and WebAssembly, Last-Modified and 304 for
    a file asked for again, every byte sent counted."""
    protocol_version = 'HTTP/1.1'

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = self.path.split('?')[0]
        path = os.path.join(self.server.folder, path.lstrip('/') or 'index.html')
        if os.path.isdir(path):
            path = os.path.join(path, 'index.html')
        if not os.path.isfile(path):
            self.reply(404, {}, b'')
            return
        modified = email.utils.formatdate(int(os.path.getmtime(path)), usegmt=True)
        if self.headers.get('If-Modified-Since') == modified:
            self.reply(304, {'Last-Modified': modified}, b'')
            return
        with open(path, 'rb') as f:
            body = f.read()
        extension = os.path.splitext(path)[1]
        headers = {'Content-Type': types.get(extension, 'application/octet-stream'), 'Last-Modified': modified,
                   'Cache-Control': 'no-cache'}
        if extension in compressed and 'gzip' in self.headers.get('Accept-Encoding', ''):
            body = gzip.compress(body, 9)
            headers['Content-Encoding'] = 'gzip'
        self.reply(200, headers, body)

    def reply(self, status, headers, body):
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        self.server.sent += len(body)

    def send_header(self, name, value):
        self.server.sent += len(name) + len(value) + 4
        super().send_header(name, value)


def serve(folder):
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Counted)
    server.folder = folder
    server.sent = 0
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def measure(driver, start, end):
    """Milliseconds between the page's performance marks start and end."""
    return driver.execute_script(
        'const [a, b] = [arguments[0], arguments[1]].map((n) => performance.getEntriesByName(n).at(-1).startTime);'
        ' return b - a;', start, end)


def open_and_time(driver, element, path, start):
    """Opens path and returns the milliseconds from the page's mark start to the last outcome. Waits
    for the preview of the first record, which converts it once more, so that it does not overlap
    the next run."""
    since = driver.execute_script("performance.clearMarks('quillarn-converted');"
                                  " document.getElementById('move-number').textContent = '';"
                                  " return performance.now()")
    driver.find_element(By.ID, element).send_keys(path)
    # Only a conversion that ends after this opening counts: a batch converted again for an option
    # changed just before may end while the browser is still reading the folder.
    pagetools.wait(lambda: driver.execute_script(
        "const [o, c] = [arguments[0], 'quillarn-converted'].map((n) => performance.getEntriesByName(n).at(-1));"
        " return Boolean(o && c && o.startTime >= arguments[1] && c.startTime > o.startTime);", start, since),
                   120, 'the conversion')
    milliseconds = measure(driver, start, 'quillarn-converted')
    pagetools.wait(lambda: driver.find_element(By.ID, 'move-number').text, 120, 'the preview')
    return milliseconds


def browser_reading(driver, path, folder):
    """Milliseconds the browser itself takes to read the file at path, or every file of the folder
    at once, into memory (File.arrayBuffer), best of three: what any page pays before it converts."""
    driver.execute_script("const probe = document.createElement('input'); probe.type = 'file'; probe.id = 'probe';"
                          " probe.hidden = true; probe.webkitdirectory = arguments[0]; document.body.append(probe);", folder)
    driver.find_element(By.ID, 'probe').send_keys(path)
    pagetools.wait(lambda: driver.execute_script("return document.getElementById('probe').files.length"), 60,
                   'the files')
    times = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        const files = [...document.getElementById('probe').files];
        (async () => {
            const times = [];
            for (let run = 0; run < 3; ++run) {
                const start = performance.now();
                await Promise.all(files.map((file) => file.arrayBuffer()));
                times.push(performance.now() - start);
            }
            document.getElementById('probe').remove();
            return times;
        })().then(done);""")
    return min(times)


def native(command, runs, fresh=None):
    """The best and the median wall time of command, in milliseconds; fresh() before each run."""
    times = []
    for _ in range(runs):
        if fresh:
            fresh()
        begin = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        times.append((time.perf_counter() - begin) * 1000)
    return min(times), statistics.median(times)


def verdict(ratio, goal):
    return f'goal <= {goal}: ' + ('met' if ratio <= goal else 'MISSED')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--site', required=True)
    parser.add_argument('--ugi2sgf', required=True)
    parser.add_argument('--data', required=True, help='with record-10.9.ugi and the folder typical/')
    args = parser.parse_args()
    big = os.path.abspath(os.path.join(args.data, 'record-10.9.ugi'))
    typical = os.path.abspath(os.path.join(args.data, 'typical'))
    figures = []
    missed = False

    server = serve(args.site)
    url = f'http://127.0.0.1:{server.server_address[1]}/'
    downloads = tempfile.mkdtemp(prefix='quillarn-bench-')
    driver = pagetools.chromium(downloads, 'ja')
    try:
        # 3 and 4: the first visit, then a later one served by the service worker. A text file of
        # the site first, which starts the browser's processes (its own start is not the page's)
        # and registers no service worker.
        driver.get(url + 'licences.txt')
        server.sent = 0
        driver.get(url)
        pagetools.ready(driver)
        first_ready = driver.execute_script("return performance.getEntriesByName('quillarn-ready')[0].startTime")
        pagetools.wait(lambda: driver.execute_script('return navigator.serviceWorker.controller !== null'), 30,
                       'the service worker')
        quiet = server.sent
        while True:  # until the workers have loaded the converter too
            time.sleep(1)
            if server.sent == quiet:
                break
            quiet = server.sent
        transferred = server.sent / 1000
        driver.refresh()
        pagetools.ready(driver)
        later_ready = driver.execute_script("return performance.getEntriesByName('quillarn-ready')[0].startTime")
        print(f'first visit: {transferred:.1f} kB sent (gzip), ready after {first_ready:.0f} ms;'
              f' later visit ready after {later_ready:.0f} ms', flush=True)
        figures.append(f'3. first load: {transferred:.1f} kB ({verdict(transferred, 200)})')
        figures.append(f'4. page ready: {first_ready:.0f} ms first visit, {later_ready:.0f} ms later'
                       f' ({verdict(first_ready, 300)})')
        missed |= transferred > 200 or first_ready > 300

        # 1. The large record, in each encoding: the first conversion (the worker's memory grows to
        # the record) and the best of the next ones.
        for encoding in ['utf-8', 'cp932']:
            Select(driver.find_element(By.ID, 'encoding')).select_by_value(encoding)
            pagetools.wait(lambda: driver.execute_script("return document.body.dataset.converting !== 'true'"))
            runs = [open_and_time(driver, 'files', big, 'quillarn-open') for _ in range(8)]
            page = min(runs)
            best, median = native([args.ugi2sgf, '-q', '--encoding', encoding, big], 15)
            ratio = page / best
            print(f'10.9 MB record ({encoding}): page {page:.1f} ms (first {runs[0]:.1f}, median'
                  f' {statistics.median(runs):.1f}); ugi2sgf {best:.1f} ms (median {median:.1f});'
                  f' the browser reads the file in {browser_reading(driver, big, False):.1f} ms', flush=True)
            figures.append(f'1. 10.9 MB record, {encoding}: {ratio:.2f} x ugi2sgf ({verdict(ratio, 1.5)})')
            missed |= ratio > 1.5
        Select(driver.find_element(By.ID, 'encoding')).select_by_value('utf-8')
        pagetools.wait(lambda: driver.execute_script("return document.body.dataset.converting !== 'true'"))

        # 2. 1,000 typical records, opened as a folder.
        runs = [open_and_time(driver, 'folder', typical, 'quillarn-open') for _ in range(5)]
        page = min(runs)
        out = tempfile.mkdtemp(prefix='quillarn-bench-', dir='/dev/shm' if os.path.isdir('/dev/shm') else None)
        target = os.path.join(out, 'sgf')
        best, median = native([args.ugi2sgf, '-q', '-d', target, typical], 7,
                              lambda: shutil.rmtree(target, ignore_errors=True))
        shutil.rmtree(out, ignore_errors=True)
        ratio = page / best
        print(f'1,000 records: page {page:.0f} ms (median {statistics.median(runs):.0f});'
              f' ugi2sgf -d to memory {best:.0f} ms (median {median:.0f}); the browser reads the files in'
              f' {browser_reading(driver, typical, True):.0f} ms', flush=True)
        figures.append(f'2. 1,000 records: {ratio:.2f} x a native batch without flushing ({verdict(ratio, 2)})')
        missed |= ratio > 2
    finally:
        pagetools.quit(driver)
        server.shutdown()
        shutil.rmtree(downloads, ignore_errors=True)
    print('\n== figures')
    print('\n'.join(sorted(figures)))
    return 1 if missed else 0


if __name__ == '__main__':
    sys.exit(main())
