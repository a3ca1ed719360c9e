// The worker that runs the SKYNOTE module for the page: one conversion, or
// one zip of several results, per worker.  It reads the input itself and
// stores the output as it goes (streams.js); the page gets progress, the
// first part of each stream as text, and at the end each whole stream as
// one File or Blob, byte for byte.
//
// Messages in:
//   convert { module, mode (m, d, l, L, h, or i: L, then d, then the
//     object lines sorted), input (File, Blob or Uint8Array), transcode
//     (UTF-8 to ISO 8859-1 first), limit (bytes of a stream the page
//     keeps), file (a FileSystemFileHandle for standard output, or null),
//     stored (names in the origin's private file system for the two
//     streams, which the page removes later) }
//   zip { files: [{ name, file }], stored: [name] }
// Messages out: progress { read, total, written }; then done { status, out,
//   err, out_size, err_size, preview, messages, message_count,
//   message_lines, utf8, body, replaced } or failed { message, too_big }.
'use strict';

const PREVIEW_LIMIT = 256 << 10; // output shown as text
const MESSAGES_LIMIT = 64 << 10; // diagnostics shown as text
const PROGRESS_INTERVAL = 100; // milliseconds between progress messages
const INDEX_LIMIT = 512 << 20; // object lines the page sorts in memory
const OBJECT_LINE = 44; // every line of mode d: 42 columns and CR LF

// Progress messages, at most one per interval but the last.
function progress_reporter(reader, out) {
    let last = 0;
    return (force) => {
        const now = performance.now();
        if (force || now - last >= PROGRESS_INTERVAL) {
            last = now;
            self.postMessage({ type: 'progress', read: reader.read_so_far, total: reader.size, written: out.size });
        }
    };
}

// Runs the module once on `reader`, its output into the streams `out` and
// `err`; the exit status.  With `suspending` the module waits for writes
// that return a promise.
async function run_module(module, mode, reader, out, err, suspending, progress = () => {}) {
    const io = {
        read(room) {
            const got = reader.read(room);
            progress(false);
            return got;
        },
        write(fd, bytes) {
            const wait = (fd === 1 ? out : err).write(bytes);
            progress(false);
            return wait;
        },
    };
    const wasi = wasi_imports(['skynote', mode], io);
    if (suspending)
        wasi.imports.fd_write = new WebAssembly.Suspending(wasi.imports.fd_write);
    const instance = new WebAssembly.Instance(module, { wasi_snapshot_preview1: wasi.imports });
    wasi.attach(instance.exports.memory);
    let status = 0;
    try {
        if (suspending)
            await WebAssembly.promising(instance.exports._start)();
        else
            instance.exports._start();
    } catch (thrown) {
        if (!(thrown instanceof WasiExit))
            throw thrown;
        status = thrown.status;
    }
    progress(true);
    return status;
}

// The object lines sorted bytewise, as `LC_ALL=C sort` sorts them.  Every
// line is a record of 44 bytes, its CR LF in the same place, so that the
// first 42 bytes decide; the first eight of them, as two numbers, decide
// most comparisons.
function sorted_lines(bytes) {
    const count = bytes.length / OBJECT_LINE;
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    const high = new Uint32Array(count);
    const low = new Uint32Array(count);
    const order = new Uint32Array(count);
    for (let i = 0; i < count; ++i) {
        high[i] = view.getUint32(i * OBJECT_LINE);
        low[i] = view.getUint32(i * OBJECT_LINE + 4);
        order[i] = i;
    }
    order.sort((a, b) => {
        if (high[a] !== high[b])
            return high[a] < high[b] ? -1 : 1;
        if (low[a] !== low[b])
            return low[a] < low[b] ? -1 : 1;
        for (let i = 8; i < OBJECT_LINE - 2; ++i) {
            const difference = bytes[a * OBJECT_LINE + i] - bytes[b * OBJECT_LINE + i];
            if (difference !== 0)
                return difference;
        }
        return 0;
    });
    const sorted = new Uint8Array(bytes.length);
    for (let i = 0; i < count; ++i)
        sorted.set(bytes.subarray(order[i] * OBJECT_LINE, (order[i] + 1) * OBJECT_LINE), i * OBJECT_LINE);
    return sorted;
}

// The object index of a deep-sky list, as `skynote L <list | skynote d |
// LC_ALL=C sort` gives it: the messages are those of mode L (mode d has
// none), the status the first that is not 0.
async function object_index(module, reader, out, err, progress) {
    const raw = output_stream(memory_store(INDEX_LIMIT), 0, Infinity, false);
    const listed = await run_module(module, 'L', reader, raw, err, false, progress);
    const lines = output_stream(memory_store(INDEX_LIMIT), 0, Infinity, false);
    const expanded = await run_module(module, 'd', input_reader(await raw.finish()), lines, err, false);
    const index = await lines.finish();
    if (index.length % OBJECT_LINE !== 0)
        throw new Stop('Abgebrochen: Modus d hat Zeilen anderer Länge geschrieben. Es gibt kein Ergebnis.');
    out.write(sorted_lines(index));
    return listed || expanded;
}

