// The page in a real browser, opened from a file as an observer would open
// it, in one engine (chromium, firefox or webkit; engines.mjs).  Every
// saved input (the mode byte, then standard input) goes in through the
// file chooser; the downloads must equal the native build's standard output
// and error stream, the status its status, and the view, the messages and
// the progress must show them.  Then the page's own cases: dropped files,
// pasted text, help, notes on empty output and on UTF-8, several lists at
// once and their zip, the table of mode l, the object index, a conversion
// started while another runs, and a cancel.
//   node page_tests.mjs ENGINE PAGE_DIR NATIVE_SKYNOTE DIR...
import { spawnSync } from 'node:child_process';
import { mkdirSync, readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { open_engine } from './engines.mjs';
import { WATCH_PAGE, attempt, check, converted, finish, format_size, latin1, native_run, page_state, tally,
    unzipped } from './lib.mjs';

const [engine, page_dir, native, ...dirs] = process.argv.slice(2);
const PAGE_MODES = 'mdlLh';
const VIEW_LIMIT = 256 << 10;
const MESSAGES_LIMIT = 64 << 10;
const examples = resolve(dirname(fileURLToPath(import.meta.url)), '../../examples');
const work = join(process.env.SKYNOTE_TEST_DIR, engine);
mkdirSync(work, { recursive: true });
const page_url = 'file://' + resolve(page_dir, 'index.html');

const page = await open_engine(engine, work, WATCH_PAGE);
page.on_error((error) => check('page', false, `the page threw: ${error}`));
await page.goto(page_url);

// The start of a stream as the page shows it.
function shown(bytes, limit) {
    const note = bytes.length > limit ? `\n[… nur die ersten ${format_size(limit)} gezeigt]` : '';
    return latin1(bytes.subarray(0, limit)) + note;
}

// The messages as the page lists them: each with its line end, then the
// note when only the first of them are shown.
function listed(bytes) {
    const messages = latin1(bytes.subarray(0, MESSAGES_LIMIT)).split('\r\n');
    if (messages[messages.length - 1] === '')
        messages.pop();
    return messages.map((message) => message + '\r\n').join('') +
        (bytes.length > MESSAGES_LIMIT ? `[… nur die ersten ${format_size(MESSAGES_LIMIT)} gezeigt]` : '');
}

const count_lines = (bytes) => bytes.reduce((n, byte) => n + (byte === 10 ? 1 : 0), 0);

// Everything the page shows and offers after a run, against the native
// run; help is shown as the answer, not as messages.
function compare(name, mode, want, got, input_size) {
    const empty = Buffer.alloc(0);
    const help = mode === 'h';
    input_size = help ? 0 : input_size; // the page gives help no input at all
    const lines = count_lines(want.err);
    const expected = {
        state: 'done',
        status: want.status,
        view: help ? latin1(want.err) : shown(want.out, VIEW_LIMIT),
        view_heading: help ? 'Hilfe' : 'Ausgabe',
        messages: help ? '' : listed(want.err),
        message_count: help ? '' : lines === 0 ? 'Keine Meldungen' : lines === 1 ? '1 Meldung' : `${lines} Meldungen`,
        note: help || want.status === 0 ? '' : `Beendet mit Status ${want.status}.`,
        progress: 1,
        progress_text: `${format_size(input_size)} von ${format_size(input_size)} gelesen, ${format_size(want.out.length)} geschrieben`,
    };
    const wrong = Object.keys(expected).filter((key) => expected[key] !== got[key]);
    if (!help && (got.out === null || Buffer.compare(want.out, got.out) !== 0))
        wrong.push('download');
    if (Buffer.compare(want.err, got.err || empty) !== 0)
        wrong.push('messages download');
    return check(`${engine}: ${name}`, wrong.length === 0, () => wrong.map((key) => key.includes('download')
        ? `${key}: ${(key === 'download' ? got.out : got.err || empty)?.length} bytes, want ` +
          `${(key === 'download' ? want.out : want.err).length}`
        : `${key}: ${JSON.stringify(got[key])?.slice(0, 200)}, want ${JSON.stringify(expected[key]).slice(0, 200)}`).join('; '));
}

const checked_mode = () => page.evaluate(() => document.querySelector('input[name="mode"]:checked').value);
const mode_radio = (mode) => `input[name="mode"][value="${mode}"]`;
let input_chosen = false; // a mode switch converts only once there is input

async function choose_mode(mode) {
    if ((await checked_mode()) === mode)
        return;
    const click = () => page.click(mode_radio(mode));
    await (input_chosen || mode === 'h' ? converted(page, click) : click());
}

function file_of(name, bytes) {
    const file = join(work, name);
    writeFileSync(file, bytes);
    return file;
}

// Every saved input through the file chooser.
for (const dir of dirs) {
    for (const name of readdirSync(dir).sort()) {
        const seed = readFileSync(join(dir, name));
        const mode = String.fromCharCode(seed[0]);
        if (!PAGE_MODES.includes(mode) || seed.length === 0) {
            ++tally.skipped; // no argument, or a mode the page does not offer
            continue;
        }
        const input = seed.subarray(1);
        await attempt(`${engine}: ${name}`, async () => {
            await choose_mode(mode);
            await converted(page, () => page.set_files('#file', [file_of(name + '.raw', input)]));
            input_chosen = true;
            compare(name, mode, native_run(native, mode, input), await page_state(page, true), input.length);
        });
    }
}

// A file dropped anywhere on the page, with a line whose diagnostic quotes
// bytes that are control characters in ISO 8859-1 and letters in other
// code pages; each message shows the number of the line it quotes.
await attempt(`${engine}: dropped file`, async () => {
    const example = Buffer.concat([readFileSync(join(examples, 'deepsky.lst')), Buffer.from('x n 1 \x80\x9f\xfc\n', 'latin1')]);
    await choose_mode('l');
    await converted(page, () => page.evaluate((bytes) => {
        const transfer = new DataTransfer();
        transfer.items.add(new File([new Uint8Array(bytes)], 'liste.lst'));
        document.querySelector('h1').dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true }));
    }, [...example]));
    const got = await page_state(page, true);
    compare('dropped file', 'l', native_run(native, 'l', example), got, example.length);
    check(`${engine}: line numbers`, JSON.stringify(got.message_lines) === '["Zeile 16: ","Zeile 17: "]',
        JSON.stringify(got.message_lines));
});

