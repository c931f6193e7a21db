#!/usr/bin/python3
"""The web page in a real browser: one session of Debian's Chromium, headless, on the site that
web/build.sh built, against ugi2sgf built in the same run.

- Every record of tests/data and examples and 1,000 generated ones, opened as a folder: the list
  holds each in the batch's order with ugi2sgf's outcome, warnings and reasons (the converter's part
  of them: each front end adds its own hint, the page one that names its own control), and the zip of
  "Save all" holds exactly the files of ugi2sgf -d, byte for byte, in both encodings; with --strict
  and the source read as code page 932 the outcomes are ugi2sgf's too, and so they are for the
  folder and a file dropped on the page.
- A source over 2 GiB and a folder without records fail with ugi2sgf's reasons.
- Names that no system should unpack as they stand give zip entries that unzip writes below its
  folder, each record whole, and names are shown escaped as ugi2sgf shows them.
- One record saved alone downloads NAME.sgf with ugi2sgf's bytes; saving into a folder asks before
  it replaces a file.
- The preview's stones are the core's replay (quillarn_webcheck board) for handicap, capture and
  refused moves, at several moves.
- The whole flow from the keyboard; axe-core finds no violation; the manifest parses with its
  file_handlers; after one visit the page reloads and converts with the server stopped; English
  for an English browser; no console error under its CSP; no request leaves the page's origin
  (Chromium's network log, which has the requests of the workers and the service worker too).

    browser_test.py --site build-web/site --ugi2sgf build/test/cli/ugi2sgf \\
        --webcheck build/test/tests/quillarn_webcheck --axe build-web/npm/node_modules/axe-core/axe.min.js
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pagetools  # noqa: E402
from recordchecks import check_folder, check_hints, check_limits, check_zip_names, open_files, source_folder  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

# A game in which Black captures a white stone and White then plays into the hole.
captures_record = (b'[Header]\r\nTitle=Capture\r\nCopyright=x\r\nWinner=B,C\r\nPlayerB=Kuro,3d,\r\n'
                   b'PlayerW=Shiro,2d,\r\nPlace=Hall\r\nDate=2000/10/24,\r\nSize=19\r\nHdcp=0,6.5\r\n[Data]\r\n'
                   b'CD,B1,0,0\r\nDD,W2,0,0\r\nED,B3,0,0\r\nPP,W4,0,0\r\nDC,B5,0,0\r\nPQ,W6,0,0\r\n'
                   b'DE,B7,0,0\r\nQQ,W8,0,0\r\nDD,B9,0,0\r\n')


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = []
        self.start = time.monotonic()

    def check(self, name, ok, detail=''):
        seconds = f'{time.monotonic() - self.start:5.1f} s'
        if ok:
            self.passed += 1
            print(f'ok    {seconds}  {name}', flush=True)
        else:
            self.failed.append(name)
            print(f'FAIL  {seconds}  {name}\n      {detail}', flush=True)


def select(driver, name):
    """Clicks the record called name in the list, once the list shows it (a list just opened may
    still be on its way)."""
    row = pagetools.wait(lambda: driver.execute_script("""
        return [...document.querySelectorAll('#list [role="option"]')].find(
            (row) => row.children[0].textContent === arguments[0]);""", name), 20, f'the row of {name}')
    row.click()


def shown_move(driver):
    text = driver.find_element(By.ID, 'move-number').text
    return int(text.split('/')[0]) if '/' in text else None


def board_on_page(driver, size):
    stones = driver.execute_script("""
        return [...document.querySelectorAll('#board [data-colour]')].map(
            (c) => [Number(c.dataset.x), Number(c.dataset.y), c.dataset.colour]);""")
    rows = [['.'] * size for _ in range(size)]
    for x, y, colour in stones:
        rows[y][x] = 'X' if colour == 'b' else 'O'
    return [''.join(row) for row in rows]


def check_preview(checks, driver, args, files):
    """The preview's stones against the core's replay."""
    open_files(driver, files)
    for path in files:
        name = os.path.basename(path)
        select(driver, name)
        pagetools.wait(lambda: driver.find_element(By.ID, 'preview-body').is_displayed()
                       and driver.find_element(By.ID, 'move').get_attribute('max') != '0', 20, 'the preview')
        total = int(driver.find_element(By.ID, 'move').get_attribute('max'))
        pagetools.wait(lambda: shown_move(driver) == total, 20, 'the last move')
        moves = sorted({0, 1, 2, total // 2, total - 1, total} - {-1})
        native = subprocess.run([args.webcheck, 'board', path, *map(str, moves)], capture_output=True, check=True)
        lines = native.stdout.decode().split('\n')
        size, count = map(int, lines[0].split())
        same = count == total
        for i, move in enumerate(moves):
            driver.execute_script("const m = document.getElementById('move'); m.value = arguments[0];"
                                  " m.dispatchEvent(new Event('input'));", move)
            pagetools.wait(lambda: shown_move(driver) == move, 20, f'move {move}')
            expected = lines[1 + i * size:1 + (i + 1) * size]
            same = same and board_on_page(driver, size) == expected
        checks.check(f'the preview of {name} is the core\'s replay after moves {moves}', same)


def check_viewer(checks, driver, work, downloads):
    """The board as a player reads it: star points and coordinates on 9, 13 and 19 lines, the result
    in words, the place, and the last move's point in the board's name for a screen reader."""
    with open(os.path.join(source_folder, 'tests', 'data', 'basic-game.ugi'), 'rb') as f:
        basic = f.read()
    paths = []
    for size in [9, 13, 19]:
        path = os.path.join(work, f'size{size}.ugi')
        with open(path, 'wb') as f:
            f.write(basic.replace(b'Size=19', b'Size=%d' % size).replace(b'QD,B1', b'CC,B1').replace(b'DP,W2', b'DD,W2'))
        paths.append(path)
    open_files(driver, paths)
    seen = {}
    for size, path in zip([9, 13, 19], paths):
        select(driver, os.path.basename(path))
        pagetools.wait(lambda: shown_move(driver) == 2, 20, 'the preview')
        seen[size] = driver.execute_script("""
            const board = document.getElementById('board');
            const facts = [...document.querySelectorAll('#preview-facts dd')].map((d) => d.textContent);
            return [board.querySelectorAll('.stars circle').length,
                    [...board.querySelectorAll('.coordinates text')].map((t) => t.textContent).slice(0, 4 * 2),
                    facts, board.getAttribute('aria-label')];""")
    # On demand, the number of the move that put each stone there (the last board shown: 9 lines).
    select(driver, os.path.basename(paths[0]))
    pagetools.wait(lambda: shown_move(driver) == 2, 20, 'the preview')
    driver.find_element(By.ID, 'numbers').click()
    numbered = driver.execute_script("""
        return [...document.querySelectorAll('#board .number')].map((t) => [t.dataset.x, t.dataset.y, t.textContent]);""")
    driver.find_element(By.ID, 'numbers').click()
    # The coordinates of Japanese books, on demand: 1 to 9 from the left, 一 to 九 from the top.
    driver.find_element(By.ID, 'book-coordinates').click()
    book = driver.execute_script("""
        const board = document.getElementById('board');
        return [[...board.querySelectorAll('.coordinates text')].map((t) => t.textContent).slice(0, 8),
                board.getAttribute('aria-label')];""")
    driver.find_element(By.ID, 'book-coordinates').click()
    # The board as an image: a PNG of 1,000 pixels a side, named after the record and the move.
    folder = tempfile.mkdtemp(dir=downloads)
    driver.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': folder})
    driver.find_element(By.ID, 'save-image').click()
    with open(pagetools.downloaded(folder, 'Match-2.png'), 'rb') as f:
        png = f.read()
    checks.check('the board saved as a PNG image', png[:8] == b'\x89PNG\r\n\x1a\n'
                 and int.from_bytes(png[16:20], 'big') == 1000 and len(png) > 20000, f'{len(png)} bytes')
    checks.check('move numbers on demand', sorted(numbered) == [['2', '2', '1'], ['3', '3', '2']], str(numbered))
    checks.check('the coordinates of Japanese books on demand, the last move named so',
                 book[0] == ['1', '1', '一', '一', '2', '2', '二', '二'] and '4の四' in book[1], str(book))
    stars = {size: seen[size][0] for size in seen}
    checks.check('star points: five on 9 and 13 lines, nine on 19', stars == {9: 5, 13: 5, 19: 9}, str(stars))
    labels = seen[19][1]
    checks.check('coordinates A to T without I, 19 at the top', labels[:4] == ['A', 'A', '19', '19']
                 and seen[19][1][4:8] == ['B', 'B', '18', '18'], str(labels))
    facts = seen[9][2]
    checks.check('the result in words and the place', '黒中押し勝ち' in facts and 'Hall' in facts, str(facts))
    checks.check("the board's name tells the last move's point", seen[9][3].endswith('、白 D6）'), seen[9][3])


def check_cancel(checks, driver, archive):
    """中止 pressed as soon as a folder starts converting: the conversion stops, and the status says
    how many were converted and how many were not, as each row does."""
    driver.execute_script("""
        const cancel = document.getElementById('cancel');
        const observer = new MutationObserver(() => {
            if (!cancel.hidden) {
                observer.disconnect();
                cancel.click();
            }
        });
        observer.observe(cancel, { attributes: true });""")
    driver.find_element(By.ID, 'folder').send_keys(archive)
    pagetools.wait(lambda: driver.find_element(By.ID, 'status').text.startswith('中止'), 30, 'the conversion stopped')
    status = driver.find_element(By.ID, 'status').text
    states = [row['state'] for row in pagetools.rows(driver)]
    converted, stopped = states.count('converted'), states.count('stopped')
    checks.check('中止 stops a conversion and says how many were converted and how many were not',
                 stopped > 0 and 'waiting' not in states and status == f'中止しました。変換 {converted} 件、未変換 {stopped} 件'
                 and not driver.find_element(By.ID, 'cancel').is_displayed(), f'{status!r}, {len(states)} rows')


def check_layout(checks, driver):
    """A phone (320 and 375 px wide) and a laptop (1366×768): nothing to scroll sideways, the board at
    least 90 % of a phone's width, and on the laptop larger than it was (240 px) with the steps below
    it in sight. The selected record's preview is shown."""
    seen = {}
    try:
        for width, height in [(320, 640), (375, 740), (1366, 768)]:
            driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
                'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < 500})
            time.sleep(0.3)
            seen[width] = driver.execute_script("""
                const board = document.getElementById('board').getBoundingClientRect();
                const steps = document.querySelector('.stepper').getBoundingClientRect();
                return [document.documentElement.scrollWidth, Math.round(board.width),
                        Math.round(steps.bottom - board.top)];""")
    finally:
        driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})
    phones = all(seen[w][0] <= w and seen[w][1] >= 0.9 * w for w in (320, 375))
    laptop = seen[1366][0] <= 1366 and seen[1366][1] >= 350 and seen[1366][2] <= 768 - 331 + 40
    checks.check('on a phone and a laptop: no sideways scrolling, the board as large as the pane allows',
                 phones and laptop, str(seen))


