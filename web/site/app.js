// Quillarn's page: open records (files, folders, a drop, a launch from the file manager), convert
// them in workers with the options of ugi2sgf, list each one's outcome, preview the selected one
// and save one, all of them as a zip, or all of them into a folder.
import './trusted.js'; // first: the page's policy for scripts' addresses
import { text, japanese, hint, said, messageText, languageKey } from './texts.js';
import { version } from './version.js';
import { openedFromDrop, openedFromFiles, openedFromFolderInput, openedFromHandles } from './files.js';
import { Converter, PreviewWorker } from './converter.js';
import { Preview } from './preview.js';
import { canSaveToFolder, download, saveToFolder, zipOf } from './save.js';

const $ = (id) => document.getElementById(id);
const sgfType = 'application/x-go-sgf';

// The page's words in the browser's language.
document.documentElement.lang = japanese ? 'ja' : 'en';
document.title = text.title;
for (const node of document.querySelectorAll('[data-text]'))
    node.textContent = text[node.dataset.text];
for (const node of document.querySelectorAll('[data-label]'))
    node.setAttribute('aria-label', text[node.dataset.label]);
$('about-version').textContent = text.version(version);
// 言語 / Language: kept for the next visits, and the page opened again in it (an address that
// names a language is told the new one).
$('language').value = japanese ? 'ja' : 'en';
$('language').addEventListener('change', () => {
    try {
        localStorage.setItem(languageKey, $('language').value);
    } catch {
        // not kept: the address still says it
    }
    const address = new URL(location.href);
    address.searchParams.set('lang', $('language').value);
    location.replace(address);
});

const notice = (message) => {
    $('notice').textContent = message;
    $('notice').hidden = !message;
    if (message)
        $('notice').scrollIntoView({ block: 'nearest' });
};
const converter = new Converter(Math.max(1, Math.min(4, navigator.hardwareConcurrency || 2)),
    (error) => notice(`${text.unavailable} ${error.message}`));
const preview = new Preview(new PreviewWorker((error) => notice(`${text.unavailable} ${error.message}`)));

// The records of the last batch opened, in the batch's order: {source, shown (source as ugi2sgf
// shows it, with its number when it shares its name with a record before), target, file, state
// ('waiting', 'converted', 'failed'), warnings, reason, bytes, leftOut, element}, warnings and reason
// lists of messages ({text, ja, kind}, the converter's reasons and their kinds, one a line), leftOut
// the message of a record that shares its name with one before, which saves of them all leave out.
let records = [];
let selected = -1;
let finished = 0;
let changed = new Set(); // records whose row must be drawn again

function options() {
    return { encoding: $('encoding').value, sourceEncoding: $('source-encoding').value, strict: $('strict').checked };
}

// Opens what the user chose: a new batch, planned by the converter, converted at once.
async function open(openedPromise) {
    performance.mark('quillarn-open');
    let opened;
    try {
        opened = await openedPromise;
    } catch (error) {
        notice(error.message || String(error));
        return;
    }
    if (opened.length === 0)
        return;
    // The batch before is done with: what it has not converted yet would only come back unused.
    converter.cancel();
    notice('');
    const listed = opened.map(({ path, folder, entries }) => ({
        path, folder, entries: entries.map(({ path, reason }) => (reason === undefined ? { path } : { path, reason })),
    }));
    let items;
    try {
        items = await converter.plan(listed);
    } catch (error) {
        notice(`${text.unavailable} ${error.message}`);
        return;
    }
    records = items.map((item) => {
        const given = opened[item.opened];
        const entry = item.entry >= 0 ? given.entries[item.entry] : null;
        const record = {
            source: item.source, shown: item.shown, target: item.target, file: entry ? entry.file : given.file,
            leftOut: item.leftOut,
        };
        if (item.reason)
            Object.assign(record, { state: 'failed', reason: [item.reason], planned: true });
        else if (entry && entry.unreadable)
            Object.assign(record, { state: 'failed', reason: [{ text: entry.unreadable, kind: '' }], planned: true });
        return record;
    });
    selected = -1;
    drawList();
    convertAll();
    if (records.length)
        select(0);
}