// Mode l's rows as a table, the field in quotes as a spreadsheet reads it;
// of a long output the first 500 rows, in order, laid out over frames.
await attempt(`${engine}: table`, async () => {
    const more = Array.from({ length: 600 }, (_, i) => `x n ${i} 60 3\n`).join('');
    const list = Buffer.from('kopf\n% A 7 T 80 5.5\nx n 891 60 3 "hell; OIII\n' + more, 'latin1');
    await choose_mode('l');
    await converted(page, () => page.set_files('#file', [file_of('quoted.lst', list)]));
    const table = await page.evaluate(() => [...document.querySelectorAll('#table tr')].map((row) =>
        [...row.cells].map((cell) => cell.textContent)));
    check(`${engine}: table`, JSON.stringify(table.slice(0, 2)) === JSON.stringify([
        ['Kat', 'Nr', '\u2013', 'Typ', 'Inst', 'Durchm', 'ZQ', 'Vergr', 'fst', 'Sb', 'Bem', 'Filter'],
        ['NGC', '891', '', 'Gx', 'T', '80', 'ZQ', '60', '5.5', '3', '"hell;', 'OIII']]) && table.length === 501 &&
        table.slice(2).every((row, i) => row[1] === String(i)),
    () => `${table.length} rows: ${JSON.stringify(table.slice(0, 3))} ... ${JSON.stringify(table.slice(-1))}`);
    compare('table download', 'l', native_run(native, 'l', list), await page_state(page, true), list.length);
});

// Pasted text: characters of ISO 8859-1 become their bytes, the last of
// them (ÿ) too; any other a question mark, named in a note.
await attempt(`${engine}: pasted text`, async () => {
    const pasted = 'kopf\n%Atlas #12 31 m31 i5\nG\u00fcnther 7 \u00ff\u00fe \u20ac \u20ac\n';
    await choose_mode('d');
    await page.evaluate(() => { document.getElementById('paste-box').open = true; });
    await page.fill('#paste', pasted);
    await converted(page, () => page.click('#use-paste'));
    const pasted_bytes = Buffer.from(pasted.replaceAll('\u20ac', '?'), 'latin1');
    compare('pasted text', 'd', native_run(native, 'd', pasted_bytes), await page_state(page, true), pasted_bytes.length);
    const note = await page.evaluate(() => document.getElementById('paste-note').hidden ? ''
        : document.getElementById('paste-note').textContent);
    check(`${engine}: paste note`, note === 'Nicht in ISO 8859-1, als ? \u00fcbergeben: \u20ac (2\u00d7)', note);

    // Switching the mode converts the same input again; help is shown as
    // the answer, and reads nothing.
    await choose_mode('h');
    compare('mode switched to h', 'h', native_run(native, 'h', pasted_bytes), await page_state(page, true), pasted_bytes.length);
});

