// The page in a real browser (Debian's chromium, headless, driven by
// playwright-core), opened from a file as an observer would open it.  Every
// saved input (the mode byte, then standard input) goes in through the file
// chooser; the downloads must equal the native build's standard output and
// error stream, the status its status, and the view, the messages and the
// progress must show them.  Then the page's own cases: a dropped file,
// pasted text, mode switches, help without a list, a conversion started
// while another runs, a cancel, and a real download.
//   node page_tests.mjs PAGE_DIR NATIVE_SKYNOTE DIR...
import { mkdirSync, readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { WATCH_PAGE, attempt, check, converted, finish, format_size, latin1, native_run, open_chromium,
    page_state, tally } from './lib.mjs';

const [page_dir, native, ...dirs] = process.argv.slice(2);
const PAGE_MODES = 'mdlLh';
const VIEW_LIMIT = 256 << 10;
const MESSAGES_LIMIT = 64 << 10;
const examples = resolve(dirname(fileURLToPath(import.meta.url)), '../../examples');
const work = join(process.env.SKYNOTE_TEST_DIR, 'page');
mkdirSync(work, { recursive: true });

const chromium = await open_chromium({ persistent: true, profile: join(work, 'profile'), downloads: join(work, 'downloads') });
const page = await chromium.context.newPage();
page.on('pageerror', (error) => check('page', false, `the page threw: ${error}`));
await page.addInitScript(WATCH_PAGE);
await page.goto('file://' + resolve(page_dir, 'index.html'));

// The start of a stream as the page shows it.
function shown(bytes, limit) {
    const note = bytes.length > limit ? `\n[… nur die ersten ${format_size(limit)} gezeigt]` : '';
    return latin1(bytes.subarray(0, limit)) + note;
}

const count_lines = (bytes) => bytes.reduce((n, byte) => n + (byte === 10 ? 1 : 0), 0);

// Everything the page shows and offers after a run, against the native
// run; help reads nothing of its input.
function compare(name, want, got, input_size, read = input_size) {
    const empty = Buffer.alloc(0);
    const lines = count_lines(want.err);
    const expected = {
        state: 'done',
        status: want.status,
        view: shown(want.out, VIEW_LIMIT),
        messages: shown(want.err, MESSAGES_LIMIT),
        message_count: lines === 1 ? '1 Meldung' : `${lines} Meldungen`,
        progress: input_size > 0 ? read / input_size : 1,
        progress_text: `${format_size(read)} von ${format_size(input_size)} gelesen, ` +
            `${format_size(want.out.length)} geschrieben`,
    };
    const wrong = Object.keys(expected).filter((key) => expected[key] !== got[key]);
    if (got.out === null || Buffer.compare(want.out, got.out) !== 0)
        wrong.push('download');
    if (Buffer.compare(want.err, got.err || empty) !== 0)
        wrong.push('messages download');
    return check(name, wrong.length === 0, () => wrong.map((key) => key.includes('download')
        ? `${key}: ${(key === 'download' ? got.out : got.err || empty)?.length} bytes, want ` +
          `${(key === 'download' ? want.out : want.err).length}`
        : `${key}: ${JSON.stringify(got[key])?.slice(0, 200)}, want ${JSON.stringify(expected[key]).slice(0, 200)}`).join('; '));
}

const checked_mode = () => page.$eval('input[name="mode"]:checked', (radio) => radio.value);
let input_chosen = false; // a mode switch converts only once there is input

async function choose_mode(mode) {
    if ((await checked_mode()) === mode)
        return;
    const click = () => page.check(`input[name="mode"][value="${mode}"]`);
    await (input_chosen ? converted(page, click) : click());
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
        const file = join(work, name + '.raw');
        writeFileSync(file, input);
        await choose_mode(mode);
        await converted(page, () => page.setInputFiles('#file', file));
        input_chosen = true;
        compare(name, native_run(native, mode, input), await page_state(page, true), input.length,
            mode === 'h' ? 0 : input.length);
    }
}

// A dropped file, with a line whose diagnostic quotes bytes that are
// control characters in ISO 8859-1 and letters in other code pages.
await attempt('dropped file', async () => {
    const example = Buffer.concat([readFileSync(join(examples, 'deepsky.lst')), Buffer.from('x n 1 \x80\x9f\xfc\n', 'latin1')]);
    await choose_mode('l');
    await converted(page, () => page.evaluate((bytes) => {
        const transfer = new DataTransfer();
        transfer.items.add(new File([new Uint8Array(bytes)], 'liste.lst'));
        document.getElementById('drop').dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true }));
    }, [...example]));
    compare('dropped file', native_run(native, 'l', example), await page_state(page, true), example.length);
});

