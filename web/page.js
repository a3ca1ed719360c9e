// The page: takes a list (chosen, dropped or pasted) and a mode, runs the
// module in a worker and shows what it wrote.  The input goes to the module
// exactly as the file holds it, and the download is exactly what the module
// wrote to standard output: CR LF line ends, ISO 8859-1.
'use strict';

const VIEW_LIMIT = 256 * 1024; // bytes of output shown; the download has all

const $ = (id) => document.getElementById(id);
const result = $('result');
let input = null; // { name, bytes }
let running = null; // the worker of the conversion under way
let download_url = null;
let runs = 0; // conversions started; the result shows which one it is

// The module's bytes come as hex in skynote-wasm.js, which a page opened
// from a file can load where it could not fetch a .wasm file.
const module_ready = WebAssembly.compile(
    Uint8Array.from(SKYNOTE_WASM_HEX.match(/../g), (pair) => parseInt(pair, 16)));

// ISO 8859-1: each byte is the character of the same number.
function latin1(chunks, limit) {
    let text = '';
    let left = limit;
    for (const chunk of chunks) {
        const part = chunk.subarray(0, Math.min(chunk.length, left));
        for (let i = 0; i < part.length; i += 8192)
            text += String.fromCharCode.apply(null, part.subarray(i, i + 8192));
        left -= part.length;
        if (left === 0)
            break;
    }
    return text;
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

function show_done(run, mode, out, err, status) {
    const size = out.reduce((sum, chunk) => sum + chunk.length, 0);
    const blob = new Blob(out, { type: mode === 'l' ? 'text/csv' : 'text/plain' });
    if (download_url)
        URL.revokeObjectURL(download_url);
    download_url = URL.createObjectURL(blob);
    const link = $('download');
    link.href = download_url;
    link.download = file_name(mode);
    link.hidden = false;
    $('size').textContent = size + ' Bytes';
    $('output').textContent = latin1(out, VIEW_LIMIT) +
        (size > VIEW_LIMIT ? '\n[… nur die ersten ' + VIEW_LIMIT / 1024 + ' KiB gezeigt]' : '');
    $('diagnostics').textContent = latin1(err, Infinity);
    $('status').textContent = status === 0 ? '' : 'Beendet mit Status ' + status + '.';
    $('progress').hidden = true;
    result.dataset.status = status;
    result.dataset.state = 'done';
    result.dataset.shown = run;
}

async function convert() {
    const mode = chosen_mode();
    if (!input && mode !== 'h')
        return;
    if (running)
        running.terminate();
    const run = ++runs;
    result.dataset.run = run;
    result.dataset.state = 'running';
    $('status').textContent = '';
    $('progress').value = 0;
    $('progress').hidden = false;
    const source = '(' + skynoteWorker.toString() + ')()';
    const worker = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
    running = worker;
    worker.onmessage = (event) => {
        const message = event.data;
        if (message.type === 'progress') {
            $('progress').value = message.total ? message.done / message.total : 1;
            return;
        }
        worker.terminate();
        running = null;
        if (message.type === 'done') {
            show_done(run, mode, message.out, message.err, message.status);
        } else {
            $('status').textContent = 'Abgebrochen: ' + message.message;
            result.dataset.state = 'failed';
            result.dataset.shown = run;
        }
    };
    // The worker gets a copy, so that the input stays for the next mode.
    const bytes = input ? input.bytes.slice() : new Uint8Array(0);
    worker.postMessage({ module: await module_ready, mode, input: bytes.buffer }, [bytes.buffer]);
}

async function take_file(file) {
    input = { name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) };
    $('input-name').textContent = file.name + ' (' + file.size + ' Bytes)';
    convert();
}

$('file').addEventListener('change', () => {
    const chooser = $('file');
    if (chooser.files.length === 0)
        return;
    const file = chooser.files[0];
    chooser.value = ''; // so that choosing the same file again reads it again
    take_file(file);
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
    if (event.dataTransfer.files.length > 0)
        take_file(event.dataTransfer.files[0]);
});
$('use-paste').addEventListener('click', () => {
    input = { name: 'eingabe.txt', bytes: pasted_bytes($('paste').value) };
    $('input-name').textContent = 'Eingef\u00fcgter Text (' + input.bytes.length + ' Bytes)';
    convert();
});
for (const radio of document.querySelectorAll('input[name="mode"]'))
    radio.addEventListener('change', convert);
