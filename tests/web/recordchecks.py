"""The outcomes of records on the page held to ugi2sgf's, for browser_test.py: the list's warnings and
reasons (the converter's part of each; ugi2sgf and the page each add a hint of their own to a reason
of some kinds, the page one that names its own control), the zip of Save all against ugi2sgf -d, and
the limits of both."""

import os
import re
import shutil
import subprocess
import tempfile
import zipfile

import pagetools
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

source_folder = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def differences(expected, got, limit=5):
    """The first few keys whose values differ, for a failure's detail."""
    keys = sorted(set(expected) | set(got))
    found = [f'{k}: expected {expected.get(k)!r}, got {got.get(k)!r}' for k in keys if expected.get(k) != got.get(k)]
    return '; '.join(found[:limit]) + (f' (and {len(found) - limit} more)' if len(found) > limit else '')


# What ugi2sgf adds to each line of a record that --strict holds back.
# What ugi2sgf adds to a record that --strict holds back, in English and in Japanese.
strict_notes = {False: '; not written (--strict)', True: '。書きませんでした（--strict）'}


def japanese_page(driver):
    return driver.execute_script('return document.documentElement.lang') == 'ja'


def cli_env(japanese):
    """The environment in which ugi2sgf says its messages in the page's language."""
    env = {k: v for k, v in os.environ.items() if k not in ('LC_ALL', 'LC_MESSAGES', 'LANGUAGE')}
    env['LANG'] = 'ja_JP.UTF-8' if japanese else 'C'
    return env


def outcomes_of_batch(ugi2sgf, folder, options, work, files=(), japanese=False):
    """What ugi2sgf --in-place says of each record of folder and of files (copies of them, named as
    they are): source -> its message lines, for every source it names."""
    copy = tempfile.mkdtemp(dir=work)
    name = os.path.basename(folder)
    shutil.copytree(folder, os.path.join(copy, name))
    for file in files:
        shutil.copy(file, copy)
    # -v names each record that shares its output with one before, which ugi2sgf otherwise counts.
    run = subprocess.run([ugi2sgf, '-v', *options, '--in-place', name, *map(os.path.basename, files)], cwd=copy,
                         capture_output=True, env=cli_env(japanese))
    said = {}
    sources = {os.path.basename(file) for file in files}
    for line in run.stderr.decode('utf-8').splitlines():
        source, colon, message = line.partition(': ')
        if colon and (source.startswith(name + '/') or source in sources):  # not a line of counts
            # A record that --strict holds back says so in ugi2sgf's words; the page shows it failed.
            said.setdefault(source, []).append(message.removesuffix(strict_notes[japanese]))
    shutil.rmtree(copy)
    return said


def files_of_batch(ugi2sgf, folder, options, work):
    """The files ugi2sgf -d writes for folder: relative path -> bytes."""
    out = tempfile.mkdtemp(dir=work)
    subprocess.run([ugi2sgf, '-q', *options, '-d', out, folder], capture_output=True)
    files = {}
    for base, _, names in os.walk(out):
        for name in names:
            path = os.path.join(base, name)
            with open(path, 'rb') as f:
                files[os.path.relpath(path, out)] = f.read()
    shutil.rmtree(out)
    return files


# What ugi2sgf adds to a reason of each kind: the option to try. The page adds a hint of its own.
cli_hints = {False: {'not-in-code-page-932': ' (--encoding utf-8 writes it)',
                     'also-valid-utf-8': ' (--source-encoding utf-8 reads it so)'},
             True: {'not-in-code-page-932': '（--encoding utf-8 なら書けます）',
                    'also-valid-utf-8': '（--source-encoding utf-8 ならそう読みます）'}}


# The end of the message of a record that shares its output with one before: the page converts it
# and leaves it out of the zip, where ugi2sgf does not convert it.
left_out_ends = {False: ('; left out of the zip (Save saves it alone)', '; not converted (-o NAME converts it alone)'),
                 True: ('。zip には入れません（「保存」で 1 つだけ保存できます）',
                        '。変換しませんでした（-o NAME を付ければ単独で変換できます）')}


def cli_source(shown):
    """A record's source as ugi2sgf names it: the page numbers one that shares its output ("x.ugi (2)")."""
    return re.sub(r' \(\d+\)$', '', shown)


