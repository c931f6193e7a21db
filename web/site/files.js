// What the user opened, as ugi2sgf's batch takes its paths: each file or folder in the order given,
// a folder with every file found below it ("NAME/sub/file") and the subfolders that could not be
// read. Which files are records, in which order, and under which names they are saved is the
// converter's to say (the plan of worker.js); this only walks.

// One opened file: { path, folder: false, file }. A folder's entries are { path, file } (with
// file null and unreadable the reason for a file that could not be opened) or { path, reason }
// for a subfolder that could not be read.
function openedFile(file) {
    return { path: file.name, folder: false, file, entries: [] };
}

// The files of <input type="file" multiple>, or of a launch from the file manager.
export function openedFromFiles(files) {
    return Array.from(files, openedFile);
}

// The files of <input type="file" webkitdirectory>: one folder, each file with its path below it.
export function openedFromFolderInput(files) {
    const folders = new Map();
    for (const file of files) {
        const path = file.webkitRelativePath || file.name;
        const root = path.split('/')[0];
        if (!folders.has(root))
            folders.set(root, { path: root, folder: true, entries: [] });
        folders.get(root).entries.push({ path, file });
    }
    return [...folders.values()];
}

// The files of an installed copy's launch (file handles).
export async function openedFromHandles(handles) {
    const files = [];
    for (const handle of handles) {
        if (handle.kind === 'file')
            files.push(await handle.getFile());
    }
    return openedFromFiles(files);
}

// Every entry of a folder (readEntries hands them out a part at a time).
function readAll(reader) {
    return new Promise((resolve, reject) => {
        const all = [];
        const more = () => reader.readEntries((part) => {
            if (part.length === 0) {
                resolve(all);
            } else {
                all.push(...part);
                more();
            }
        }, reject);
        more();
    });
}

function fileOf(entry) {
    return new Promise((resolve, reject) => entry.file(resolve, reject));
}

// Walks a dropped folder: its files, and the subfolders that could not be read with the reason.
async function walk(directory) {
    const opened = { path: directory.name, folder: true, entries: [] };
    const folders = [directory];
    while (folders.length) {
        const folder = folders.pop();
        let children;
        try {
            children = await readAll(folder.createReader());
        } catch (error) {
            opened.entries.push({ path: folder.fullPath.slice(1), reason: error.message || String(error) });
            continue;
        }
        const files = children.filter((child) => child.isFile);
        folders.push(...children.filter((child) => child.isDirectory));
        // A file that cannot be opened is still a record (when its name is one's) that fails
        // with the reason, as a file that cannot be read fails in a batch.
        opened.entries.push(...await Promise.all(files.map(async (entry) => {
            const path = entry.fullPath.slice(1);
            try {
                return { path, file: await fileOf(entry) };
            } catch (error) {
                return { path, file: null, unreadable: error.message || String(error) };
            }
        })));
    }
    return opened;
}

// The files and folders of a drop, in the order they were dropped. The entries must be taken
// before the drop event ends; walking them may take longer.
export function openedFromDrop(dataTransfer) {
    const items = Array.from(dataTransfer.items || []).filter((item) => item.kind === 'file');
    const entries = items.map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null));
    if (entries.length === 0 || entries.some((entry) => entry === null))
        return Promise.resolve(openedFromFiles(dataTransfer.files));
    return Promise.all(entries.map((entry) => (entry.isDirectory ? walk(entry) : fileOf(entry).then(openedFile))));
}
