// The workers that convert records (worker.js), a few of them, each given a few records at a time:
// a 10 MB record or 10,000 small ones never hold up the page, and a new batch or a change of options
// drops what was not started yet.

const workerUrl = new URL('worker.js', import.meta.url);

// What a worker is given at a time: a few records together (fewer messages), and up to 16 such
// groups, whose files it reads at once while it converts (reading a file takes the browser longer
// than converting it, and more files asked for at once come sooner): at most 32 MB a worker.
const recordsPerRequest = 32;
const groupBytes = 2 << 20;
const requestsPerWorker = 16;

// One worker and the requests it was sent: id -> {resolve, reject}.
class ConverterWorker {
    constructor(onFailure) {
        this.worker = new Worker(workerUrl, { type: 'module' });
        this.waiting = new Map();
        this.worker.onmessage = ({ data }) => {
            const request = this.waiting.get(data.id);
            this.waiting.delete(data.id);
            if (data.error === undefined)
                request.resolve(data.result);
            else
                request.reject(new Error(data.error));
        };
        this.worker.onerror = (event) => {
            event.preventDefault();
            const error = new Error(event.message || 'the worker could not start');
            for (const request of this.waiting.values())
                request.reject(error);
            this.waiting.clear();
            onFailure(error);
        };
    }

    static nextId = 1;

    request(message) {
        const id = ConverterWorker.nextId++;
        return new Promise((resolve, reject) => {
            this.waiting.set(id, { resolve, reject });
            this.worker.postMessage({ ...message, id });
        });
    }

    get busy() {
        return this.waiting.size;
    }

    // The worker skips the requests sent so far that it has not begun.
    skipWaiting() {
        this.worker.postMessage({ type: 'skip', upTo: ConverterWorker.nextId - 1 });
    }
}

export class Converter {
    // count workers, made when first needed; onFailure(error) when one cannot start.
    constructor(count, onFailure) {
        this.count = count;
        this.onFailure = onFailure;
        this.workers = [];
        this.jobs = [];
        this.next = 0;
        this.generation = 0;
    }

    worker(i) {
        while (this.workers.length <= i)
            this.workers.push(new ConverterWorker(this.onFailure));
        return this.workers[i];
    }

    // Starts the workers, so that the converter is loaded before the first record comes.
    warmUp() {
        for (let i = 0; i < this.count; ++i)
            this.worker(i);
    }

    // Drops the jobs not started yet and the results of those under way.
    cancel() {
        this.generation += 1;
        this.jobs = [];
        this.next = 0;
        for (const worker of this.workers)
            worker.skipWaiting();
    }

    // Returns the batch's items for what was opened (files.js), from the converter's plan.
    async plan(opened) {
        const { items } = await this.worker(0).request({ type: 'plan', opened });
        return items;
    }

    // Converts each job ({file, ...}) with options, calling done(job, result) as each finishes, in
    // any order; a later call drops the jobs of this one that were not started, and their results.
    convertAll(jobs, options, done) {
        this.cancel();
        this.jobs = jobs;
        this.next = 0;
        this.options = options;
        this.done = done;
        for (let i = 0; i < this.count; ++i)
            this.feed(this.worker(i));
    }

    feed(worker) {
        const generation = this.generation;
        while (worker.busy < requestsPerWorker && this.next < this.jobs.length) {
            const group = [];
            let bytes = 0;
            while (this.next < this.jobs.length && group.length < recordsPerRequest
                   && (group.length === 0 || bytes + this.jobs[this.next].file.size <= groupBytes)) {
                bytes += this.jobs[this.next].file.size;
                group.push(this.jobs[this.next++]);
            }
            worker.request({ type: 'convert', files: group.map((job) => job.file), options: this.options }).then(
                ({ results }) => {
                    if (generation === this.generation)
                        group.forEach((job, i) => this.done(job, results[i]));
                },
                (error) => {
                    if (generation === this.generation) {
                        for (const job of group)
                            this.done(job, {
                                converted: false, warnings: [], reason: [{ text: error.message, kind: '' }], bytes: null,
                            });
                    }
                }).finally(() => this.feed(worker));
        }
    }
}

// The worker of the preview, apart from the others so that a long batch does not hold it up: it
// keeps the position of the record it converted last.
export class PreviewWorker {
    constructor(onFailure) {
        this.onFailure = onFailure;
        this.worker = null;
    }

    request(message) {
        if (!this.worker)
            this.worker = new ConverterWorker(this.onFailure);
        return this.worker.request(message);
    }
}