def page_outcomes(rows, japanese=False):
    """The page's messages of each record that has any, as ugi2sgf says them: source -> lines, each
    the converter's reason with ugi2sgf's hint for its kind in place of the page's."""
    page_end, cli_end = left_out_ends[japanese]

    def said(m):
        text = m['text'] + cli_hints[japanese].get(m['kind'], '')
        return text[:-len(page_end)] + cli_end if text.endswith(page_end) else text
    # ugi2sgf does not convert a record that shares its output: its warnings are not said.
    return {cli_source(row['source']): [said(m) for m in row['messages']
                                        if cli_source(row['source']) == row['source'] or m == row['messages'][-1]]
            for row in rows if row['messages']}


def foreign_hints(driver, rows):
    """The page's hints that are not its own: a reason of a kind must be followed by a hint that names
    the control of the page that gives another outcome (文字コード or 元の文字コード, in English Encoding
    or Source encoding), and any other reason by none."""
    control = {'not-in-code-page-932': driver.find_element(By.ID, 'encoding').accessible_name,
               'also-valid-utf-8': driver.find_element(By.ID, 'source-encoding').accessible_name}
    other = {'not-in-code-page-932': control['also-valid-utf-8'], 'also-valid-utf-8': None}
    wrong = []
    for row in rows:
        for m in row['messages']:
            named = m['kind'] in control and control[m['kind']] in m['hint']
            ok = (named and (other[m['kind']] is None or other[m['kind']] not in m['hint'])) if m['kind'] \
                else m['hint'] == ''
            if not ok:
                wrong.append(f"{row['source']}: {m}")
    return wrong


def save_all_zip(driver, downloads):
    """Clicks Save all and returns the path of the zip."""
    folder = tempfile.mkdtemp(dir=downloads)
    driver.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': folder})
    driver.find_element(By.ID, 'save-all').click()
    return pagetools.downloaded(folder, 'quillarn-sgf.zip')


def save_all(driver, downloads):
    """Clicks Save all and returns the zip's entries: name -> bytes."""
    with zipfile.ZipFile(save_all_zip(driver, downloads)) as archive:
        return {info.filename: archive.read(info) for info in archive.infolist()}


def set_options(driver, encoding, source='auto', strict=False):
    Select(driver.find_element(By.ID, 'encoding')).select_by_value(encoding)
    Select(driver.find_element(By.ID, 'source-encoding')).select_by_value(source)
    box = driver.find_element(By.ID, 'strict')
    if box.is_selected() != strict:
        box.click()
    pagetools.converted(driver)


def check_folder(checks, driver, args, archive, work, downloads):
    """The folder of records: outcomes, order and the zip, in both encodings and strictly."""
    japanese = japanese_page(driver)
    pagetools.open_into(driver, 'folder', archive)
    rows = pagetools.rows(driver)
    sources = [cli_source(row['source']) for row in rows]
    records = sorted((os.path.relpath(os.path.join(base, n), os.path.dirname(archive))
                      for base, _, names in os.walk(archive) for n in names if n.lower().endswith('.ugi')),
                     key=lambda path: path.encode())
    checks.check('the folder lists every record, in the byte order of their paths',
                 sources == records, f'{len(sources)} listed, {len(records)} records; first listed {sources[:3]}')
    for encoding in ['utf-8', 'cp932']:
        set_options(driver, encoding)
        expected = outcomes_of_batch(args.ugi2sgf, archive, ['--encoding', encoding], work, japanese=japanese)
        rows = pagetools.rows(driver)
        got = page_outcomes(rows, japanese)
        checks.check(f'every record has ugi2sgf\'s warnings and reasons ({encoding}; {len(expected)} with messages)',
                     got == expected, differences(expected, got))
        wrong = foreign_hints(driver, rows)
        checks.check(f'the page\'s hints are its own ({encoding})', wrong == [], '; '.join(wrong[:3]))
        order = [s for s in sources if s in expected]
        said = list(expected)
        checks.check(f'the messages come in ugi2sgf\'s order ({encoding})', order == said)
        written = files_of_batch(args.ugi2sgf, archive, ['--encoding', encoding], work)
        entries = save_all(driver, downloads)
        prefix = os.path.basename(archive) + '/'
        unprefixed = {name[len(prefix):]: data for name, data in entries.items() if name.startswith(prefix)}
        checks.check(f'the zip holds the files of ugi2sgf -d, byte for byte ({encoding}; {len(written)} records)',
                     unprefixed == written and len(unprefixed) == len(entries) and len(written) > 500,
                     differences({k: len(v) for k, v in written.items()}, {k: len(v) for k, v in unprefixed.items()}))
        left_out = driver.find_element(By.ID, 'notice').text
        failed = [row['source'] if row['state'] == 'failed' else f"{row['source']}: {row['messages'][-1]['text']}"
                  for row in pagetools.rows(driver) if row['state'] == 'failed' or cli_source(row['source']) != row['source']]
        status = driver.find_element(By.ID, 'status').text
        shown = driver.execute_script("const r = document.getElementById('notice').getBoundingClientRect();"
                                      "return r.top < window.innerHeight && r.bottom > 0;")
        checks.check(f'the records left out of the zip are listed where they are seen ({len(failed)})',
                     left_out.split('\n')[1:] == failed and shown, left_out[:200])
        checks.check(f'Save all says what it saved ({encoding})',
                     'quillarn-sgf.zip' in status and str(len(entries)) in status, status)
    set_options(driver, 'cp932', 'cp932', True)
    expected = outcomes_of_batch(args.ugi2sgf, archive, ['--encoding', 'cp932', '--source-encoding', 'cp932', '--strict'],
                                 work, japanese=japanese)
    got = page_outcomes(pagetools.rows(driver), japanese)
    checks.check('with --strict and the sources read as code page 932, the outcomes are ugi2sgf\'s',
                 got == expected, differences(expected, got))
    set_options(driver, 'utf-8')

    # Dropped, the folder and a file beside it are walked and planned as ugi2sgf's batch of the two.
    extra = os.path.join(source_folder, 'tests', 'data', 'japanese-names.ugi')
    data = {'items': [], 'files': [archive, extra], 'dragOperationsMask': 1}
    for kind in ['dragEnter', 'dragOver', 'drop']:
        driver.execute_cdp_cmd('Input.dispatchDragEvent', {'type': kind, 'x': 300, 'y': 400, 'data': data})
    pagetools.wait(lambda: len(pagetools.rows(driver)) == len(records) + 1, 60, 'the drop')
    pagetools.converted(driver)
    rows = pagetools.rows(driver)
    expected = outcomes_of_batch(args.ugi2sgf, archive, [], work, [extra], japanese)
    got = page_outcomes(rows, japanese)
    checks.check('a dropped folder and file give the outcomes of ugi2sgf\'s batch of the two, in its order',
                 got == expected and [cli_source(row['source']) for row in rows] == records + ['japanese-names.ugi'],
                 differences(expected, got))