// Why an output is empty: a header alone, or no observation.
await attempt(`${engine}: empty output`, async () => {
    await choose_mode('d');
    await converted(page, () => page.set_files('#file', [file_of('header.raw', Buffer.from('%Atlas #7 31\n'))]));
    let got = await page_state(page, false);
    check(`${engine}: header alone`, got.empty_note === 'Die Eingabe hat nur eine Zeile, die Kopfzeile, die jeder ' +
        'Modus \u00fcberspringt: es gibt nichts umzuwandeln.', got.empty_note);
    await choose_mode('l');
    await converted(page, () => page.set_files('#file', [file_of('percent.lst', Buffer.from('kopf\n% A 7 T 80 5.5\n'))]));
    got = await page_state(page, false);
    check(`${engine}: no observation`, got.empty_note.startsWith('Die Liste hat keine Beobachtungen'), got.empty_note);
});

// A UTF-8 list: a note, and on request the list in ISO 8859-1.  Its
// letters beyond ASCII come after 80 KB of blank lines, which the page
// passes over in chunks.
await attempt(`${engine}: UTF-8`, async () => {
    const utf8 = Buffer.from('kopf\n' + ' \n'.repeat(40000) + '%karte_s\u00fcd #7 m\u00e4re_\u00f6stlich \u20ac1\n', 'utf8');
    await choose_mode('m');
    await converted(page, () => page.set_files('#file', [file_of('utf8.raw', utf8)]));
    const note = await page.evaluate(() => document.getElementById('encoding-note').hidden ? ''
        : document.getElementById('encoding-text').textContent);
    check(`${engine}: UTF-8 note`, note.startsWith('„utf8.raw“ ist in UTF-8 gespeichert'), note);
    compare('UTF-8 as it is', 'm', native_run(native, 'm', utf8), await page_state(page, true), utf8.length);
    await converted(page, () => page.click('#to-latin1'));
    const latin = Buffer.from(utf8.toString('utf8').replace('\u20ac', '?'), 'latin1');
    const got = await page_state(page, true);
    check(`${engine}: converted to ISO 8859-1`, got.out && Buffer.compare(got.out, native_run(native, 'm', latin).out) === 0,
        () => JSON.stringify(got.view));
});

// The object index in one step: what skynote L | skynote d | LC_ALL=C sort
// gives, CR LF kept.
await attempt(`${engine}: object index`, async () => {
    const list = Buffer.concat([readFileSync(join(examples, 'deepsky.lst')),
        Buffer.from('% Atlas 3 T 80 5.5\nx i 434 60 3\nx n 31 60 3\nx m 31 60 3\n', 'latin1')]);
    const pipeline = spawnSync('sh', ['-c', '"$0" L | "$0" d | LC_ALL=C sort', native], { input: list });
    await choose_mode('i');
    await converted(page, () => page.set_files('#file', [file_of('index.lst', list)]));
    const got = await page_state(page, true);
    check(`${engine}: object index`, got.out && Buffer.compare(got.out, pipeline.stdout) === 0 &&
        Buffer.compare(got.err || Buffer.alloc(0), native_run(native, 'L', list).err) === 0,
    () => `${got.out?.length} bytes, want ${pipeline.stdout.length}: ${JSON.stringify(got.view.slice(0, 300))}`);
});

// Several lists at once: each converted, listed and offered, and all of
// them in one zip.
await attempt(`${engine}: several lists`, async () => {
    const lists = [
        ['eins.lst', readFileSync(join(examples, 'deepsky.lst'))],
        ['zwei.lst', Buffer.from('kopf\n% A 7 T 80 5.5\nx n 891 60 3 hell OIII\n')],
        ['drei.lst', Buffer.from('kopf\nx n 1\n')],
    ];
    await choose_mode('l');
    await converted(page, () => page.set_files('#file', lists.map(([name, bytes]) => file_of(name, bytes))));
    const offered = await page.evaluate(async () => Promise.all([...document.querySelectorAll('#files a')].map(async (link) =>
        [link.download, btoa(String.fromCharCode(...new Uint8Array(await (await fetch(link.href)).arrayBuffer())))])));
    const want = lists.map(([name, bytes]) => [name.replace('.lst', '.csv'), native_run(native, 'l', bytes)]);
    check(`${engine}: several lists`, JSON.stringify(offered) ===
        JSON.stringify(want.map(([name, run]) => [name, run.out.toString('base64')])), JSON.stringify(offered).slice(0, 300));
    await page.click('#zip');
    await page.wait_for(() => !document.getElementById('download-zip').hidden);
    const zip = Buffer.from(await page.evaluate(async () => btoa(String.fromCharCode(...new Uint8Array(
        await (await fetch(document.getElementById('download-zip').href)).arrayBuffer())))), 'base64');
    const files = unzipped(zip);
    const zip_want = {};
    for (const [name, run] of want) {
        zip_want[name] = run.out;
        if (run.err.length > 0)
            zip_want[name.replace('.csv', '-meldungen.txt')] = run.err;
    }
    check(`${engine}: zip`, Object.keys(files).join() === Object.keys(zip_want).join() &&
        Object.keys(zip_want).every((name) => files[name] && Buffer.compare(files[name], zip_want[name]) === 0),
    () => Object.keys(files).join());
});