def tab_order(driver, count):
    """The ids of the elements Tab reaches, count times from the top of the page."""
    driver.execute_script('document.activeElement.blur(); window.scrollTo(0, 0);')
    driver.find_element(By.TAG_NAME, 'h1').click()
    reached = []
    for _ in range(count):
        ActionChains(driver).send_keys(Keys.TAB).perform()
        reached.append(driver.execute_script('return document.activeElement.id'))
    return reached


def press(driver, *keys):
    ActionChains(driver).send_keys(*keys).perform()


def focus_by_tab(driver, element_id, backwards=False):
    for _ in range(30):
        if driver.execute_script('return document.activeElement.id') == element_id:
            return True
        press(driver, (Keys.SHIFT + Keys.TAB) if backwards else Keys.TAB)
    return False


def check_keyboard(checks, driver, downloads, expected_save):
    """Everything from the keyboard: the controls in order, choosing a record, stepping through its
    moves, saving it, the version box."""
    reached = tab_order(driver, 18)
    wanted = ['open', 'open-folder', 'save', 'save-all', 'save-folder', 'encoding', 'source-encoding', 'strict',
              'list', 'board', 'first', 'previous', 'move', 'next', 'last']
    in_order = [r for r in reached if r in wanted]
    checks.check('Tab reaches every control in order', in_order[:len(wanted)] == wanted, f'reached {reached}')
    focus_by_tab(driver, 'list', backwards=True)
    press(driver, Keys.HOME)
    first = driver.execute_script("return document.querySelector('[aria-selected=\"true\"]').textContent")
    press(driver, Keys.ARROW_DOWN)
    selected = driver.execute_script("return document.getElementById('list').getAttribute('aria-activedescendant')")
    checks.check('the arrow keys choose a record', selected == 'record-1' and first, selected)
    pagetools.wait(lambda: shown_move(driver) is not None and shown_move(driver) > 0, 20, 'the preview')
    focus_by_tab(driver, 'board')
    press(driver, Keys.HOME)
    at_start = pagetools.wait(lambda: shown_move(driver) == 0, 10, 'move 0')
    press(driver, Keys.ARROW_RIGHT, Keys.ARROW_RIGHT)
    at_two = pagetools.wait(lambda: shown_move(driver) == 2, 10, 'move 2')
    focus_by_tab(driver, 'move')
    press(driver, Keys.ARROW_LEFT)
    at_one = pagetools.wait(lambda: shown_move(driver) == 1, 10, 'move 1')
    checks.check('the arrow keys step through the moves, on the board and on the slider', at_start and at_two and at_one)
    folder = tempfile.mkdtemp(dir=downloads)
    driver.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': folder})
    focus_by_tab(driver, 'save', backwards=True)
    press(driver, Keys.ENTER)
    name, data = expected_save
    with open(pagetools.downloaded(folder, name), 'rb') as f:
        saved = f.read()
    checks.check(f'Enter on Save downloads {name} with ugi2sgf\'s bytes', saved == data, f'{len(saved)} bytes')
    focus_by_tab(driver, 'about', backwards=True)
    press(driver, Keys.ENTER)
    opened = driver.execute_script("return document.getElementById('about-dialog').open")
    press(driver, Keys.ESCAPE)
    closed = not driver.execute_script("return document.getElementById('about-dialog').open")
    checks.check('the version box opens with Enter and closes with Escape', opened and closed)


