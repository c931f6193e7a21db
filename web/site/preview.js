// The preview of the selected record: its board after any number of moves, as the converter's
// replay has it (handicap stones, captures), its players and result, and stepping through the
// moves with the slider, the buttons and the arrow keys.
import { text, said } from './texts.js';
import { download } from './save.js';

const svg = 'http://www.w3.org/2000/svg';
const unit = 10; // the distance between two lines, in the board's own units

function element(name, attributes, parent) {
    const made = document.createElementNS(svg, name);
    for (const [key, value] of Object.entries(attributes))
        made.setAttribute(key, value);
    parent.appendChild(made);
    return made;
}

// The star points of the boards that have them: five on 9 and 13 lines, nine on 19; none on others.
function starPoints(size) {
    const lines = { 9: [2, 4, 6], 13: [3, 6, 9], 19: [3, 9, 15] }[size];
    if (!lines)
        return [];
    const points = [];
    for (const x of lines)
        for (const y of lines)
            if (size === 19 || x === y || x + y === size - 1)
                points.push([x, y]);
    return points;
}

// The names of a board's columns and rows as Japanese boards and SGF readers show them: A to T
// without I from the left, 1 from the bottom; or, as Japanese books print them (book), 1 to 19 from
// the left and 一 to 十九 from the top, a point named "16の四".
const bookKey = 'quillarn-book-coordinates';
const columns = 'ABCDEFGHJKLMNOPQRSTUVWXYZ';
const digits = ['', '一', '二', '三', '四', '五', '六', '七', '八', '九'];
export function kanjiNumber(n) {
    return (n >= 20 ? digits[Math.floor(n / 10)] : '') + (n >= 10 ? '十' : '') + digits[n % 10];
}
function columnName(x, book) {
    return book ? String(x + 1) : columns[x];
}
function rowName(y, size, book) {
    return book ? kanjiNumber(y + 1) : String(size - y);
}
export function pointName(x, y, size, book = false) {
    return book ? `${columnName(x, book)}の${rowName(y, size, book)}` : `${columns[x]}${size - y}`;
}

export class Preview {
    constructor(worker) {
        this.worker = worker;
        this.board = document.getElementById('board');
        this.slider = document.getElementById('move');
        this.number = document.getElementById('move-number');
        this.captures = document.getElementById('captures');
        this.body = document.getElementById('preview-body');
        this.empty = document.getElementById('preview-empty');
        this.failure = document.getElementById('preview-failure');
        this.shown = 0; // which show() the board belongs to
        this.size = 0;
        this.moves = 0;
        this.move = 0; // the move shown
        this.target = 0; // the move asked for last, which the keys step from
        this.asked = null; // the move of the board request in flight
        this.wanted = null; // the move to show once it is answered
        this.slider.addEventListener('input', () => this.go(Number(this.slider.value)));
        const step = { first: () => 0, previous: () => this.target - 1, next: () => this.target + 1, last: () => this.moves };
        for (const [id, target] of Object.entries(step))
            document.getElementById(id).addEventListener('click', () => this.go(target()));
        this.board.addEventListener('keydown', (event) => this.key(event));
        // Move numbers on the stones, on demand.
        this.numbers = document.getElementById('numbers');
        this.numbers.addEventListener('change', () => this.drawn && this.draw(...this.drawn));
        // The coordinates of Japanese books, kept for the next visit.
        this.book = document.getElementById('book-coordinates');
        try {
            this.book.checked = localStorage.getItem(bookKey) === '1';
        } catch {
            // storage refused: the coordinates of boards and SGF readers
        }
        this.book.addEventListener('change', () => {
            try {
                localStorage.setItem(bookKey, this.book.checked ? '1' : '0');
            } catch {
                // kept for this visit only
            }
            if (this.drawn) {
                this.drawGrid();
                this.draw(...this.drawn);
            }
        });
        document.getElementById('save-image').addEventListener('click', () => this.saveImage());
    }

