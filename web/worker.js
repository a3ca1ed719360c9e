// The worker that runs the SKYNOTE module for the page.  It reads the chosen
// file itself, a piece at a time, and stores what the module writes outside
// the JavaScript heap as it goes, so that its memory stays small whatever
// the sizes.  The page gets progress, the first part of each stream as text,
// and at the end each whole stream as one file or Blob, byte for byte.
//
// Message in: { module, mode, input (File, Blob or Uint8Array), limit (bytes
//   of a stream the page may keep), file (a FileSystemFileHandle to write
//   standard output to, or null), stored (the names for the two streams in
//   the origin's private file system, which the page removes later) }.
// Messages out: progress { read, total, written }, then either done
//   { status, out, err, out_size, err_size, preview, messages, message_count }
//   or failed { message, too_big }.
'use strict';

// Larger pieces of input read no faster, smaller ones slower (measured).
const PIECE = 16 << 20; // input read at a time
const PART = 16 << 20; // output gathered before it is stored
const PREVIEW_LIMIT = 256 << 10; // output shown as text
const MESSAGES_LIMIT = 64 << 10; // diagnostics shown as text
const PROGRESS_INTERVAL = 100; // milliseconds between progress messages

// Ends the run at once with a message for the observer; too_big when the
// output outgrew the page's limit, which a chosen file does not have.
class Stop {
    constructor(message, too_big = false) {
        this.message = message;
        this.too_big = too_big;
    }
}

const CLI_HAS_NO_LIMIT = ' Das Programm skynote auf der Kommandozeile hat keine solche Grenze.';

function megabytes(bytes) {
    return (bytes / (1 << 20)).toLocaleString('de-DE', { maximumFractionDigits: 1 }) + ' MB';
}

// ISO 8859-1: each byte is the character of the same number.
function latin1(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 8192)
        text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
    return text;
}

// Standard input, a piece at a time: a File is read where it lies, so that
// only one piece of it is ever in memory.
function input_reader(source) {
    const whole = source instanceof Uint8Array;
    const reader = whole ? null : new FileReaderSync();
    const size = whole ? source.length : source.size;
    let piece = whole ? source : new Uint8Array(0);
    let offset = piece.length; // of the source, after the piece
    let at = 0; // in the piece
    return {
        size,
        read_so_far: 0,
        read(room) {
            if (at === piece.length && offset < size) {
                try {
                    piece = new Uint8Array(reader.readAsArrayBuffer(source.slice(offset, offset + PIECE)));
                } catch (failed) {
                    return null; // the file changed or went away
                }
                offset += piece.length;
                at = 0;
            }
            const got = piece.subarray(at, at + Math.min(room, piece.length - at));
            at += got.length;
            this.read_so_far += got.length;
            return got;
        },
    };
}

// Where a stream's parts go.  put(bytes) copies the bytes, or keeps them
// when the store says `keeps` (a new part buffer follows then), and may
// return a promise; finish() gives the whole as a Blob or File.
//
// Blobs: the browser keeps large ones outside the JavaScript heap, on disk
// where it can.  A Blob it could not store only shows when it is read, so
// one byte of each part is read back: that also waits until the part is
// stored, so that parts never pile up in the worker.  The check of each
// part waits until the next one is on its way, which is a third faster
// than waiting for each at once (measured).
function blob_store(type) {
    const parts = [];
    const check = new FileReaderSync();
    let unchecked = null;
    let size = 0;
    const stored = () => {
        if (!unchecked)
            return;
        try {
            check.readAsArrayBuffer(unchecked.slice(unchecked.size - 1));
        } catch (refused) {
            throw new Stop(`Abgebrochen: Der Browser hat die Ausgabe nach ${megabytes(size)} nicht mehr ` +
                'angenommen (zu wenig Speicher, etwa in einem privaten Fenster). Es gibt kein Ergebnis.' +
                CLI_HAS_NO_LIMIT);
        }
        size += unchecked.size;
        unchecked = null;
    };
    return {
        put(bytes) {
            const part = new Blob([bytes]);
            stored();
            parts.push(part);
            unchecked = part;
        },
        async finish() {
            stored();
            return new Blob(parts, { type });
        },
        abort: async () => { parts.length = 0; },
        keeps: false,
    };
}

// The origin's private file system, written synchronously from here: far
// faster than Blobs, on disk.  Only where the page comes from a server.
async function private_file_store(name) {
    const folder = await navigator.storage.getDirectory();
    const handle = await folder.getFileHandle(name, { create: true });
    const access = await handle.createSyncAccessHandle();
    access.truncate(0);
    let size = 0;
    return {
        put(bytes) {
            let written = 0;
            try {
                written = access.write(bytes, { at: size });
            } catch (failed) {
                // QuotaExceededError, or the disk is full
            }
            if (written !== bytes.length) {
                throw new Stop(`Abgebrochen: Der Browser hatte nach ${megabytes(size)} keinen Platz mehr für die ` +
                    'Ausgabe. Es gibt kein Ergebnis.' + CLI_HAS_NO_LIMIT);
            }
            size += written;
        },
        // Closing keeps the file; a flush to the disk first cost a third of a
        // second on 750 MB, and a download does not need it.
        async finish() {
            access.close();
            return handle.getFile();
        },
        async abort() {
            try {
                access.close();
            } catch (closed) {
                // closed already
            }
        },
        keeps: false,
    };
}