// Pasted text: characters of ISO 8859-1 become their bytes, the last of
// them (ÿ) too; any other a question mark.
await attempt('pasted text and mode switch', async () => {
    const pasted = 'kopf\n%Atlas #12 31 m31 i5\nG\u00fcnther 7 \u00ff\u00fe \u20ac\n';
    await choose_mode('d');
    await page.click('summary');
    await page.fill('#paste', pasted);
    await converted(page, () => page.click('#use-paste'));
    const pasted_bytes = Buffer.from(pasted.replace('\u20ac', '?'), 'latin1');
    compare('pasted text', native_run(native, 'd', pasted_bytes), await page_state(page, true), pasted_bytes.length);

    // Switching the mode converts the same input again; a status other than 0
    // shows as a note.
    await converted(page, () => page.check('input[name="mode"][value="h"]'));
    const help = await page_state(page, true);
    compare('mode switched to h', native_run(native, 'h', pasted_bytes), help, pasted_bytes.length, 0);
    check('status note', help.note === 'Beendet mit Status 255.', `status note ${JSON.stringify(help.note)}`);
});

// A real download, of a deep-sky list in mode l: a .csv of the exact bytes.
await attempt('download', async () => {
    const list = readFileSync(join(examples, 'deepsky.lst'));
    await choose_mode('l');
    await converted(page, () => page.setInputFiles('#file', join(examples, 'deepsky.lst')));
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
    const downloaded = readFileSync(await download.path());
    check('download', download.suggestedFilename() === 'deepsky.csv' && Buffer.compare(downloaded, native_run(native, 'l', list).out) === 0,
        `download ${download.suggestedFilename()}, ${downloaded.length} bytes`);
});

// A list of some megabytes, for runs that take a moment.
const rows = [];
for (let i = 0; rows.length < 400000; ++i)
    rows.push(i % 12 === 0 ? `% Atlas ${i} Dobson 200 6.${i % 10}` : `x n ${i} 40 ${i % 7} hell`);
const big = Buffer.from('kopf\n' + rows.join('\n') + '\n', 'latin1');
const big_file = join(work, 'big.lst');
writeFileSync(big_file, big);

// A conversion started while another runs ends the other's worker, and
// only the later one's result is shown.
await attempt('second conversion', async () => {
    await choose_mode('l');
    const workers_before = (await page_state(page, false)).workers.length;
    await converted(page, async () => {
        await page.setInputFiles('#file', big_file);
        await page.check('input[name="mode"][value="L"]');
    });
    const overlapped = await page_state(page, true);
    compare('second conversion', native_run(native, 'L', big), overlapped, big.length);
    check('first conversion ended', overlapped.workers.length === workers_before + 2 && overlapped.workers[workers_before],
        `workers ${JSON.stringify(overlapped.workers.slice(workers_before))}`);
});

// Cancel: the worker ends at once, and nothing is offered as a result.
await attempt('cancel', async () => {
    await choose_mode('d');
    const many = Buffer.from('kopf\n' + '31 m31 i5 u12158 "1~Del 7000 b33 p2 '.repeat(400000) + '\n', 'latin1');
    const many_file = join(work, 'many.raw');
    writeFileSync(many_file, many);
    await page.setInputFiles('#file', many_file);
    await page.waitForFunction(() => document.getElementById('result').dataset.state === 'running' &&
        /[1-9][0-9,]* [KM]B geschrieben/.test(document.getElementById('progress-text').textContent));
    await page.click('#cancel');
    const cancelled = await page_state(page, false);
    check('cancel', cancelled.state === 'cancelled' && cancelled.workers.at(-1) === true && cancelled.name === null &&
        cancelled.note === 'Abgebrochen: die Umwandlung wurde auf Wunsch beendet. Es gibt kein Ergebnis.',
        () => JSON.stringify({ ...cancelled, workers: cancelled.workers.at(-1), view: undefined, long_tasks: undefined }));
});

// Help needs no list: on a page just opened, choosing h shows it.
await attempt('help without a list', async () => {
    await page.reload();
    await converted(page, () => page.check('input[name="mode"][value="h"]'));
    compare('help without a list', native_run(native, 'h', Buffer.alloc(0)), await page_state(page, true), 0);
});

await chromium.close();
finish('browser');