// Converts every record of the batch (again) with the options chosen now.
function convertAll() {
    finished = 0;
    const jobs = [];
    for (const record of records) {
        if (record.planned) {
            finished += 1;
            continue;
        }
        Object.assign(record, { state: 'waiting', warnings: [], reason: [], bytes: null });
        jobs.push(record);
    }
    for (const record of records)
        changed.add(record);
    drawChanges();
    showProgress();
    // Marks for the benchmark (bench/web.py): how long the conversion of a batch takes.
    performance.clearMarks('quillarn-converted');
    performance.mark('quillarn-converting');
    converter.convertAll(jobs, options(), (record, result) => {
        Object.assign(record, {
            state: result.converted ? 'converted' : 'failed',
            warnings: result.warnings,
            reason: result.reason,
            bytes: result.bytes,
        });
        finished += 1;
        if (finished === records.length)
            performance.mark('quillarn-converted');
        changed.add(record);
        scheduleDraw();
        if (records[selected] === record)
            showSelected();
    });
}

function drawList() {
    const list = $('list');
    list.replaceChildren();
    const rows = document.createDocumentFragment();
    records.forEach((record, index) => {
        const row = document.createElement('li');
        row.id = `record-${index}`;
        row.setAttribute('role', 'option');
        row.setAttribute('aria-selected', 'false');
        row.dataset.index = index;
        const name = document.createElement('span');
        name.className = 'name';
        name.textContent = record.shown; // its path as ugi2sgf shows it: escaped where it would mislead
        const outcome = document.createElement('span');
        outcome.className = 'outcome';
        const messages = document.createElement('span');
        messages.className = 'messages';
        row.append(name, outcome, messages);
        record.element = row;
        rows.appendChild(row);
    });
    list.appendChild(rows);
    list.removeAttribute('aria-activedescendant');
    list.hidden = records.length === 0;
    $('empty').hidden = records.length !== 0;
    if (records.length === 0)
        preview.clear();
}

// Shows messages in element, one a line: the converter's reason, then the page's hint for its kind.
function showMessages(element, messages) {
    element.replaceChildren();
    messages.forEach((message, i) => {
        if (i > 0)
            element.append('\n');
        const line = document.createElement('span');
        line.className = 'message';
        line.dataset.kind = message.kind;
        line.append(messageText(message));
        if (hint(message.kind)) {
            const more = document.createElement('span');
            more.className = 'hint';
            more.textContent = hint(message.kind);
            line.append(more);
        }
        element.append(line);
    });
}

function drawRow(record) {
    const row = record.element;
    row.dataset.state = record.state;
    const [outcome, messages] = [row.children[1], row.children[2]];
    if (record.state === 'waiting') {
        outcome.textContent = text.waiting;
        showMessages(messages, []);
    } else if (record.state === 'converted') {
        outcome.textContent = record.warnings.length
            ? text.convertedWithWarnings(record.warnings.length) : text.converted;
        showMessages(messages, record.leftOut ? [...record.warnings, record.leftOut] : record.warnings);
    } else if (record.state === 'stopped') {
        outcome.textContent = text.notConverted;
        showMessages(messages, []);
    } else {
        outcome.textContent = text.failed;
        showMessages(messages, record.reason);
    }
    row.dataset.warnings = record.state === 'converted' ? record.warnings.length : 0;
}

let drawScheduled = false;
function scheduleDraw() {
    if (drawScheduled)
        return;
    drawScheduled = true;
    requestAnimationFrame(() => {
        drawScheduled = false;
        drawChanges();
        showProgress();
    });
}

function drawChanges() {
    for (const record of changed)
        drawRow(record);
    changed = new Set();
}

let statusShown = 0;
let saving = false; // a save is running: no other starts, and its message stays
let stopAsked = false; // 中止 was pressed while a save runs
function showProgress(keepStatus = false) {
    const total = records.length;
    const progress = $('progress');
    const done = finished === total;
    progress.hidden = total === 0;
    progress.max = Math.max(total, 1);
    progress.value = finished;
    const converted = records.filter((r) => r.state === 'converted');
    // The status is read out by screen readers: at the end, and now and then while converting.
    if (keepStatus) {
        // what a save said stays until the next change
    } else if (done && total) {
        const warned = converted.filter((r) => r.warnings.length).length;
        $('status').textContent = text.summary(converted.length, warned, total - converted.length);
    } else if (total && performance.now() - statusShown > 1000) {
        statusShown = performance.now();
        $('status').textContent = text.progress(finished, total);
    }
    document.body.dataset.converting = done ? 'false' : 'true';
    $('cancel').hidden = done && !saving;
    $('save-all').disabled = saving || !done || converted.length === 0;
    $('save-folder').disabled = $('save-all').disabled;
    $('save').disabled = !(records[selected] && records[selected].state === 'converted');
}

