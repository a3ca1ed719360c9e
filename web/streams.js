// The worker's streams: standard input read from a file a piece at a time,
// and output stored as it comes, outside the JavaScript heap, so that the
// worker's memory stays small whatever the sizes.
'use strict';

// Larger pieces of input read no faster, smaller ones slower (measured).
const PIECE = 16 << 20; // input read at a time
const PART = 16 << 20; // output gathered before it is stored
const ASCII_CHUNK = 64 << 10; // input looked at for bytes beyond ASCII at once
const CLI_HAS_NO_LIMIT = ' Das Programm skynote auf der Kommandozeile hat keine solche Grenze.';

// Ends a run at once with a message for the observer; too_big when the
// output outgrew the page's limit, which a chosen file does not have.
class Stop {
    constructor(message, too_big = false) {
        this.message = message;
        this.too_big = too_big;
    }
}

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

// Whether no byte is 0x80 or above: the bytes ORed four at a time where
// they lie on a boundary of four, as a file's pieces do.
function all_ascii(bytes) {
    let high = 0;
    let i = 0;
    if (bytes.byteOffset % 4 === 0) {
        const words = new Uint32Array(bytes.buffer, bytes.byteOffset, bytes.length >> 2);
        for (let k = 0; k < words.length; ++k)
            high |= words[k];
        i = 4 * words.length;
    }
    for (; i < bytes.length; ++i)
        high |= bytes[i];
    return (high & 0x80808080) === 0;
}

// What the page tells about an input: whether it reads as UTF-8 with
// letters beyond ASCII (a list saved by a UTF-8 editor), and whether
// anything follows its first line (the header, which every mode skips).
function input_watch() {
    let expected = 0; // continuation bytes still to come
    let valid = true;
    let beyond_ascii = false;
    let first_line_ended = false;
    const see_each = (bytes) => {
        for (let i = 0; valid && i < bytes.length; ++i) {
            const byte = bytes[i];
            if (expected > 0) {
                valid = (byte & 0xC0) === 0x80;
                --expected;
            } else if (byte >= 0x80) {
                beyond_ascii = true;
                expected = byte >= 0xC2 && byte <= 0xDF ? 1 : byte >= 0xE0 && byte <= 0xEF ? 2 :
                    byte >= 0xF0 && byte <= 0xF4 ? 3 : -1;
                valid = expected > 0;
            }
        }
    };
    return {
        body: false,
        // Most lists are ASCII throughout: their chunks are passed over.
        see(bytes) {
            for (let from = 0; valid && from < bytes.length; from += ASCII_CHUNK) {
                const chunk = bytes.subarray(from, from + ASCII_CHUNK);
                if (expected > 0 || !all_ascii(chunk))
                    see_each(chunk);
            }
            if (!this.body) {
                const feed = bytes.indexOf(10);
                this.body = first_line_ended ? bytes.length > 0 : feed >= 0 && feed + 1 < bytes.length;
                first_line_ended = first_line_ended || feed >= 0;
            }
        },
        utf8: () => valid && expected === 0 && beyond_ascii,
    };
}

// UTF-8 turned into ISO 8859-1 as it comes: a character beyond it becomes
// a question mark, and is counted.
function latin1_transcoder() {
    let code = 0;
    let expected = 0;
    return {
        replaced: 0,
        take(bytes) {
            const out = new Uint8Array(bytes.length);
            let n = 0;
            for (const byte of bytes) {
                if (expected > 0) {
                    code = code << 6 | (byte & 0x3F);
                    if (--expected > 0)
                        continue;
                } else if (byte >= 0xC0) {
                    expected = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
                    code = byte & (0x3F >> expected);
                    continue;
                } else {
                    code = byte;
                }
                this.replaced += code > 0xFF ? 1 : 0;
                out[n++] = code > 0xFF ? 0x3F : code;
            }
            return out.subarray(0, n);
        },
    };
}

// Standard input, a piece at a time: a File is read where it lies, so that
// only one piece of it is ever in memory.  read(room) gives the next bytes,
// none at the end, or null when the file could not be read.
function input_reader(source, transcode = false) {
    const whole = source instanceof Uint8Array;
    const reader = whole ? null : new FileReaderSync();
    const size = whole ? source.length : source.size;
    const watch = input_watch();
    const transcoder = transcode ? latin1_transcoder() : null;
    let offset = 0; // of the source, after the piece
    let piece = new Uint8Array(0);
    let at = 0; // in the piece
    const next_piece = () => {
        const bytes = whole ? source.subarray(offset, offset + PIECE)
            : new Uint8Array(reader.readAsArrayBuffer(source.slice(offset, offset + PIECE)));
        offset += bytes.length;
        watch.see(bytes);
        piece = transcoder ? transcoder.take(bytes) : bytes;
        at = 0;
    };
    return {
        size,
        watch,
        transcoder,
        read_so_far: 0, // of the source
        read(room) {
            while (at === piece.length && offset < size) {
                try {
                    next_piece();
                } catch (failed) {
                    return null; // the file changed or went away
                }
            }
            const got = piece.subarray(at, at + Math.min(room, piece.length - at));
            at += got.length;
            // A transcoded piece is shorter than its source: it counts whole.
            this.read_so_far = offset - (transcoder ? 0 : piece.length - at);
            return got;
        },
    };
}

// WebKit, in a page opened from a file, lets a worker read no Blob at all:
// there the page reads the input, and checks the output once it has it.
const worker_reads_blobs = (() => {
    try {
        return new FileReaderSync().readAsArrayBuffer(new Blob([new Uint8Array(1)])).byteLength === 1;
    } catch (refused) {
        return false;
    }
})();

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
        if (!unchecked || !worker_reads_blobs)
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

// Output kept in memory, for a run whose output is the next one's input.
function memory_store(limit) {
    const parts = [];
    let size = 0;
    return {
        put(bytes) {
            size += bytes.length;
            if (size > limit) {
                throw new Stop(`Abgebrochen: Der Objektindex wird größer als ${megabytes(limit)}; so viel kann die ` +
                    'Seite nicht sortieren. Es gibt kein Ergebnis.' + CLI_HAS_NO_LIMIT, true);
            }
            parts.push(bytes.slice());
        },
        async finish() {
            const whole = new Uint8Array(size);
            let at = 0;
            for (const part of parts) {
                whole.set(part, at);
                at += part.length;
            }
            parts.length = 0;
            return whole;
        },
        abort: async () => { parts.length = 0; },
        keeps: false,
    };
}

// Opens the store for a stream: the chosen file, else the private file
// system, else Blobs (a page opened from a file has no private file system).
async function open_store(name, chosen, type) {
    if (chosen)
        return chosen_file_store(chosen);
    return private_file_store(name).catch(() => blob_store(type));
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
        preview: () => preview.subarray(0, previewed),
    };
}