def check_folder_saving(checks, driver, expected):
    """Saving into a folder (the origin's private folder standing in for the one the user picks):
    a file that is there is replaced only when the user says so."""
    driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        (async () => {
            const root = await navigator.storage.getDirectory();
            await root.removeEntry('out', { recursive: true }).catch(() => {});
            const out = await root.getDirectoryHandle('out', { create: true });
            const w = await (await out.getFileHandle(arguments[0], { create: true })).createWritable();
            await w.write('there before'); await w.close();
            window.showDirectoryPicker = async () => out;
        })().then(done);""", 'kisei.sgf')
    contents = """
        const done = arguments[arguments.length - 1];
        (async () => {
            const out = await (await navigator.storage.getDirectory()).getDirectoryHandle('out');
            const files = {};
            for await (const [name, handle] of out.entries())
                files[name] = Array.from(new Uint8Array(await (await handle.getFile()).arrayBuffer()));
            return files;
        })().then(done);"""
    outcomes = []
    for answer in ['keep', 'replace']:
        before = driver.find_element(By.ID, 'status').text
        driver.find_element(By.ID, 'save-folder').click()
        pagetools.wait(lambda: driver.execute_script("return document.getElementById('replace-dialog').open"), 20,
                       'the question')
        question = driver.find_element(By.ID, 'replace-question').text
        if answer == 'replace':  # every file is there now
            driver.find_element(By.ID, 'replace-all').click()
        driver.find_element(By.CSS_SELECTOR, f'#replace-dialog button[value="{answer}"]').click()
        pagetools.wait(lambda: driver.find_element(By.ID, 'status').text != before, 20, 'the save')
        files = {name: bytes(data) for name, data in driver.execute_async_script(contents).items()}
        outcomes.append((question, files))
    kept, replaced = outcomes
    others = {k: v for k, v in expected.items() if k != 'kisei.sgf'}
    checks.check('saving into a folder asks before replacing a file, and keeps it when told to',
                 'kisei.sgf' in kept[0] and kept[1].get('kisei.sgf') == b'there before'
                 and {k: v for k, v in kept[1].items() if k != 'kisei.sgf'} == others, kept[0])
    checks.check('and replaces it when told to', replaced[1] == expected, sorted(replaced[1]))


def check_axe(checks, driver, axe):
    with open(axe, encoding='utf-8') as f:
        driver.execute_script(f.read() + '\nreturn true;')
    violations = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        axe.run(document, { resultTypes: ['violations'] }).then(
            (r) => done(r.violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`)),
            (e) => done([String(e)]));""")
    checks.check('axe-core finds no violation', violations == [], '; '.join(violations))


