// Saving converted records: one as a download (NAME.sgf), all of them as one zip (each record
// under its path, NAME.sgf), or into a folder the user picks where the browser allows it, never
// replacing a file there without asking.
// Downloads bytes as a file called name.
export function download(bytes, name, type) {
    const url = URL.createObjectURL(new Blob([bytes], { type }));
    const link = document.createElement('a');
    link.href = url;
    link.download = name;
    link.hidden = true;
    document.body.appendChild(link);
    link.click();
    link.remove();
    // The download has taken its copy once the click has been handled.
    setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// Lets the page draw between slices of work.
function pause() {
    return new Promise((resolve) => setTimeout(resolve, 0));
}

// Compressed a part at a time, with a pause between parts, so that a large record does not hold
// up the page; each record's bytes are read where they are, not copied.
const slice = 1 << 20;

// Returns a zip (a Blob) of records ({target, bytes}) each under its target, compressed; only the
// compressed bytes are kept besides the records. progress(done) after each record; when it
// returns false the zip is given up and zipOf returns null.
export async function zipOf(records, progress) {
    // The zip library is loaded when it is first needed.
    const { Zip, ZipDeflate } = await import('./fflate.js');
    const parts = [];
    let failure = null;
    const zip = new Zip((error, data) => {
        if (error)
            failure = error;
        else
            parts.push(data);
    });
    let done = 0;
    let since = performance.now();
    for (const record of records) {
        const entry = new ZipDeflate(record.target, { level: 6 });
        zip.add(entry);
        const bytes = record.bytes;
        for (let at = 0; at < bytes.length || at === 0; at += slice) {
            entry.push(bytes.subarray(at, at + slice), at + slice >= bytes.length);
            if (performance.now() - since > 20) {
                await pause();
                since = performance.now();
            }
        }
        if (failure)
            throw failure;
        if (progress(++done) === false)
            return null;
    }
    zip.end();
    if (failure)
        throw failure;
    return new Blob(parts, { type: 'application/zip' });
}

// Whether the browser lets the page write into a folder the user picks.
export const canSaveToFolder = typeof window.showDirectoryPicker === 'function';

// Returns the folder handle for path (its folders, made as needed) below root.
async function folderOf(root, folders) {
    let folder = root;
    for (const name of folders)
        folder = await folder.getDirectoryHandle(name, { create: true });
    return folder;
}

async function exists(folder, name) {
    try {
        await folder.getFileHandle(name);
        return true;
    } catch (error) {
        if (error.name === 'NotFoundError')
            return false;
        throw error;
    }
}

// Writes records ({target, bytes}) into a folder the user picks, each under its target. For a file
// that is there, ask(target) answers 'replace', 'keep' or 'cancel' (which stops); stopped() true
// stops before the next record. Returns {written, kept, failed: [[target, reason]...], left}, left
// the records not looked at, or null when no folder was picked.
export async function saveToFolder(records, ask, stopped = () => false) {
    let root;
    try {
        root = await window.showDirectoryPicker({ id: 'quillarn-sgf', mode: 'readwrite' });
    } catch (error) {
        if (error.name === 'AbortError')
            return null;
        throw error;
    }
    const outcome = { written: 0, kept: 0, failed: [], left: 0 };
    for (const [index, record] of records.entries()) {
        if (stopped()) {
            outcome.left = records.length - index;
            break;
        }
        const names = record.target.split('/');
        const name = names.pop();
        try {
            const folder = await folderOf(root, names);
            if (await exists(folder, name)) {
                const answer = await ask(record.target);
                if (answer === 'cancel') {
                    outcome.left = records.length - index;
                    break;
                }
                if (answer !== 'replace') {
                    outcome.kept += 1;
                    continue;
                }
            }
            // The browser writes a temporary file and puts it in place on close: a failed write
            // leaves the file that was there as it was.
            const writable = await (await folder.getFileHandle(name, { create: true })).createWritable();
            try {
                await writable.write(record.bytes);
                await writable.close();
            } catch (error) {
                await writable.abort().catch(() => {});
                throw error;
            }
            outcome.written += 1;
        } catch (error) {
            outcome.failed.push([record.target, error.message || String(error)]);
        }
    }
    return outcome;
}