function select(index) {
    if (index < 0 || index >= records.length)
        return;
    if (records[selected])
        records[selected].element.setAttribute('aria-selected', 'false');
    selected = index;
    const row = records[index].element;
    row.setAttribute('aria-selected', 'true');
    $('list').setAttribute('aria-activedescendant', row.id);
    row.scrollIntoView({ block: 'nearest' });
    showSelected();
}

function showSelected() {
    const record = records[selected];
    $('save').disabled = !(record && record.state === 'converted');
    if (!record)
        preview.clear();
    else if (record.state === 'failed')
        preview.showFailure(said(record.reason));
    else if (record.state === 'converted')
        preview.show(record.file, options()).catch((error) => preview.showFailure(error.message));
}

// The list: a click or the keys choose a record.
$('list').addEventListener('click', (event) => {
    const row = event.target.closest('[role="option"]');
    if (row)
        select(Number(row.dataset.index));
});
$('list').addEventListener('keydown', (event) => {
    const page = Math.max(1, Math.floor($('list').clientHeight / 48));
    const moves = { ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page };
    if (event.key in moves)
        select(Math.max(0, Math.min(records.length - 1, selected + moves[event.key])));
    else if (event.key === 'Home')
        select(0);
    else if (event.key === 'End')
        select(records.length - 1);
    else
        return;
    event.preventDefault();
});

// Opening: the buttons, the inputs behind them, a drop anywhere on the page.
$('open').addEventListener('click', () => $('files').click());
$('open-folder').addEventListener('click', () => $('folder').click());
$('files').addEventListener('change', () => {
    open(Promise.resolve(openedFromFiles($('files').files)));
    $('files').value = '';
});
$('folder').addEventListener('change', () => {
    open(Promise.resolve(openedFromFolderInput($('folder').files)));
    $('folder').value = '';
});
let dragDepth = 0;
document.addEventListener('dragenter', (event) => {
    if (!event.dataTransfer.types.includes('Files'))
        return;
    dragDepth += 1;
    $('drop-overlay').hidden = false;
});
document.addEventListener('dragleave', () => {
    dragDepth = Math.max(0, dragDepth - 1);
    $('drop-overlay').hidden = dragDepth > 0;
});
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
    event.preventDefault();
    dragDepth = 0;
    $('drop-overlay').hidden = true;
    if (event.dataTransfer.types.includes('Files'))
        open(openedFromDrop(event.dataTransfer));
});
// A .ugi file opened from the file manager with the installed page.
if ('launchQueue' in window) {
    window.launchQueue.setConsumer((params) => {
        if (params.files && params.files.length)
            open(openedFromHandles(params.files));
    });
}

// Options: any change converts the batch again.
for (const id of ['encoding', 'source-encoding', 'strict'])
    $(id).addEventListener('change', () => records.length && convertAll());

// Saving.
$('save').addEventListener('click', () => {
    const record = records[selected];
    if (record && record.state === 'converted')
        download(record.bytes, record.target.split('/').pop(), sgfType);
});
// The converted records as they are now, but those that share their name with one before (saved
// alone): a change of options while they are saved converts the records again, and the save goes on
// with these.
function convertedNow() {
    return records.filter((r) => r.state === 'converted' && !r.leftOut).map(({ target, bytes }) => ({ target, bytes }));
}

// The records a save of them all leaves out, as the notice lists them: failed ones by name, and
// converted ones that share their name with one before with why.
function leftOutOfSave() {
    return records.filter((r) => r.state === 'failed' || (r.state === 'converted' && r.leftOut))
        .map((r) => (r.state === 'failed' ? r.shown : `${r.shown}: ${messageText(r.leftOut)}`));
}