// A list of some megabytes, for runs that take a moment.
const rows = [];
for (let i = 0; rows.length < 400000; ++i)
    rows.push(i % 12 === 0 ? `% Atlas ${i} Dobson 200 6.${i % 10}` : `x n ${i} 40 ${i % 7} hell`);
const big = Buffer.from('kopf\n' + rows.join('\n') + '\n', 'latin1');
const big_file = file_of('big.lst', big);

// A conversion started while another runs ends the other's worker, and
// only the later one's result is shown.
await attempt(`${engine}: second conversion`, async () => {
    await choose_mode('l');
    const workers_before = (await page_state(page, false)).workers.length;
    await converted(page, async () => {
        await page.set_files('#file', [big_file]);
        await page.click(mode_radio('L'));
    });
    const overlapped = await page_state(page, true);
    compare('second conversion', 'L', native_run(native, 'L', big), overlapped, big.length);
    // Every worker the page started is ended (in WebKit from a file the
    // first conversion may still be reading its list, with no worker yet).
    const started = overlapped.workers.slice(workers_before);
    check(`${engine}: first conversion ended`, started.length >= (engine === 'webkit' ? 1 : 2) && started.every((ended) => ended),
        `workers ${JSON.stringify(started)}`);
});

// Cancel: the worker ends at once, and nothing is offered as a result.
// The button is pressed in the same task of the page that sees output
// written, so that a conversion cannot end between the two (the drivers
// take long enough between a look and a click for a fast one to finish).
await attempt(`${engine}: cancel`, async () => {
    await choose_mode('d');
    const many = Buffer.from('kopf\n' + '31 m31 i5 u12158 "1~Del 7000 b33 p2 '.repeat(1500000) + '\n', 'latin1');
    await page.set_files('#file', [file_of('many.raw', many)]);
    await page.wait_for(() => {
        const cancel = document.getElementById('cancel');
        const writing = document.getElementById('result').dataset.state === 'running' &&
            /[1-9][0-9,]* [KM]B geschrieben/.test(document.getElementById('progress-text').textContent) &&
            !cancel.disabled && cancel.getClientRects().length > 0;
        if (writing)
            cancel.click();
        return writing;
    });
    const cancelled = await page_state(page, false);
    check(`${engine}: cancel`, cancelled.state === 'cancelled' && cancelled.workers.at(-1) === true && cancelled.name === null &&
        cancelled.note === 'Abgebrochen: die Umwandlung wurde auf Wunsch beendet. Es gibt kein Ergebnis.',
    () => JSON.stringify({ ...cancelled, workers: cancelled.workers.at(-1), view: undefined }));
});

// On a page just opened: a mode without a list says what is missing, and
// help needs no list.
await attempt(`${engine}: page just opened`, async () => {
    await page.goto(page_url);
    input_chosen = false;
    await page.click(mode_radio('l'));
    const note = await page.evaluate(() => document.getElementById('status').textContent);
    check(`${engine}: no list yet`, note === 'Bitte zuerst eine Liste w\u00e4hlen, hierher ziehen oder Text einf\u00fcgen.', note);
    await converted(page, () => page.click(mode_radio('h')));
    compare('help without a list', 'h', native_run(native, 'h', Buffer.alloc(0)), await page_state(page, true), 0);
});

// A real download, of a deep-sky list in mode l: a .csv of the exact bytes
// (playwright sees the browser's downloads).
if (engine === 'chromium') {
    await attempt('chromium: download', async () => {
        const list = readFileSync(join(examples, 'deepsky.lst'));
        await choose_mode('l');
        await converted(page, () => page.set_files('#file', [join(examples, 'deepsky.lst')]));
        const [download] = await Promise.all([page.raw.waitForEvent('download'), page.click('#download')]);
        const downloaded = readFileSync(await download.path());
        check('chromium: download', download.suggestedFilename() === 'deepsky.csv' &&
            Buffer.compare(downloaded, native_run(native, 'l', list).out) === 0,
        `download ${download.suggestedFilename()}, ${downloaded.length} bytes`);
    });
}

await page.close();
finish(`${engine}`);
