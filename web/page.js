// The page: takes a list (chosen, dropped or pasted) and a mode, and runs
// the module in a worker, which reads the list and keeps the output itself.
// The page only shows: progress, the first part of the output and of the
// messages, and downloads of exactly what the module wrote (CR LF line
// ends, ISO 8859-1).  Its main thread never touches the bytes.
'use strict';

// Bytes of one stream that the page keeps: beyond it a run stops with a
// message, since a browser (a private window, a phone) may hold far less
// than a computer's disk.  A file chosen with "In Datei schreiben" has no
// limit.  Tests may set skynote_output_limit to see the browser's own.
const OUTPUT_LIMIT = 1 << 30;

const $ = (id) => document.getElementById(id);
const result = $('result');
let input = null; // { name, source: File or Uint8Array, size }
let running = null; // { worker, run, stored } of the conversion under way
let shown = { urls: [], stored: [] }; // what the result holds, to release
let runs = 0; // conversions started; the result shows which one it is
// Names this page's files in the origin's private file system.
const session = Date.now().toString(36) + Math.random().toString(36).slice(2, 8);

// The module's bytes come as hex in skynote-wasm.js, the worker's source in
// skynote-worker.js: a page opened from a file may load scripts, not fetch
// files or start a worker from one.
function from_hex(hex) {
    const bytes = new Uint8Array(hex.length / 2);
    for (let i = 0; i < bytes.length; ++i)
        bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
    return bytes;
}
const module_ready = WebAssembly.compile(from_hex(SKYNOTE_WASM_HEX));
const worker_url = URL.createObjectURL(new Blob([from_hex(SKYNOTE_WORKER_HEX)], { type: 'text/javascript' }));
// Writing a chosen file as a stream needs the file picker and a module
// that can wait for each write.
const can_write_files = typeof window.showSaveFilePicker === 'function' &&
    typeof WebAssembly.Suspending === 'function' && typeof WebAssembly.promising === 'function';

function format_size(bytes) {
    const units = [[1 << 30, 'GB'], [1 << 20, 'MB'], [1 << 10, 'KB']];
    for (const [unit, name] of units) {
        if (bytes >= unit)
            return (bytes / unit).toLocaleString('de-DE', { maximumFractionDigits: 1 }) + ' ' + name;
    }
    return bytes + (bytes === 1 ? ' Byte' : ' Bytes');
}

// A pasted text holds characters, not bytes: those of ISO 8859-1 become
// their byte, any other a question mark.
function pasted_bytes(text) {
    return Uint8Array.from(text, (c) => (c.charCodeAt(0) <= 0xFF ? c.charCodeAt(0) : 0x3F));
}

function chosen_mode() {
    return document.querySelector('input[name="mode"]:checked').value;
}

function file_name(mode) {
    const base = input ? input.name.replace(/\.[^.]*$/, '') || 'skynote' : 'skynote';
    return base + (mode === 'l' ? '.csv' : '.txt');
}

// The origin's private file system, where the worker keeps large outputs;
// none for a page opened from a file.
async function private_files() {
    try {
        return await navigator.storage.getDirectory();
    } catch (none) {
        return null;
    }
}

// A file still open in a worker just ended cannot go at once: once more
// a little later, and what is left then goes when the page is next opened.
async function remove_stored(names) {
    const folder = names.length > 0 ? await private_files() : null;
    if (!folder)
        return;
    const left = [];
    for (const name of names)
        await folder.removeEntry(name).catch(() => left.push(name));
    if (left.length > 0 && !names.again)
        setTimeout(() => remove_stored(Object.assign(left, { again: true })), 1000);
}

// Each open page holds a lock named after its session: files of sessions
// without one are from pages that closed before they could remove them.
async function remove_stale() {
    const folder = await private_files();
    if (!folder || !navigator.locks)
        return;
    const held = new Set((await navigator.locks.query()).held.map((lock) => lock.name));
    for await (const name of folder.keys()) {
        const owner = /^skynote-([a-z0-9]+)-/.exec(name);
        if (owner && !held.has('skynote-' + owner[1]))
            await folder.removeEntry(name).catch(() => {});
    }
}
if (navigator.locks) {
    navigator.locks.request('skynote-' + session, () => {
        remove_stale();
        return new Promise(() => {}); // held while the page is open
    }).catch(() => {});
}

function release_shown() {
    for (const url of shown.urls)
        URL.revokeObjectURL(url);
    remove_stored(shown.stored);
    shown = { urls: [], stored: [] };
}

function show_progress(read, total, written) {
    $('progress').value = total > 0 ? read / total : 1;
    $('progress-text').textContent =
        `${format_size(read)} von ${format_size(total)} gelesen, ${format_size(written)} geschrieben`;
}

// data-run counts the conversions started, data-shown names the one whose
// end the result shows.
function set_state(state, run) {
    result.dataset.state = state;
    if (state !== 'running')
        result.dataset.shown = run;
    $('cancel').hidden = state !== 'running';
}

function offer(link, url, name) {
    link.href = url;
    link.download = name;
    link.hidden = false;
}

// Lays out a long text in blocks of whole lines, one block a frame: the
// 6,000 lines of a full view at once would keep the page busy for longer
// than an observer should wait for a click to answer.
const TEXT_BLOCK = 64 << 10;
let showing = 0; // the text being shown; a newer one stops the older