$('save-all').addEventListener('click', async () => {
    const converted = convertedNow();
    const failed = leftOutOfSave();
    saving = true;
    stopAsked = false;
    showProgress(true);
    try {
        const zip = await zipOf(converted, (done) => {
            $('status').textContent = text.zipping(done, converted.length);
            return !stopAsked;
        });
        if (!zip) {
            $('status').textContent = text.saveStopped(0, converted.length);
            return;
        }
        download(zip, 'quillarn-sgf.zip', 'application/zip');
        $('status').textContent = text.zipSaved(converted.length);
        notice(failed.length ? `${text.zipLeftOut(failed.length)}\n${failed.join('\n')}` : '');
    } catch (error) {
        notice(error.message || String(error));
    } finally {
        saving = false;
        showProgress(true);
    }
});
$('save-folder').hidden = !canSaveToFolder;
$('save-folder').addEventListener('click', async () => {
    const converted = convertedNow();
    let answerForAll = null;
    const ask = (target) => {
        if (answerForAll)
            return Promise.resolve(answerForAll);
        const dialog = $('replace-dialog');
        $('replace-question').textContent = text.replaceQuestion(target);
        $('replace-all').checked = false;
        dialog.returnValue = '';
        dialog.showModal();
        return new Promise((resolve) => dialog.addEventListener('close', () => {
            const answer = dialog.returnValue || 'cancel';
            if ($('replace-all').checked && answer !== 'cancel')
                answerForAll = answer;
            resolve(answer);
        }, { once: true }));
    };
    saving = true;
    stopAsked = false;
    showProgress(true);
    try {
        const outcome = await saveToFolder(converted, ask, () => stopAsked);
        if (outcome) {
            $('status').textContent = outcome.left
                ? text.saveStopped(outcome.written, outcome.left + outcome.kept + outcome.failed.length)
                : text.folderSaved(outcome.written, outcome.kept, outcome.failed.length);
            notice([...outcome.failed.map(([target, reason]) => `${target}: ${reason}`),
                ...records.filter((r) => r.state === 'converted' && r.leftOut)
                    .map((r) => `${r.shown}: ${messageText(r.leftOut)}`)].join('\n'));
        }
    } catch (error) {
        notice(error.message || String(error));
    } finally {
        saving = false;
        showProgress(true);
    }
});
// 中止: a conversion stops where it is, its records not yet converted said as such; a save stops
// before its next record.
$('cancel').addEventListener('click', () => {
    if (saving) {
        stopAsked = true;
        return;
    }
    if (finished === records.length)
        return;
    converter.cancel();
    let left = 0;
    for (const record of records) {
        if (record.state === 'waiting') {
            record.state = 'stopped';
            changed.add(record);
            left += 1;
        }
    }
    finished = records.length;
    drawChanges();
    showProgress(true);
    $('status').textContent = text.conversionStopped(records.filter((r) => r.state === 'converted').length, left);
});
for (const dialog of document.querySelectorAll('dialog')) {
    for (const button of dialog.querySelectorAll('.buttons button'))
        button.addEventListener('click', () => dialog.close(button.value));
}
$('about').addEventListener('click', () => $('about-dialog').showModal());

// Offline after the first visit: the service worker keeps every file of the site. A new version
// waits until the user asks for it: then it takes over and the page reloads, so that no page ever
// runs files of two versions.
if ('serviceWorker' in navigator) {
    const hadController = Boolean(navigator.serviceWorker.controller);
    let asked = false;
    const offer = (waiting) => {
        $('update').hidden = false;
        $('update-reload').onclick = () => {
            asked = true;
            waiting.postMessage('activate');
        };
    };
    navigator.serviceWorker.addEventListener('controllerchange', () => {
        // Another page of this site may have asked for the new version: this one reloads too. The
        // first worker of a first visit takes over a page that had none, which goes on as it is.
        if (asked || hadController)
            location.reload();
    });
    window.addEventListener('load', () => navigator.serviceWorker.register('sw.js').then((registration) => {
        if (registration.waiting && navigator.serviceWorker.controller)
            offer(registration.waiting);
        registration.addEventListener('updatefound', () => {
            const installing = registration.installing;
            installing.addEventListener('statechange', () => {
                if (installing.state === 'installed' && navigator.serviceWorker.controller)
                    offer(installing);
            });
        });
    }).catch(() => {}));
}
// The converter loads while the user picks a file (Safari has no requestIdleCallback).
if ('requestIdleCallback' in window)
    requestIdleCallback(() => converter.warmUp(), { timeout: 1000 });
else
    setTimeout(() => converter.warmUp(), 200);

performance.mark('quillarn-ready');
document.documentElement.dataset.ready = 'true';