def check_limits(checks, driver, args, work):
    """A source over the command line's size limit, and a folder without records, fail as in ugi2sgf."""
    japanese = japanese_page(driver)
    huge = os.path.join(work, 'huge.ugi')
    with open(huge, 'wb') as f:
        f.truncate(2**31)  # sparse: nothing is written
    empty = os.path.join(work, 'no-records')
    os.mkdir(empty)
    with open(os.path.join(empty, 'notes.txt'), 'w') as f:
        f.write('not a record\n')
    expected = {}
    for path in [huge, empty]:
        run = subprocess.run([args.ugi2sgf, '-q', '-d', os.path.join(work, 'out'), os.path.basename(path)], cwd=work,
                             capture_output=True, env=cli_env(japanese))
        source, _, message = run.stderr.decode().strip().partition(': ')
        expected[source] = [message]
    open_files(driver, [huge])
    got = page_outcomes(pagetools.rows(driver), japanese)
    pagetools.open_into(driver, 'folder', empty)
    got.update(page_outcomes(pagetools.rows(driver), japanese))
    checks.check('a source over 2 GiB and a folder without records fail with ugi2sgf\'s reasons', got == expected,
                 differences(expected, got))
    os.remove(huge)


def check_hints(checks, driver, args, work):
    """A reason and a warning of the two kinds that have hints, written in code page 932: the
    converter's part is ugi2sgf's, and the page's hint names the page's own control."""
    utf8 = os.path.join(work, 'cafe.ugi')
    with open(utf8, 'wb') as f:
        f.write('[Header]\r\nTitle=井山 café\r\nCopyright=x\r\nWinner=B,C\r\nPlayerB=Kuro,3d,\r\nPlayerW=Shiro,2d,\r\n'
                'Place=Hall\r\nDate=2000/10/24,\r\nSize=19\r\nHdcp=0,6.5\r\n[Data]\r\nCD,B1,0,0\r\n'.encode())
    paths = [utf8, os.path.join(source_folder, 'tests', 'data', 'code-page-932-name-nearly-as-plain-in-utf-8.ugi')]
    open_files(driver, paths)
    set_options(driver, 'cp932')
    rows = pagetools.rows(driver)
    expected = {}
    for path in paths:
        run = subprocess.run([args.ugi2sgf, '--encoding', 'cp932', os.path.basename(path)], cwd=os.path.dirname(path),
                             capture_output=True, env=cli_env(japanese_page(driver)))
        expected[os.path.basename(path)] = [line.partition(': ')[2] for line in run.stderr.decode().splitlines()]
    kinds = sorted(m['kind'] for row in rows for m in row['messages'])
    wrong = foreign_hints(driver, rows)
    language = driver.execute_script('return document.documentElement.lang')
    checks.check(f'a reason and a warning with hints: ugi2sgf\'s, with the page\'s own hints ({language})',
                 page_outcomes(rows, language == 'ja') == expected
                 and kinds == ['also-valid-utf-8', 'not-in-code-page-932'] and wrong == [],
                 f'{differences(expected, page_outcomes(rows, language == "ja"))}; kinds {kinds}; {wrong}')
    set_options(driver, 'utf-8')


