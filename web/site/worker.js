// A worker of the page: converts records with the core compiled to WebAssembly, one message at a
// time, off the page's thread. Messages: {id, type: 'plan', opened}, {id, type: 'convert', file,
// options}, and for the preview {id, type: 'preview', file, options} then {id, type: 'board', move}.
import loadConverter from './quillarn-core.js';
import { rootProperties } from './record.js';

const core = loadConverter();

// Sources larger than this are read a part at a time, straight into the converter's memory, so
// that a large source is not held twice.
const wholeReadLimit = 32 << 20;

// Reads file into the converter's source room. Returns a reason when it cannot.
async function readSource(converter, file) {
    if (file.size <= wholeReadLimit) {
        const bytes = new Uint8Array(await file.arrayBuffer());
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
// converter keeps the position for board(). Returns {converted, warnings, reason, bytes}.
async function convert(converter, file, options, keep) {
    const failure = (reason) => ({ converted: false, warnings: [], reason, bytes: null });
    const tooLarge = converter.sizeReason(file.size);
    if (tooLarge)
        return failure(tooLarge);
    let reason;
    try {
        reason = await readSource(converter, file);
    } catch (error) {
        reason = error instanceof RangeError ? 'out of memory' : error.message || String(error);
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

async function handle(message) {
    const converter = await core;
    switch (message.type) {
    case 'plan':
        return { items: converter.plan(message.opened) };
    case 'convert':
        return convert(converter, message.file, message.options, false);
    case 'preview': {
        const result = await convert(converter, message.file, message.options, true);
        if (result.converted)
            result.root = rootProperties(result.bytes);
        result.bytes = null;
        return result;
    }
    case 'board': {
        const board = converter.boardAfter(message.move);
        return { stones: board.stones.slice(), x: board.x, y: board.y, colour: board.colour };
    }
    }
    throw new Error(`unknown request ${message.type}`);
}

// One message at a time, in order: the source room and the last record are the converter's own.
let queue = Promise.resolve();
self.onmessage = ({ data }) => {
    queue = queue.then(() => handle(data)).then(
        (result) => {
            const transfer = result.bytes ? [result.bytes.buffer] : [];
            self.postMessage({ id: data.id, result }, transfer);
        },
        (error) => self.postMessage({ id: data.id, error: error.message || String(error) }));
};
