// A worker of the page: converts records with the core compiled to WebAssembly, one message at a
// time, off the page's thread. Messages: {id, type: 'plan', opened}, {id, type: 'convert', files,
// options} (answered with {results}), {type: 'skip', upTo} (conversions asked for up to that id
// are answered with no results), and for the preview {id, type: 'preview', file, options} then
// {id, type: 'board', move}.
import loadConverter from './quillarn-core.js';
import { rootProperties } from './record.js';

const core = loadConverter();

// Sources larger than this are read a part at a time, straight into the converter's memory, so
// that a large source is not held twice. Smaller ones are read as soon as they are asked for, while
// the records before them convert: reading a file takes the browser longer than converting it.
const wholeReadLimit = 32 << 20;
const readAheadLimit = 1 << 20;

// Returns the bytes of file (a promise), or null when it is read when its turn comes.
function readAhead(file) {
    return file && file.size <= readAheadLimit ? file.arrayBuffer() : null;
}

// Reads file into the converter's source room, from ahead (readAhead's promise) when it is there.
// Returns a reason when it cannot.
async function readSource(converter, file, ahead) {
    if (ahead || file.size <= wholeReadLimit) {
        const bytes = new Uint8Array(await (ahead || file.arrayBuffer()));
        const room = converter.sourceRoom(bytes.length);
        if (room === null)
            return 'out of memory';
        room.set(bytes);
        return '';
    }
    if (converter.sourceRoom(file.size) === null)
        return 'out of memory';
    const reader = file.stream().getReader();
    let at = 0;
    for (;;) {
        const { done, value } = await reader.read();
        if (done)
            break;
        // A fresh view each time: the room stays where it is, and nothing else runs in between.
        const room = converter.sourceRoom(file.size);
        if (at + value.length > room.length)
            return 'the file changed while it was read';
        room.set(value, at);
        at += value.length;
    }
    return at === file.size ? '' : 'the file changed while it was read';
}

// Converts file as ugi2sgf does with options {encoding, sourceEncoding, strict}; with keep, the
// converter keeps the position for board(). Returns {converted, warnings, reason, bytes}, warnings
// and reason lists of messages ({text, kind}).
async function convert(converter, file, ahead, options, keep) {
    const failure = (reason) => ({ converted: false, warnings: [], reason: [{ text: reason, kind: '' }], bytes: null });
    const tooLarge = converter.sizeReason(file.size);
    if (tooLarge)
        return { converted: false, warnings: [], reason: [tooLarge], bytes: null };
    let reason;
    try {
        reason = await readSource(converter, file, ahead);
    } catch (error) {
        if (error instanceof RangeError)
            return { converted: false, warnings: [], reason: [{ text: 'out of memory', ja: 'メモリーが足りません', kind: '' }], bytes: null };
        reason = error.message || String(error);
    }
    if (reason)
        return failure(reason);
    const run = keep ? converter.preview : converter.convert;
    const result = run(file.size, options.encoding, options.sourceEncoding, options.strict);
    return {
        converted: result.converted,
        warnings: result.warnings,
        reason: result.reason,
        bytes: result.converted ? converter.recordBytes().slice() : null,
        size: result.size,
        moves: result.moves,
    };
}

async function handle(message, ahead) {
    const converter = await core;
    switch (message.type) {
    case 'plan':
        return { items: converter.plan(message.opened) };
    case 'convert': {
        const results = [];
        for (let i = 0; i < message.files.length; ++i)
            results.push(await convert(converter, message.files[i], ahead[i], message.options, false));
        return { results };
    }
    case 'preview': {
        const result = await convert(converter, message.file, ahead[0], message.options, true);
        if (result.converted)
            result.root = rootProperties(result.bytes);
        result.bytes = null;
        return result;
    }
    case 'board': {
        const board = converter.boardAfter(message.move);
        board.stones = board.stones.slice();
        board.numbers = board.numbers.slice();
        return board;
    }
    }
    throw new Error(`unknown request ${message.type}`);
}

// The records converted, whose memory goes to the page with them.
function transferred(result) {
    const records = result.results || [result];
    return records.filter((record) => record.bytes).map((record) => record.bytes.buffer);
}

// One message at a time, in order: the source room and the last record are the converter's own.
// The files of a message are read at once, while the messages before it convert.
let queue = Promise.resolve();
let skipUpTo = 0; // conversions asked for up to this id are no longer wanted
self.onmessage = ({ data }) => {
    if (data.type === 'skip') {
        skipUpTo = Math.max(skipUpTo, data.upTo);
        return;
    }
    const ahead = (data.files || [data.file]).map(readAhead);
    // A read that fails is reported when its record's turn comes.
    for (const read of ahead) {
        if (read)
            read.catch(() => {});
    }
    const wanted = () => data.type !== 'convert' || data.id > skipUpTo;
    queue = queue.then(() => (wanted() ? handle(data, ahead) : { results: [] })).then(
        (result) => self.postMessage({ id: data.id, result }, transferred(result)),
        (error) => self.postMessage({ id: data.id, error: error.message || String(error) }));
};