def open_files(driver, paths):
    pagetools.open_into(driver, 'files', '\n'.join(paths))


def check_zip_names(checks, driver, args, work, downloads):
    """Names no system should unpack as they stand, opened as files and as a folder: the zip's entries
    stay below where it is unpacked (no "..", no root, no backslash, no control character), fit what
    unzip writes, and of two records that share an entry on Windows or macOS the later one is told
    apart by its number, converted and saved alone, and left out of the zip with a message that names
    the first; the list shows names escaped as ugi2sgf shows them."""
    folder = os.path.join(work, 'names')
    inner = os.path.join(folder, 't')
    os.makedirs(inner)
    with open(os.path.join(source_folder, 'tests', 'data', 'basic-game.ugi'), 'rb') as f:
        record = f.read()
    names = ['..\\..\\..\\..\\escape.ugi', 'x.ugi', '..\\x.ugi', 'Case.ugi', 'case.UGI', 'a\u202eb.ugi',
             'tab\there.ugi', '\u68cb' * 83 + 'ab.ugi']
    for name in names:
        with open(os.path.join(inner, name), 'wb') as f:
            f.write(record)
    for way in ['files', 'folder']:
        if way == 'files':
            open_files(driver, [os.path.join(inner, n) for n in names])
        else:
            pagetools.open_into(driver, 'folder', inner)
        rows = pagetools.rows(driver)
        shown = sorted(row['source'] for row in rows)
        escaped = [row for row in shown if 'a\\u202eb.ugi' in row or 'tab\\there.ugi' in row]
        failed = [row['source'] for row in rows if row['state'] != 'converted']
        later = [(i, row['source'], row['messages'][-1]['text']) for i, row in enumerate(rows)
                 if row['source'].endswith(' (2)')]
        zipped = save_all_zip(driver, downloads)
        saved_alone = None
        if len(later) == 1:
            folder = tempfile.mkdtemp(dir=downloads)
            driver.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': folder})
            driver.find_elements(By.CSS_SELECTOR, '#list [role="option"]')[later[0][0]].click()
            driver.find_element(By.ID, 'save').click()
            with open(pagetools.downloaded(folder, 'case.sgf'), 'rb') as f:
                saved_alone = f.read()
        with zipfile.ZipFile(zipped) as archive:
            entries = [info.filename for info in archive.infolist()]
        unsafe = [n for n in entries if n.startswith('/') or '\\' in n or '..' in n.split('/')
                  or any(ord(c) < 0x20 or ord(c) == 0x7f for c in n)
                  or any(len(part.encode()) > 255 for part in n.split('/'))]
        folded = [n.casefold() for n in entries]
        # Unpacked by Info-ZIP's unzip, as the user would, nothing may land beside "here".
        unpacked = tempfile.mkdtemp(dir=work)
        target = os.path.join(unpacked, 'here')
        run = subprocess.run(['unzip', '-o', '-q', zipped, '-d', target], capture_output=True)
        written = [os.path.relpath(os.path.join(b, n), target) for b, _, ns in os.walk(target) for n in ns]
        escaped_any = [p for p in os.listdir(unpacked) if p != 'here']
        checks.check(f'zip entries are safe and complete ({way}: {len(entries)} entries, {len(later)} left out)',
                     not unsafe and len(set(folded)) == len(folded) and run.returncode == 0
                     and len(written) == len(entries) == len(names) - 1 and not escaped_any and len(escaped) == 2
                     and not failed and len(later) == 1 and later[0][1].endswith('case.UGI (2)')
                     and 'Case.ugi' in later[0][2] and saved_alone and saved_alone.startswith(b'(;'),
                     f'unsafe {unsafe}; unzip {run.returncode} {run.stderr[:200]!r}; written {len(written)}; '
                     f'outside {escaped_any}; shown {shown}; failed {failed}; later {later}')
