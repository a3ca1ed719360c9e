// The page: takes lists (chosen, dropped or pasted) and a mode, and runs
// the module in a worker per list, one after the other; the worker reads
// the list and keeps the output itself.  The page only shows: progress,
// the first part of each output and of its messages, and downloads of
// exactly what the module wrote (CR LF line ends, ISO 8859-1).  Its main
// thread never touches the bytes.
'use strict';

// Bytes of one stream that the page keeps: beyond it a run stops with a
// message, since a browser (a private window, a phone) may hold far less
// than a computer's disk.  A file chosen with "In Datei schreiben" has no
// limit.  Tests may set skynote_output_limit to see the browser's own.
const OUTPUT_LIMIT = 1 << 30;

const result_box = $('result');
let inputs = []; // [{ name, source: File or Uint8Array, size, transcode }]
let batch = null; // the conversions of one mode over all inputs
let runs = 0; // batches started; the result shows which one it is
// Names this page's files in the origin's private file system.
const session = Date.now().toString(36) + Math.random().toString(36).slice(2, 8);

// The modules' bytes come as hex in skynote-wasm.js, the worker's source in
// skynote-worker.js: a page opened from a file may load scripts, but
// neither fetch files nor start a worker from one.
function from_hex(hex) {
    const bytes = new Uint8Array(hex.length / 2);
    for (let i = 0; i < bytes.length; ++i)
        bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
    return bytes;
}
// The module scans with SIMD128 where the browser has it (it validates).
const simd_module = from_hex(SKYNOTE_WASM_HEX);
const module_ready = WebAssembly.compile(WebAssembly.validate(simd_module) ? simd_module : from_hex(SKYNOTE_WASM_WORDS_HEX));
const worker_url = URL.createObjectURL(new Blob([from_hex(SKYNOTE_WORKER_HEX)], { type: 'text/javascript' }));
// WebKit, in a page opened from a file, lets a worker read no Blob and no
// File: there the page reads each list whole and hands its bytes over.
const worker_reads_files = new Promise((answer) => {
    const probe = new Worker(URL.createObjectURL(new Blob([
        'onmessage = (event) => { try { postMessage(new FileReaderSync().readAsArrayBuffer(event.data).byteLength === 1); }' +
        ' catch (refused) { postMessage(false); } };'], { type: 'text/javascript' })));
    probe.onmessage = (event) => {
        answer(event.data);
        probe.terminate();
    };
    probe.onerror = () => answer(false);
    probe.postMessage(new Blob([new Uint8Array(1)]));
});
// Bytes of a list that the page reads whole where it must.
const WHOLE_INPUT_LIMIT = 512 << 20;

// Writing a chosen file as a stream needs the file picker and a module
// that can wait for each write.
const can_write_files = typeof window.showSaveFilePicker === 'function' &&
    typeof WebAssembly.Suspending === 'function' && typeof WebAssembly.promising === 'function';

// A pasted text holds characters, not bytes: those of ISO 8859-1 become
// their byte, any other a question mark, and is named in a note.
function pasted_bytes(text) {
    const replaced = new Map();
    const bytes = Uint8Array.from(text, (c) => {
        const code = c.codePointAt(0);
        if (code <= 0xFF)
            return code;
        replaced.set(c, (replaced.get(c) || 0) + 1);
        return 0x3F;
    });
    return { bytes, replaced };
}

function chosen_mode() {
    return document.querySelector('input[name="mode"]:checked').value;
}