// The diagnostics that quote an input line, and their quotes.
const QUOTING = ['fehlerhafte %-Zeile: ', 'fehlerhafte Normalzeile: '].map((text) => Uint8Array.from(text, (c) => c.charCodeAt(0)));

function quoted_line(message) {
    for (const prefix of QUOTING) {
        if (message.length >= prefix.length && prefix.every((byte, i) => message[i] === byte))
            return message.subarray(prefix.length);
    }
    return null;
}

// The number of the input line that each message quotes (the header is
// line 1), null for a message that quotes none.  The input is read again;
// its lines come in the order of the messages, and lose their CRs as the
// module's do, up to the first Ctrl-Z.
function line_numbers(source, transcode, messages) {
    const numbers = messages.map(() => null);
    const wanted = messages.map(quoted_line);
    let next = wanted.findIndex((quote) => quote !== null);
    if (next < 0)
        return numbers;
    const longest = Math.max(...wanted.filter((quote) => quote).map((quote) => quote.length));
    const line = new Uint8Array(longest + 1);
    let length = 0;
    let number = 1;
    const reader = input_reader(source, transcode);
    const line_ends = () => {
        const quote = wanted[next];
        if (number > 1 && length === quote.length && quote.every((byte, i) => line[i] === byte)) {
            numbers[next] = number;
            do
                ++next;
            while (next < wanted.length && wanted[next] === null);
        }
        ++number;
        length = 0;
    };
    for (let bytes = reader.read(PIECE); bytes && bytes.length > 0 && next < wanted.length; bytes = reader.read(PIECE)) {
        for (let i = 0; i < bytes.length && next < wanted.length; ++i) {
            const byte = bytes[i];
            if (byte === 0x1A)
                return numbers;
            if (byte === 10)
                line_ends();
            else if (byte !== 13 && length <= longest)
                line[length++] = byte;
        }
    }
    if (next < wanted.length && length > 0)
        line_ends();
    return numbers;
}

// The messages shown, each without its line end.
function split_messages(bytes) {
    const messages = [];
    for (let from = 0; from < bytes.length;) {
        const end = bytes.indexOf(10, from);
        const to = end < 0 ? bytes.length : end + 1;
        const message = bytes.subarray(from, to);
        messages.push(message.subarray(0, message.length - (end < 0 ? 0 : message[message.length - 2] === 13 ? 2 : 1)));
        from = to;
    }
    return messages;
}

async function convert({ module, mode, input, transcode, limit, file, stored }, stores) {
    const type = mode === 'l' ? 'text/csv' : 'text/plain';
    const open = async (name, chosen) => {
        const store = await open_store(name, chosen, type);
        stores.push(store);
        return store;
    };
    const out = output_stream(await open(stored[0], file), PREVIEW_LIMIT, file ? Infinity : limit, false);
    const err = output_stream(await open(stored[1], null), MESSAGES_LIMIT, limit, true);
    const reader = input_reader(input, transcode);
    const progress = progress_reporter(reader, out);
    const status = mode === 'i' ? await object_index(module, reader, out, err, progress)
        : await run_module(module, mode, reader, out, err, file !== null, progress);
    progress(true);
    const [out_file, err_file] = [await out.finish(), await err.finish()];
    const messages = split_messages(err.preview());
    return {
        type: 'done', status, out: out_file, err: err_file, out_size: out.size, err_size: err.size,
        preview: latin1(out.preview()), messages: latin1(err.preview()), message_count: err.lines,
        message_lines: 'lLi'.includes(mode) ? line_numbers(input, transcode, messages) : messages.map(() => null),
        utf8: reader.watch.utf8(), body: reader.watch.body,
        replaced: reader.transcoder ? reader.transcoder.replaced : 0,
    };
}

// One zip of several results, made by client-zip as a stream and stored
// like any output.
async function zip({ files, stored }, stores) {
    const store = await open_store(stored[0], null, 'application/zip');
    stores.push(store);
    const out = output_stream(store, 0, Infinity, false);
    const total = files.reduce((sum, { file }) => sum + (file.size === undefined ? file.length : file.size), 0);
    const zipped = downloadZip(files.map(({ name, file }) => ({ name, input: file }))).body.getReader();
    for (;;) {
        const { done, value } = await zipped.read();
        if (done)
            break;
        out.write(value);
        self.postMessage({ type: 'progress', read: Math.min(out.size, total), total, written: out.size });
    }
    return { type: 'done', status: 0, out: await out.finish(), out_size: out.size };
}

self.onmessage = async (event) => {
    const stores = [];
    try {
        self.postMessage(await (event.data.type === 'zip' ? zip : convert)(event.data, stores));
    } catch (thrown) {
        for (const store of stores)
            await store.abort();
        const stop = thrown instanceof Stop ? thrown : new Stop('Abgebrochen: ' + String(thrown) + '. Es gibt kein Ergebnis.');
        self.postMessage({ type: 'failed', message: stop.message, too_big: stop.too_big });
    }
};