// A file the observer chose (showSaveFilePicker), written as a stream: the
// module waits at each part (WebAssembly.Suspending), so nothing piles up,
// and the size has no limit but the disk's.
async function chosen_file_store(handle) {
    const writable = await handle.createWritable();
    let size = 0;
    const failed = (error) => {
        throw new Stop(`Abgebrochen: Die Datei „${handle.name}“ konnte nach ${megabytes(size)} nicht weiter ` +
            `geschrieben werden (${error.message || error}). Sie bleibt, wie sie vorher war.`);
    };
    return {
        put(bytes) {
            return writable.write(bytes).then(() => { size += bytes.length; }, failed);
        },
        async finish() {
            await writable.close().catch(failed);
            return handle.getFile();
        },
        async abort() {
            await writable.abort().catch(() => {});
        },
        keeps: true,
    };
}

// One output stream: gathered into parts for its store, its start kept as
// the text the page shows; the error stream's line feeds are counted, one
// for each message.
function output_stream(store, preview_limit, limit, count_lines) {
    let part = new Uint8Array(PART);
    let used = 0;
    const preview = new Uint8Array(preview_limit);
    let previewed = 0;
    return {
        store,
        size: 0,
        lines: 0,
        write(bytes) {
            this.size += bytes.length;
            if (this.size > limit) {
                throw new Stop(`Abgebrochen: Die Ausgabe wird größer als ${megabytes(limit)}; so viel kann die Seite ` +
                    'im Browser nicht sicher aufbewahren. Es gibt kein Ergebnis.' + CLI_HAS_NO_LIMIT, true);
            }
            const shown = Math.min(bytes.length, preview_limit - previewed);
            preview.set(bytes.subarray(0, shown), previewed);
            previewed += shown;
            for (let i = 0; count_lines && i < bytes.length; ++i)
                this.lines += bytes[i] === 10 ? 1 : 0;
            const waits = [];
            for (let taken = 0; taken < bytes.length;) {
                const n = Math.min(bytes.length - taken, PART - used);
                part.set(bytes.subarray(taken, taken + n), used);
                used += n;
                taken += n;
                if (used === PART) {
                    const wait = store.put(part);
                    if (wait)
                        waits.push(wait);
                    // A new buffer for each part would cost more than the
                    // module's whole run: the collector then works on them.
                    if (store.keeps)
                        part = new Uint8Array(PART);
                    used = 0;
                }
            }
            return waits.length > 0 ? Promise.all(waits) : undefined;
        },
        async finish() {
            if (used > 0)
                await store.put(part.subarray(0, used));
            return store.finish();
        },
        text: () => latin1(preview.subarray(0, previewed)),
    };
}

// Runs the module to its end; the status, or a Stop thrown by the streams.
async function run_module(module, mode, input, out, err, suspending) {
    let last_progress = 0;
    const progress = (force) => {
        const now = performance.now();
        if (force || now - last_progress >= PROGRESS_INTERVAL) {
            last_progress = now;
            self.postMessage({ type: 'progress', read: input.read_so_far, total: input.size, written: out.size });
        }
    };
    const io = {
        read(room) {
            const got = input.read(room);
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

self.onmessage = async (event) => {
    const { module, mode, input, limit, file, stored } = event.data;
    const type = mode === 'l' ? 'text/csv' : 'text/plain';
    const stores = [];
    const open = async (name, chosen) => {
        // A page opened from a file has no private file system: Blobs then.
        const store = chosen ? await chosen_file_store(chosen) : await private_file_store(name).catch(() => blob_store(type));
        stores.push(store);
        return store;
    };
    try {
        const out = output_stream(await open(stored[0], file), PREVIEW_LIMIT, file ? Infinity : limit, false);
        const err = output_stream(await open(stored[1], null), MESSAGES_LIMIT, limit, true);
        const status = await run_module(module, mode, input_reader(input), out, err, file !== null);
        const [out_file, err_file] = [await out.finish(), await err.finish()];
        self.postMessage({
            type: 'done', status, out: out_file, err: err_file, out_size: out.size, err_size: err.size,
            preview: out.text(), messages: err.text(), message_count: err.lines,
        });
    } catch (thrown) {
        for (const store of stores)
            await store.abort();
        const stop = thrown instanceof Stop ? thrown : new Stop('Abgebrochen: ' + String(thrown) + '. Es gibt kein Ergebnis.');
        self.postMessage({ type: 'failed', message: stop.message, too_big: stop.too_big });
    }
};