function file_name(input, mode) {
    const base = input ? input.name.replace(/\.[^.]*$/, '') || 'skynote' : 'skynote';
    return base + (mode === 'l' ? '.csv' : mode === 'i' ? '-index.txt' : '.txt');
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
async function remove_stored(names, again = true) {
    const folder = names.length > 0 ? await private_files() : null;
    if (!folder)
        return;
    const left = [];
    for (const name of names)
        await folder.removeEntry(name).catch(() => left.push(name));
    if (left.length > 0 && again)
        setTimeout(() => remove_stored(left, false), 1000);
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

// One conversion: its input, its worker while it runs, what it gave.
function new_result(input, index) {
    return { input, index, state: 'waiting', worker: null, urls: [], stored: [], message: null };
}

function release(result) {
    if (result.worker)
        result.worker.terminate();
    for (const url of result.urls)
        URL.revokeObjectURL(url);
    remove_stored(result.stored);
    result.worker = null;
    result.urls = [];
    result.stored = [];
}

function set_state(state, run) {
    result_box.dataset.state = state;
    // data-run counts the batches started, data-shown names the one whose
    // end the result shows.
    if (state !== 'running')
        result_box.dataset.shown = run;
    $('cancel').hidden = state !== 'running';
}

function announce(text) {
    $('announce').textContent = text;
}

function show_progress(read, total, written) {
    $('progress').value = total > 0 ? read / total : 1;
    $('progress-text').textContent =
        `${format_size(read)} von ${format_size(total)} gelesen, ${format_size(written)} geschrieben`;
}

function offer(link, url, name) {
    link.href = url;
    link.download = name;
    link.hidden = false;
}

function clear_view() {
    for (const id of ['download', 'download-messages', 'to-file', 'views', 'table-box', 'empty-note', 'diagnostics-note',
        'download-zip', 'zip', 'message-count'])
        $(id).hidden = true;
    for (const id of ['status', 'size', 'message-count', 'output', 'diagnostics'])
        show_blocks($(id), () => null);
    $('output').hidden = false;
    $('output-heading').textContent = 'Ausgabe';
    $('download-messages').textContent = 'Meldungen herunterladen';
    $('messages-heading').hidden = false;
    delete result_box.dataset.status;
}

// The result of one conversion in the main view.
function show_result(result) {
    clear_view();
    const mode = batch.mode;
    const done = result.message;
    if (result.state === 'failed' || result.state === 'cancelled') {
        $('status').textContent = result.note;
        $('to-file').hidden = !(result.too_big && can_write_files);
        return;
    }
    if (result.state !== 'done')
        return;
    result_box.dataset.status = done.status;
    if (mode === 'h') {
        // The help screen is the answer here, not a message.
        $('output-heading').textContent = 'Hilfe';
        show_text($('output'), done.messages);
        $('messages-heading').hidden = true;
        offer($('download-messages'), result.urls[1], 'skynote-hilfe.txt');
        $('download-messages').textContent = 'Hilfetext herunterladen';
        return;
    }
    if (result.chosen) {
        $('size').textContent = `Gespeichert in „${result.chosen.name}“ (${format_size(done.out_size)})`;
    } else {
        offer($('download'), result.urls[0], file_name(result.input, mode));
        $('size').textContent = format_size(done.out_size);
    }
    if (done.err_size > 0)
        offer($('download-messages'), result.urls[1], file_name(result.input, mode).replace(/\.[^.]*$/, '') + '-meldungen.txt');
    $('message-count').hidden = false;
    $('message-count').textContent = done.message_count === 0 ? 'Keine Meldungen'
        : done.message_count === 1 ? '1 Meldung' : `${done.message_count} Meldungen`;
    if (done.status !== 0)
        $('status').textContent = 'Beendet mit Status ' + done.status + '.';
    if (done.status === 0 && done.out_size === 0) {
        $('empty-note').textContent = empty_reason(mode, { input_size: result.input ? result.input.size : 0, body: done.body });
        $('empty-note').hidden = false;
    }
    const text = done.preview + (shown_note(done.preview.length, done.out_size) && '\n' + shown_note(done.preview.length, done.out_size));
    show_text($('output'), text);
    if (mode === 'l' && done.out_size > 0) {
        show_table($('table'), $('table-note'), done.preview, done.out_size);
        $('views').hidden = false;
        show_view(table_preferred);
    }
    show_messages($('diagnostics'), done.messages, done.message_lines);
    $('diagnostics-note').textContent = shown_note(done.messages.length, done.err_size);
    $('diagnostics-note').hidden = !$('diagnostics-note').textContent;
}

// Mode l's rows as a table or as the text written.
let table_preferred = true;

function show_view(table) {
    table_preferred = table;
    $('table-box').hidden = !table;
    $('output').hidden = table;
    $('show-table').setAttribute('aria-pressed', String(table));
    $('show-text').setAttribute('aria-pressed', String(!table));
}

// The list of results, when there are several lists.
function show_files() {
    const list = $('files');
    list.hidden = batch.results.length < 2;
    list.textContent = '';
    if (list.hidden)
        return;
    for (const result of batch.results) {
        const item = document.createElement('li');
        item.className = 'file' + (result === batch.selected ? ' selected' : '');
        const show = document.createElement('button');
        show.type = 'button';
        show.textContent = result.input.name;
        show.setAttribute('aria-pressed', String(result === batch.selected));
        show.addEventListener('click', () => {
            batch.selected = result;
            show_files();
            show_result(result);
        });
        const state = document.createElement('span');
        const done = result.message;
        state.textContent = result.state === 'done'
            ? ` ${format_size(done.out_size)}, ${done.message_count === 1 ? '1 Meldung' : done.message_count + ' Meldungen'}`
            : { waiting: ' wartet', running: ' l\u00e4uft', failed: ' abgebrochen', cancelled: ' abgebrochen' }[result.state];
        item.append(show, state);
        if (result.state === 'done' && !result.chosen) {
            const link = document.createElement('a');
            link.className = 'button';
            link.textContent = 'Herunterladen';
            offer(link, result.urls[0], file_name(result.input, batch.mode));
            item.append(' ', link);
        }
        list.append(item);
    }
}

// Starts the next waiting conversion of the batch, or ends the batch.
async function run_next() {
    const result = batch.results.find((candidate) => candidate.state === 'waiting');
    if (!result) {
        const failed = batch.results.length === 1 && batch.results[0].state === 'failed';
        set_state(failed ? 'failed' : 'done', batch.run);
        $('zip').hidden = batch.results.filter((done) => done.state === 'done' && !done.chosen).length < 2;
        const first = batch.results[0];
        announce(first.state === 'done' ? `Fertig: ${$('size').textContent || 'Hilfe'}, ${$('message-count').textContent}` : first.note);
        return;
    }
    const mode = batch.mode;
    const current = batch;
    result.state = 'running';
    show_progress(0, result.input ? result.input.size : 0, 0);
    $('progress-file').textContent = batch.results.length > 1 ? `${result.input.name}: ` : '';
    show_files();
    const input = result.input;
    let source = input ? input.source : new Uint8Array(0);
    if (source instanceof Blob && !(await worker_reads_files)) {
        if (source.size > WHOLE_INPUT_LIMIT) {
            end_failed(result, `Abgebrochen: Dieser Browser l\u00e4sst die Seite eine Liste nur ganz lesen, und ` +
                `„${input.name}“ ist dazu zu gro\u00df (mehr als ${format_size(WHOLE_INPUT_LIMIT)}). ` +
                'Das Programm skynote auf der Kommandozeile hat keine solche Grenze.', false);
            finished(result);
            return;
        }
        source = new Uint8Array(await source.arrayBuffer());
        if (batch !== current || result.state !== 'running')
            return; // cancelled or replaced meanwhile
    }
    const worker = new Worker(worker_url);
    result.worker = worker;
    result.stored = ['out', 'err'].map((name) => `skynote-${session}-${batch.run}-${result.index}-${name}`);
    const mine = () => batch === current && result.worker === worker;
    worker.onmessage = (event) => {
        const message = event.data;
        if (!mine())
            return;
        if (message.type === 'progress') {
            show_progress(message.read, message.total, message.written);
        } else if (message.type === 'done') {
            worker.terminate();
            // The download is offered only once its last byte reads.
            kept(message.out).then((whole) => {
                if (!mine())
                    return;
                result.worker = null;
                if (whole) {
                    result.state = 'done';
                    result.message = message;
                    result.urls = [URL.createObjectURL(message.out), URL.createObjectURL(message.err)];
                    show_encoding(result);
                } else {
                    end_failed(result, 'Abgebrochen: Der Browser hat die Ausgabe nicht behalten (zu wenig Speicher?). ' +
                        'Es gibt kein Ergebnis. Das Programm skynote auf der Kommandozeile hat keine solche Grenze.', false);
                }
                finished(result);
            });
        } else {
            end_failed(result, message.message, message.too_big);
            // A worker ended with gigabytes of parts held up this thread
            // for a moment: it ends once the message is on the screen.
            setTimeout(() => worker.terminate(), 500);
            finished(result);
        }
    };
    worker.onerror = (event) => {
        if (!mine())
            return;
        worker.terminate();
        end_failed(result, 'Abgebrochen: ' + (event.message || 'Fehler im Worker') + '. Es gibt kein Ergebnis.', false);
        finished(result);
    };
    worker.postMessage({
        type: 'convert', module: await module_ready, mode, input: source,
        transcode: Boolean(input && input.transcode), limit: window.skynote_output_limit || OUTPUT_LIMIT,
        file: result.chosen || null, stored: result.stored,
    });
}

// Whether the browser still has the whole output: its last byte reads.
async function kept(file) {
    try {
        return file.size === 0 || (await file.slice(file.size - 1).arrayBuffer()).byteLength === 1;
    } catch (lost) {
        return false;
    }
}

function end_failed(result, note, too_big) {
    result.state = 'failed';
    result.note = note;
    result.too_big = too_big;
    result.worker = null;
    remove_stored(result.stored);
    result.stored = [];
}

function finished(result) {
    if (result === batch.selected)
        show_result(result);
    show_files();
    run_next();
}

// Converts every input in the chosen mode; help converts nothing.
function convert_all() {
    const mode = chosen_mode();
    if (inputs.length === 0 && mode !== 'h') {
        $('status').textContent = 'Bitte zuerst eine Liste w\u00e4hlen, hierher ziehen oder Text einf\u00fcgen.';
        return;
    }
    if (batch)
        batch.results.forEach(release);
    const run = ++runs;
    const chosen = mode === 'h' ? [null] : inputs;
    batch = { run, mode, results: chosen.map(new_result) };
    batch.selected = batch.results[0];
    result_box.dataset.run = run;
    clear_view();
    set_state('running', run);
    announce(mode === 'h' ? 'Hilfe' : `Umwandlung l\u00e4uft: ${inputs.map((input) => input.name).join(', ')}`);
    run_next();
}

function cancel() {
    if (!batch)
        return;
    for (const result of batch.results) {
        if (result.state === 'running' || result.state === 'waiting') {
            release(result);
            result.state = 'cancelled';
            result.note = 'Abgebrochen: die Umwandlung wurde auf Wunsch beendet. Es gibt kein Ergebnis.';
        }
    }
    show_result(batch.selected);
    show_files();
    set_state('cancelled', batch.run);
    announce(batch.selected.note);
}

// Runs the shown conversion again, its output straight into a file the
// observer chooses.
async function convert_to_file() {
    let chosen;
    try {
        chosen = await window.showSaveFilePicker({ suggestedName: file_name(batch.selected.input, batch.mode) });
    } catch (declined) {
        return; // the observer closed the dialog
    }
    const result = batch.selected;
    release(result);
    Object.assign(result, { state: 'waiting', chosen, message: null, note: null });
    batch.run = ++runs;
    result_box.dataset.run = batch.run;
    clear_view();
    set_state('running', batch.run);
    run_next();
}

// Zips every result (and its messages) in a worker of its own.
async function zip_all() {
    const files = [];
    for (const result of batch.results.filter((done) => done.state === 'done' && !done.chosen)) {
        const name = file_name(result.input, batch.mode);
        files.push({ name, file: result.message.out });
        if (result.message.err_size > 0)
            files.push({ name: name.replace(/\.[^.]*$/, '') + '-meldungen.txt', file: result.message.err });
    }
    $('zip').disabled = true;
    // Where the worker can read no file, it gets their bytes.
    if (!(await worker_reads_files)) {
        for (const file of files)
            file.file = new Uint8Array(await file.file.arrayBuffer());
    }
    const worker = new Worker(worker_url);
    const stored = [`skynote-${session}-${batch.run}-zip`];
    const current = batch;
    worker.onmessage = (event) => {
        if (event.data.type === 'progress' || batch !== current)
            return;
        worker.terminate();
        $('zip').disabled = false;
        if (event.data.type === 'done') {
            const url = URL.createObjectURL(event.data.out);
            current.results[0].urls.push(url);
            current.results[0].stored.push(...stored);
            offer($('download-zip'), url, 'skynote-ergebnisse.zip');
            $('zip').hidden = true;
            announce('ZIP fertig');
        } else {
            $('status').textContent = event.data.message;
        }
    };
    worker.postMessage({ type: 'zip', files, stored });
}

// The note on a list saved as UTF-8: the module counts bytes, so each
// letter beyond ASCII shifts the columns; ISO 8859-1 is what it expects.
function show_encoding(result) {
    const input = result.input;
    const note = $('encoding-note');
    if (!input || (!result.message.utf8 && !input.transcode))
        return;
    note.hidden = false;
    $('to-latin1').hidden = input.transcode;
    $('encoding-text').textContent = input.transcode
        ? `„${input.name}“ wurde aus UTF-8 in ISO 8859-1 umgewandelt` +
          (result.message.replaced > 0 ? `; ${result.message.replaced} Zeichen au\u00dferhalb davon wurden zu ?.` : '.')
        : `„${input.name}“ ist in UTF-8 gespeichert: jeder Umlaut verschiebt die Spalten um ein Byte. ` +
          'SKYNOTE erwartet ISO 8859-1; die Liste bleibt, wie sie ist, bis Sie umwandeln.';
}

function take(new_inputs, label) {
    inputs = new_inputs;
    $('input-name').textContent = label;
    $('encoding-note').hidden = true;
    convert_all();
}

function take_files(files) {
    if (files.length === 0)
        return;
    const taken = [...files].map((file) => ({ name: file.name, source: file, size: file.size, transcode: false }));
    take(taken, taken.map((input) => `${input.name} (${format_size(input.size)})`).join(', '));
}

$('file').addEventListener('change', () => {
    const chooser = $('file');
    const files = [...chooser.files];
    chooser.value = ''; // so that choosing the same file again reads it again
    take_files(files);
});
// Lists may be dropped anywhere on the page.
document.addEventListener('dragover', (event) => {
    event.preventDefault();
    $('drop').classList.add('over');
});
document.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget)
        $('drop').classList.remove('over');
});
document.addEventListener('drop', (event) => {
    event.preventDefault();
    $('drop').classList.remove('over');
    take_files(event.dataTransfer.files);
});
$('use-paste').addEventListener('click', () => {
    const { bytes, replaced } = pasted_bytes($('paste').value);
    const note = $('paste-note');
    note.hidden = replaced.size === 0;
    note.textContent = 'Nicht in ISO 8859-1, als ? \u00fcbergeben: ' +
        [...replaced].map(([c, n]) => `${c} (${n}\u00d7)`).join(', ');
    take([{ name: 'eingabe.txt', source: bytes, size: bytes.length, transcode: false }],
        `Eingef\u00fcgter Text (${format_size(bytes.length)})`);
});
$('to-latin1').addEventListener('click', () => {
    for (const input of inputs)
        input.transcode = true;
    convert_all();
});
$('cancel').addEventListener('click', cancel);
$('to-file').addEventListener('click', convert_to_file);
$('zip').addEventListener('click', zip_all);
$('show-table').addEventListener('click', () => show_view(true));
$('show-text').addEventListener('click', () => show_view(false));
for (const radio of document.querySelectorAll('input[name="mode"]'))
    radio.addEventListener('change', convert_all);

// Served over http(s), the page keeps its files for use offline.
if ('serviceWorker' in navigator && location.protocol.startsWith('http'))
    navigator.serviceWorker.register('sw.js').catch(() => {});