    // Saves the board as it is shown, as a PNG of 1,000 pixels a side: the same drawing, with the
    // page's colours written into it, painted on a canvas.
    async saveImage() {
        if (!this.drawn)
            return;
        const copy = this.board.cloneNode(true);
        const from = this.board.querySelectorAll('*');
        const to = copy.querySelectorAll('*');
        for (let i = 0; i < from.length; ++i) {
            const style = getComputedStyle(from[i]);
            for (const property of ['fill', 'stroke', 'stroke-width', 'font-family', 'font-weight', 'font-size'])
                to[i].setAttribute(property, style.getPropertyValue(property));
        }
        const side = 1000;
        copy.setAttribute('width', side);
        copy.setAttribute('height', side);
        const url = URL.createObjectURL(new Blob([new XMLSerializer().serializeToString(copy)], { type: 'image/svg+xml' }));
        try {
            const image = new Image(side, side);
            image.src = url;
            await image.decode();
            const canvas = document.createElement('canvas');
            canvas.width = side;
            canvas.height = side;
            canvas.getContext('2d').drawImage(image, 0, 0, side, side);
            const png = await new Promise((resolve) => canvas.toBlob(resolve, 'image/png'));
            const title = document.getElementById('preview-title').textContent || 'board';
            download(png, `${title.replace(/[\\/:*?"<>|\x00-\x1f]/g, '_')}-${this.move}.png`, 'image/png');
        } finally {
            URL.revokeObjectURL(url);
        }
    }

    key(event) {
        const moves = { ArrowLeft: -1, ArrowDown: -1, ArrowRight: 1, ArrowUp: 1, PageUp: -10, PageDown: 10 };
        if (event.key in moves)
            this.go(this.target + moves[event.key]);
        else if (event.key === 'Home')
            this.go(0);
        else if (event.key === 'End')
            this.go(this.moves);
        else
            return;
        event.preventDefault();
    }

    // Shows nothing but message (no record chosen).
    clear() {
        this.shown += 1;
        this.body.hidden = true;
        this.failure.hidden = true;
        this.empty.hidden = false;
    }

    // Shows why a record failed.
    showFailure(reason) {
        this.shown += 1;
        this.body.hidden = true;
        this.empty.hidden = true;
        this.failure.hidden = false;
        this.failure.textContent = `${text.failedRecord} ${reason}`;
    }

    // Shows the record in file as converted with options, at its last move.
    async show(file, options) {
        const shown = ++this.shown;
        const result = await this.worker.request({ type: 'preview', file, options });
        if (shown !== this.shown)
            return;
        if (!result.converted) {
            this.showFailure(said(result.reason));
            return;
        }
        this.empty.hidden = true;
        this.failure.hidden = true;
        this.body.hidden = false;
        this.facts(result.root);
        this.size = result.size;
        this.moves = result.moves;
        this.slider.max = String(this.moves);
        this.slider.disabled = this.size === 0;
        this.asked = null;
        this.wanted = null;
        if (this.size === 0) {
            this.board.replaceChildren();
            this.board.setAttribute('aria-label', text.noBoard);
            this.number.textContent = text.noBoard;
            return;
        }
        this.drawGrid();
        await this.go(this.moves);
    }

    facts(root) {
        const title = document.getElementById('preview-title');
        title.textContent = root.GN || '';
        title.hidden = !root.GN;
        const player = (name, rank) => (name || '') + (rank ? ` (${rank})` : '');
        const rows = [
            [text.black, player(root.PB, root.BR)],
            [text.white, player(root.PW, root.WR)],
            [text.result, root.RE && text.resultWords(root.RE)],
            [text.date, root.DT],
            [text.place, root.PC],
            [text.handicap, root.HA !== '0' && root.HA],
            [text.komi, root.KM],
        ];
        const list = document.getElementById('preview-facts');
        list.replaceChildren();
        for (const [term, value] of rows) {
            if (!value)
                continue;
            const pair = document.createElement('div');
            const dt = document.createElement('dt');
            dt.textContent = term;
            const dd = document.createElement('dd');
            dd.textContent = value;
            pair.append(dt, dd);
            list.append(pair);
        }
    }