function show_text(view, text) {
    const shown = ++showing;
    view.textContent = '';
    const add = (from) => {
        if (shown !== showing || from >= text.length)
            return;
        const end = text.indexOf('\n', from + TEXT_BLOCK);
        const to = end < 0 ? text.length : end + 1;
        const block = document.createElement('div');
        block.textContent = text.slice(from, to);
        view.append(block);
        requestAnimationFrame(() => add(to));
    };
    add(0);
}

function show_done(run, mode, message, chosen) {
    const out_url = URL.createObjectURL(message.out);
    const err_url = URL.createObjectURL(message.err);
    shown = { urls: [out_url, err_url], stored: running.stored };
    if (chosen) {
        $('size').textContent = `Gespeichert in „${chosen.name}“ (${format_size(message.out_size)})`;
    } else {
        offer($('download'), out_url, file_name(mode));
        $('size').textContent = format_size(message.out_size);
    }
    show_text($('output'), message.preview +
        (message.out_size > message.preview.length ? `\n[… nur die ersten ${format_size(message.preview.length)} gezeigt]` : ''));
    $('diagnostics').textContent = message.messages +
        (message.err_size > message.messages.length ? `\n[… nur die ersten ${format_size(message.messages.length)} gezeigt]` : '');
    $('message-count').textContent = message.message_count === 1 ? '1 Meldung' : `${message.message_count} Meldungen`;
    if (message.err_size > 0)
        offer($('download-messages'), err_url, file_name(mode).replace(/\.[^.]*$/, '') + '-meldungen.txt');
    $('status').textContent = message.status === 0 ? '' : 'Beendet mit Status ' + message.status + '.';
    result.dataset.status = message.status;
    set_state('done', run);
}

function show_failed(run, text, too_big) {
    remove_stored(running ? running.stored : []);
    $('status').textContent = text;
    $('to-file').hidden = !(too_big && can_write_files);
    set_state('failed', run);
}

function stop_running() {
    if (running)
        running.worker.terminate();
}

function clear_result() {
    release_shown();
    for (const id of ['download', 'download-messages', 'to-file'])
        $(id).hidden = true;
    ++showing;
    for (const id of ['status', 'size', 'output', 'diagnostics', 'message-count'])
        $(id).textContent = '';
    delete result.dataset.status;
}

async function convert(chosen = null) {
    const mode = chosen_mode();
    if (!input && mode !== 'h')
        return;
    stop_running();
    const run = ++runs;
    clear_result();
    result.dataset.run = run;
    show_progress(0, input ? input.size : 0, 0);
    set_state('running', run);
    const worker = new Worker(worker_url);
    const stored = ['out', 'err'].map((name) => `skynote-${session}-${run}-${name}`);
    running = { worker, run, stored };
    const mine = () => running && running.run === run;
    worker.onmessage = (event) => {
        const message = event.data;
        if (!mine())
            return;
        if (message.type === 'progress') {
            show_progress(message.read, message.total, message.written);
            return;
        }
        if (message.type === 'done') {
            worker.terminate();
            show_done(run, mode, message, chosen);
        } else {
            // A worker ended with gigabytes of parts held up this thread
            // for a moment: it ends once the message is on the screen.
            show_failed(run, message.message, message.too_big);
            setTimeout(() => worker.terminate(), 500);
        }
        running = null;
    };
    worker.onerror = (event) => {
        if (!mine())
            return;
        worker.terminate();
        show_failed(run, 'Abgebrochen: ' + (event.message || 'Fehler im Worker') + '. Es gibt kein Ergebnis.', false);
        running = null;
    };
    worker.postMessage({
        module: await module_ready, mode, input: input ? input.source : new Uint8Array(0),
        limit: window.skynote_output_limit || OUTPUT_LIMIT, file: chosen, stored,
    });
}

function cancel() {
    if (!running)
        return;
    const run = running.run;
    stop_running();
    remove_stored(running.stored);
    running = null;
    $('status').textContent = 'Abgebrochen: die Umwandlung wurde auf Wunsch beendet. Es gibt kein Ergebnis.';
    set_state('cancelled', run);
}

async function convert_to_file() {
    let chosen;
    try {
        chosen = await window.showSaveFilePicker({ suggestedName: file_name(chosen_mode()) });
    } catch (declined) {
        return; // the observer closed the dialog
    }
    convert(chosen);
}

function take(source, name, label) {
    input = { name, source, size: source.length === undefined ? source.size : source.length };
    $('input-name').textContent = `${label} (${format_size(input.size)})`;
    convert();
}

$('file').addEventListener('change', () => {
    const chooser = $('file');
    if (chooser.files.length === 0)
        return;
    const file = chooser.files[0];
    chooser.value = ''; // so that choosing the same file again reads it again
    take(file, file.name, file.name);
});
const drop = $('drop');
drop.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    const file = event.dataTransfer.files[0];
    if (file)
        take(file, file.name, file.name);
});
$('use-paste').addEventListener('click', () => {
    take(pasted_bytes($('paste').value), 'eingabe.txt', 'Eingef\u00fcgter Text');
});
$('cancel').addEventListener('click', cancel);
$('to-file').addEventListener('click', convert_to_file);
for (const radio of document.querySelectorAll('input[name="mode"]'))
    radio.addEventListener('change', () => convert());
