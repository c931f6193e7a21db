"""What the browser test and the web benchmark share: the site served on loopback, Debian's
Chromium, headless, driven by Selenium, and the requests it made."""

import functools
import http.server
import json
import os
import shutil
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By


class _SiteFiles(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def end_headers(self):
        # As a static host that asks browsers to check again: the service worker must make the
        # page work offline, not the HTTP cache.
        self.send_header('Cache-Control', 'no-cache')
        super().end_headers()


class Site:
    """The site's folder served on 127.0.0.1 (a secure context, so the service worker runs)."""

    def __init__(self, folder):
        handler = functools.partial(_SiteFiles, directory=folder)
        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        self.url = f'http://127.0.0.1:{self.server.server_port}/'
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        """Cuts the network: nothing answers on the site's address any more."""
        if self.server:
            self.server.shutdown()
            self.server.server_close()
            self.server = None


def chromium(downloads, language='ja', netlog=None, size=(1280, 900)):
    """Debian's Chromium, headless, as root may run it, with a new profile, downloads going to the
    folder downloads, the browser's language set, the console logged and, when netlog names a
    file, every request of the browser written there (when it quits)."""
    profile = tempfile.mkdtemp(prefix='quillarn-chromium-')
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--disable-default-apps', '--disable-client-side-phishing-detection', '--no-pings',
                 '--disable-domain-reliability', '--disable-breakpad', '--metrics-recording-only',
                 '--disable-features=OptimizationHints,Translate,MediaRouter,AutofillServerCommunication',
                 f'--user-data-dir={profile}', f'--window-size={size[0]},{size[1]}', f'--lang={language}']:
        options.add_argument(flag)
    if netlog:
        options.add_argument(f'--log-net-log={netlog}')
    options.add_experimental_option('prefs', {
        'intl.accept_languages': language,
        'download.default_directory': downloads,
        'download.prompt_for_download': False,
    })
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    driver.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': downloads})
    driver.profile = profile
    return driver


def quit(driver):
    driver.quit()
    shutil.rmtree(driver.profile, ignore_errors=True)


def wait(condition, seconds=60, what='the page'):
    """Returns condition()'s first true value, checked every 20 ms for at most seconds."""
    end = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise TimeoutError(f'waited {seconds} s for {what}')
        time.sleep(0.02)


def downloaded(folder, name, seconds=60):
    """The path of the file name once its download into folder is complete."""
    path = os.path.join(folder, name)
    wait(lambda: os.path.exists(path) and not os.path.exists(path + '.crdownload'), seconds, f'the download of {name}')
    return path


def ready(driver):
    """Waits until the page has wired its controls."""
    wait(lambda: driver.execute_script("return document.documentElement.dataset.ready === 'true'"), 30, 'the page to load')


def open_into(driver, input_id, text, seconds=120):
    """Opens text (paths, one a line) with the file input input_id and waits until every record of
    the new list has its outcome: the rows of the list before are marked, so that their outcomes do
    not count for the new list's, which the page draws a little later."""
    driver.execute_script("""document.querySelectorAll('#list [role="option"]').forEach(
        (row) => { row.dataset.before = ''; });""")
    driver.find_element(By.ID, input_id).send_keys(text)
    wait(lambda: driver.execute_script("return !document.querySelector('#list [data-before]')"), seconds,
         'the new list')
    converted(driver, seconds)


def converted(driver, seconds=120):
    """Waits until every record opened has its outcome."""
    wait(lambda: driver.execute_script(
        "return document.body.dataset.converting === 'false'"
        " && !document.querySelector('#list [data-state=\"waiting\"]')"
        " && document.querySelectorAll('#list [role=\"option\"]').length > 0"), seconds, 'the records to convert')


def rows(driver):
    """Every record of the list: {source, state, messages}, its warnings or its reason as lines
    {text, kind, hint}: the converter's reason, its kind, and the hint the page adds for that kind."""
    return driver.execute_script("""
        return [...document.querySelectorAll('#list [role="option"]')].map((row) => ({
            source: row.children[0].textContent,
            state: row.dataset.state,
            messages: [...row.children[2].querySelectorAll('.message')].map((line) => ({
                text: line.firstChild.textContent,
                kind: line.dataset.kind,
                hint: line.querySelector('.hint') ? line.querySelector('.hint').textContent : '',
            })),
        }));""")


def requests_from(netlog, origin):
    """The addresses of every request that the pages, workers and service workers of origin made, from
    Chromium's network log: the browser's own requests (updates, the search engine) name no origin."""
    with open(netlog, encoding='utf-8') as f:
        log = json.load(f)
    start = log['constants']['logEventTypes']['URL_REQUEST_START_JOB']
    return [event['params']['url'] for event in log['events']
            if event['type'] == start and event.get('params', {}).get('initiator') == origin]