    drawGrid() {
        const size = this.size;
        const extent = (size + 1) * unit;
        this.board.replaceChildren();
        this.board.setAttribute('viewBox', `0 0 ${extent} ${extent}`);
        element('rect', { class: 'wood', x: 0, y: 0, width: extent, height: extent, rx: 2 }, this.board);
        let path = '';
        for (let i = 1; i <= size; ++i)
            path += `M${unit} ${i * unit}H${size * unit}M${i * unit} ${unit}V${size * unit}`;
        element('path', { class: 'lines', d: path }, this.board);
        const stars = element('g', { class: 'stars' }, this.board);
        for (const [x, y] of starPoints(size))
            element('circle', { cx: (x + 1) * unit, cy: (y + 1) * unit, r: 1.1 }, stars);
        // The coordinates in the margin around the lines, on every side.
        const labels = element('g', { class: 'coordinates', 'aria-hidden': 'true' }, this.board);
        const label = (x, y, name) => {
            element('text', { x, y, 'text-anchor': 'middle', 'dominant-baseline': 'central' }, labels).textContent = name;
        };
        const book = this.book.checked;
        for (let i = 0; i < size; ++i) {
            const at = (i + 1) * unit;
            label(at, unit * 0.35, columnName(i, book));
            label(at, extent - unit * 0.35, columnName(i, book));
            label(unit * 0.35, at, rowName(i, size, book));
            label(extent - unit * 0.35, at, rowName(i, size, book));
        }
        this.stones = element('g', { class: 'stones' }, this.board);
    }

    // Shows the board after move (clamped to the record's moves). Requests follow one another: a
    // slider dragged fast asks only for where it stops.
    async go(move) {
        if (this.size === 0)
            return;
        move = Math.max(0, Math.min(this.moves, move));
        this.target = move;
        this.wanted = move;
        if (this.asked !== null)
            return;
        const shown = this.shown;
        while (this.wanted !== null && shown === this.shown) {
            const asking = this.wanted;
            this.wanted = null;
            this.asked = asking;
            const board = await this.worker.request({ type: 'board', move: asking });
            this.asked = null;
            if (shown !== this.shown)
                return;
            this.draw(asking, board);
        }
    }

    draw(move, board) {
        this.drawn = [move, board];
        this.move = move;
        this.slider.value = String(move);
        this.number.textContent = text.moveOf(move, this.moves);
        const size = this.size;
        const onBoard = board.x >= 0 && board.x < size && board.y >= 0 && board.y < size;
        const last = move > 0 && board.colour ? text.lastMove(board.colour === 1, onBoard && pointName(board.x, board.y, size, this.book.checked)) : '';
        this.board.setAttribute('aria-label', text.board(size, move, this.moves, last));
        this.stones.replaceChildren();
        for (let y = 0; y < size; ++y) {
            for (let x = 0; x < size; ++x) {
                const stone = board.stones[y * size + x];
                if (stone === 0)
                    continue;
                const colour = stone === 1 ? 'b' : 'w';
                element('circle', {
                    class: colour, cx: (x + 1) * unit, cy: (y + 1) * unit, r: unit * 0.47,
                    'data-x': x, 'data-y': y, 'data-colour': colour,
                }, this.stones);
            }
        }
        if (this.numbers.checked) {
            for (let point = 0; point < size * size; ++point) {
                const number = board.numbers[point];
                if (!number)
                    continue;
                const label = String(number);
                element('text', {
                    class: board.stones[point] === 1 ? 'number on-b' : 'number on-w',
                    x: ((point % size) + 1) * unit, y: (Math.floor(point / size) + 1) * unit,
                    'font-size': label.length > 2 ? 3.4 : 4.4, 'text-anchor': 'middle', 'dominant-baseline': 'central',
                    'data-x': point % size, 'data-y': Math.floor(point / size),
                }, this.stones).textContent = label;
            }
        }
        this.captures.textContent = text.captures(board.blackCaptures, board.whiteCaptures);
        // The last move, where it put a stone (not a pass, nor a move the board refused).
        // The numbers tell it themselves when they are shown.
        if (!this.numbers.checked && board.x >= 0 && board.x < size && board.y < size &&
            board.stones[board.y * size + board.x] === board.colour) {
            element('circle', {
                class: board.colour === 1 ? 'last on-b' : 'last on-w',
                cx: (board.x + 1) * unit, cy: (board.y + 1) * unit, r: unit * 0.2,
            }, this.stones);
        }
    }
}