def check_manifest(checks, driver):
    """Chromium's parser reports what it ignores (a file handler outside the scope, say) as errors."""
    manifest = driver.execute_cdp_cmd('Page.getAppManifest', {})
    handlers = json.loads(manifest.get('data') or '{}').get('file_handlers', [])
    parsed = json.loads(manifest.get('data') or '{}')
    maskable = [i['src'] for i in parsed.get('icons', []) if i.get('purpose') == 'maskable']
    shots = {shot.get('form_factor') for shot in parsed.get('screenshots', [])}
    checks.check('the manifest parses without an error, with a file handler for .ugi, a maskable icon and '
                 'screenshots for the install dialog',
                 manifest.get('errors') == [] and manifest['manifest'].get('startUrl') == manifest['parsed']['scope']
                 and {'application/x-go-ugi': ['.ugi']} in [h.get('accept') for h in handlers]
                 and maskable and shots == {'wide', 'narrow'},
                 f"errors {manifest.get('errors')}, file handlers {handlers}, maskable {maskable}, screenshots {shots}")


def check_update(checks, site_folder, work, downloads):
    """Version N+1 deployed over an open page of version N: nothing of N+1 runs (not its texts, not
    its worker) until the page's 再読み込み button is pressed; then the page reloads as N+1."""
    folder = os.path.join(work, 'update-site')
    shutil.copytree(site_folder, folder)
    site = pagetools.Site(folder)
    driver = pagetools.chromium(downloads, 'ja')
    try:
        driver.get(site.url)
        pagetools.ready(driver)
        pagetools.wait(lambda: driver.execute_script('return navigator.serviceWorker.controller !== null'), 30,
                       'the service worker')
        def tagline():
            try:
                return driver.find_element(By.CSS_SELECTOR, '[data-text="tagline"]').text
            except Exception:  # the page is reloading
                return ''
        for name, old, new in [('sw.js', "const cacheName = 'quillarn-", "const cacheName = 'quillarn-next-"),
                               ('texts.js', 'どこにも送られません。', 'どこにも送られません。（新）')]:
            path = os.path.join(folder, name)
            with open(path, encoding='utf-8') as f:
                content = f.read()
            with open(path, 'w', encoding='utf-8') as f:
                f.write(content.replace(old, new, 1))
        driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            navigator.serviceWorker.getRegistration().then((r) => r.update()).then(() => done(), () => done());""")
        pagetools.wait(lambda: driver.find_element(By.ID, 'update').is_displayed(), 30, 'the notice of a new version')
        texts = driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            fetch('texts.js').then((r) => r.text()).then(done, () => done(''));""")
        waiting = driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            navigator.serviceWorker.getRegistration().then((r) => done(Boolean(r.waiting)));""")
        checks.check('a new version waits: the open page keeps its own files and says 新しい版があります',
                     waiting and '（新）' not in texts and '（新）' not in tagline()
                     and driver.find_element(By.ID, 'update').text.startswith('新しい版があります'),
                     f'waiting {waiting}, new texts served {"（新）" in texts}')
        driver.find_element(By.ID, 'update-reload').click()
        pagetools.wait(lambda: '（新）' in tagline(), 30, 'the new version')
        checks.check('再読み込み activates the new version and reloads the page',
                     not driver.find_element(By.ID, 'update').is_displayed())
    except Exception as error:  # a wait that timed out is this check's failure
        checks.check('the update of an open page', False, str(error).split('\n')[0])
    finally:
        pagetools.quit(driver)
        site.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--site', required=True)
    parser.add_argument('--ugi2sgf', required=True)
    parser.add_argument('--webcheck', required=True)
    parser.add_argument('--axe', required=True)
    parser.add_argument('--screenshots', help='a folder for pictures of the page')
    args = parser.parse_args()
    args.ugi2sgf = os.path.abspath(args.ugi2sgf)
    checks = Checks()
    # In memory where there is such a file system: ugi2sgf's batch flushes what it writes, which
    # costs seconds on a busy disk.
    memory = '/dev/shm' if os.access('/dev/shm', os.W_OK) else None
    work = tempfile.mkdtemp(prefix='quillarn-browser-', dir=memory)
    downloads = os.path.join(work, 'downloads')
    os.mkdir(downloads)

    # The records: tests/data, examples, a game with a capture, 1,000 generated ones, and two
    # records whose names differ only in letter case, which give the same output.
    archive = os.path.join(work, 'archive')
    subprocess.run([args.webcheck, 'records', archive, '1000', '23'], check=True)
    data = os.path.join(source_folder, 'tests', 'data')
    shutil.copytree(data, os.path.join(archive, 'data'), ignore=shutil.ignore_patterns('*.sgf', '*.warn', '*.fail'))
    shutil.copy(os.path.join(source_folder, 'examples', 'kisei.ugi'), archive)
    with open(os.path.join(archive, 'data', 'capture.ugi'), 'wb') as f:
        f.write(captures_record)
    shutil.copy(os.path.join(data, 'basic-game.ugi'), os.path.join(archive, 'data', 'twice.ugi'))
    shutil.copy(os.path.join(data, 'illegal-moves.ugi'), os.path.join(archive, 'data', 'twice.UGI'))
    with open(os.path.join(archive, 'notes.txt'), 'w') as f:
        f.write('not a record\n')

    check_update(checks, args.site, work, downloads)
    site = pagetools.Site(args.site)
    site_url = site.url
    origin = site.url.rstrip('/')
    netlog = os.path.join(work, 'netlog.json')
    driver = pagetools.chromium(downloads, 'ja', netlog)
    try:
        driver.get(site.url)
        pagetools.ready(driver)
        checks.check('the page is in Japanese for a Japanese browser',
                     driver.find_element(By.ID, 'open').text == '開く'
                     and driver.find_element(By.ID, 'encoding').accessible_name == '文字コード'
                     and driver.find_element(By.ID, 'save-all').text == 'すべて保存')
        check_manifest(checks, driver)
        check_folder(checks, driver, args, archive, work, downloads)
        check_limits(checks, driver, args, work)
        check_hints(checks, driver, args, work)
        check_zip_names(checks, driver, args, work, downloads)
        if args.screenshots:
            select(driver, 'archive/data/capture.ugi')
            pagetools.wait(lambda: shown_move(driver) == 9, 20, 'the preview')
            driver.save_screenshot(os.path.join(args.screenshots, 'web-ja.png'))

        previewed = [os.path.join(archive, 'data', n) for n in ['handicap-stones.ugi', 'capture.ugi', 'illegal-moves.ugi']]
        previewed.append(os.path.join(archive, 'kisei.ugi'))
        check_preview(checks, driver, args, previewed)
        check_axe(checks, driver, args.axe)
        second = previewed[1]
        single = subprocess.run([args.ugi2sgf, '-q', second], capture_output=True).stdout
        check_keyboard(checks, driver, downloads, ('capture.sgf', single))
        expected = {os.path.basename(p)[:-4] + '.sgf': subprocess.run([args.ugi2sgf, '-q', p], capture_output=True).stdout
                    for p in previewed}
        check_folder_saving(checks, driver, expected)
        check_viewer(checks, driver, work, downloads)
        check_layout(checks, driver)
        check_cancel(checks, driver, archive)

        # Offline: the service worker has the site; the server goes away.
        pagetools.wait(lambda: driver.execute_script('return navigator.serviceWorker.controller !== null'), 30,
                       'the service worker')
        site.stop()
        cut = driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            fetch('offline-probe-' + Date.now()).then(() => done(false), () => done(true));""")
        driver.refresh()
        pagetools.ready(driver)
        open_files(driver, [os.path.join(archive, 'kisei.ugi')])
        state = pagetools.rows(driver)[0]['state']
        checks.check('with the server stopped, the page reloads and converts', cut and state == 'converted',
                     f'network cut: {cut}, outcome {state}')

        agent = driver.execute_script('return navigator.userAgent')
        driver.execute_cdp_cmd('Emulation.setUserAgentOverride', {'userAgent': agent, 'acceptLanguage': 'en-US'})
        driver.refresh()
        pagetools.ready(driver)
        checks.check('the page is in English for an English browser',
                     driver.find_element(By.ID, 'open').text == 'Open'
                     and driver.find_element(By.ID, 'encoding').accessible_name == 'Encoding'
                     and driver.find_element(By.ID, 'save-all').text == 'Save all'
                     and driver.execute_script('return document.documentElement.lang') == 'en')
        check_hints(checks, driver, args, work)
        # The language asked for: by the address, then as the switch keeps it, over the browser's.
        driver.get(site_url + '?lang=ja')
        pagetools.ready(driver)
        by_address = driver.find_element(By.ID, 'open').text == '開く'
        Select(driver.find_element(By.ID, 'language')).select_by_value('en')
        pagetools.wait(lambda: driver.execute_script("return document.documentElement.lang === 'en' && "
                                                     "document.documentElement.dataset.ready === 'true'"), 20,
                       'the page in English')
        Select(driver.find_element(By.ID, 'language')).select_by_value('ja')
        pagetools.wait(lambda: driver.execute_script("return document.documentElement.lang === 'ja' && "
                                                     "document.documentElement.dataset.ready === 'true'"), 20,
                       'the page in Japanese')
        driver.get(site_url)
        pagetools.ready(driver)
        kept = driver.find_element(By.ID, 'open').text == '開く'
        checks.check('?lang=ja and the 言語 / Language switch choose the language, which the page keeps',
                     by_address and kept, f'by the address {by_address}, kept {kept}')
        driver.execute_script(f"localStorage.removeItem('quillarn-language')")
        if args.screenshots:
            open_files(driver, previewed)
            select(driver, 'handicap-stones.ugi')
            pagetools.wait(lambda: shown_move(driver) is not None, 20, 'the preview')
            driver.save_screenshot(os.path.join(args.screenshots, 'web-en.png'))

        errors = [entry['message'] for entry in driver.get_log('browser')
                  if entry['level'] == 'SEVERE' and 'offline-probe-' not in entry['message']]
        checks.check('no console error', errors == [], '; '.join(errors[:5]))
    finally:
        pagetools.quit(driver)
        site.stop()
    # The network log is complete once the browser has quit. Requests from the workers (the
    # WebAssembly) and from the service worker (the licences, which only it fetches) are in it.
    made = pagetools.requests_from(netlog, origin)
    elsewhere = [url for url in made if not url.startswith(origin + '/')]
    seen = all(f'{origin}/{name}' in made for name in ['quillarn-core.wasm', 'licences.txt'])
    checks.check(f'no request off the page\'s origin ({len(made)} requests)', seen and elsewhere == [],
                 f"workers' and service worker's requests seen: {seen}; {elsewhere[:5]}")
    shutil.rmtree(work, ignore_errors=True)
    print(f'{checks.passed} passed, {len(checks.failed)} failed')
    return 1 if checks.failed else 0


if __name__ == '__main__':
    sys.exit(main())
