// The page in a real browser (Debian's chromium, headless, driven by
// playwright-core), opened from a file as an observer would open it.  Every
// saved input (the mode byte, then standard input) goes in through the file
// chooser; the download's bytes must equal the native build's standard
// output, the diagnostics its error stream, the status its status.  Then a
// few cases of the page's own: a dropped file, pasted text, a mode switch,
// a real download, and with --large a 100 MB list.
//   node page_tests.mjs PAGE_DIR NATIVE_SKYNOTE [--large LIST] DIR...
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const [page_dir, native, ...rest] = process.argv.slice(2);
let large = null;
if (rest[0] === '--large') {
    large = rest[1];
    rest.splice(0, 2);
}
const PAGE_MODES = 'mdlLh';
const examples = resolve(dirname(fileURLToPath(import.meta.url)), '../../examples');
const work = mkdtempSync(join(process.env.SKYNOTE_TEST_DIR || tmpdir(), 'page-'));
let passed = 0;
let failed = 0;
let skipped = 0;

function native_run(mode, input) {
    const run = spawnSync(native, [mode], { input, maxBuffer: 1 << 30 });
    return { out: run.stdout, err: run.stderr, status: run.status };
}

function verdict(name, want, got) {
    const same = Buffer.compare(want.out, got.out) === 0 && Buffer.compare(want.err, got.err) === 0 &&
        want.status === got.status;
    if (same) {
        ++passed;
        return;
    }
    ++failed;
    console.log(`FAIL: ${name}: status ${got.status} (want ${want.status}), ` +
        `${got.out.length} bytes out (want ${want.out.length}), error stream ${JSON.stringify(got.err.toString('latin1'))} ` +
        `(want ${JSON.stringify(want.err.toString('latin1'))})`);
}

const browser = await chromium.launch({
    executablePath: process.env.SKYNOTE_CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', '--allow-file-access-from-files'],
});
const context = await browser.newContext({ acceptDownloads: true });
const page = await context.newPage();
page.on('pageerror', (error) => {
    ++failed;
    console.log(`FAIL: the page threw: ${error}`);
});
await page.goto('file://' + resolve(page_dir, 'index.html'));

const runs = () => page.$eval('#result', (result) => Number(result.dataset.run));

// Does what starts a conversion, and waits until its result is shown.
async function converted(action) {
    const before = await runs();
    await action();
    await page.waitForFunction((before) => {
        const result = document.getElementById('result');
        return Number(result.dataset.run) > before && result.dataset.run === result.dataset.shown;
    }, before, { timeout: 600000 });
}

// What the page shows and offers for download.
async function page_result() {
    const got = await page.evaluate(async () => {
        const link = document.getElementById('download');
        const out = new Uint8Array(await (await fetch(link.href)).arrayBuffer());
        let text = '';
        for (let i = 0; i < out.length; i += 8192)
            text += String.fromCharCode.apply(null, out.subarray(i, i + 8192));
        return {
            out: btoa(text),
            err: document.getElementById('diagnostics').textContent,
            status: Number(document.getElementById('result').dataset.status),
            note: document.getElementById('status').textContent,
            name: link.download,
        };
    });
    return { ...got, out: Buffer.from(got.out, 'base64'), err: Buffer.from(got.err, 'latin1') };
}

let input_chosen = false; // a mode switch converts only once there is input

async function choose_mode(mode) {
    if ((await page.$eval('input[name="mode"]:checked', (radio) => radio.value)) !== mode) {
        const started = input_chosen ? converted : (action) => action();
        await started(() => page.check(`input[name="mode"][value="${mode}"]`));
    }
}

// Every saved input through the file chooser.
for (const dir of rest) {
    for (const name of readdirSync(dir).sort()) {
        const seed = readFileSync(join(dir, name));
        const mode = String.fromCharCode(seed[0]);
        if (!PAGE_MODES.includes(mode) || seed.length === 0) {
            ++skipped; // no argument, or a mode the page does not offer
            continue;
        }
        const input = seed.subarray(1);
        const file = join(work, name + '.raw');
        writeFileSync(file, input);
        await choose_mode(mode);
        await converted(() => page.setInputFiles('#file', file));
        input_chosen = true;
        verdict(name, native_run(mode, input), await page_result());
    }
}

// A dropped file, with a line whose diagnostic quotes bytes that are
// control characters in ISO 8859-1 and letters in other code pages.
const example = Buffer.concat([readFileSync(join(examples, 'deepsky.lst')), Buffer.from('x n 1 \x80\x9f\xfc\n', 'latin1')]);
await choose_mode('l');
await converted(() => page.evaluate((bytes) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], 'liste.lst'));
    document.getElementById('drop').dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true }));
}, [...example]));
verdict('dropped file', native_run('l', example), await page_result());

// Pasted text: characters of ISO 8859-1 become their bytes.
const pasted = 'kopf\n%Atlas #12 31 m31 i5\nG\u00fcnther 7\n';
await choose_mode('d');
await page.click('summary');
await page.fill('#paste', pasted);
await converted(() => page.click('#use-paste'));
const pasted_bytes = Buffer.from(pasted, 'latin1');
verdict('pasted text', native_run('d', pasted_bytes), await page_result());

// Switching the mode converts the same input again; a status other than 0
// shows as a note.
await converted(() => page.check('input[name="mode"][value="h"]'));
const help = await page_result();
verdict('mode switched to h', native_run('h', pasted_bytes), help);
if (help.note !== 'Beendet mit Status 255.') {
    ++failed;
    console.log(`FAIL: status note ${JSON.stringify(help.note)}`);
}

// A real download, of a deep-sky list in mode l: a .csv of the exact bytes.
const list = readFileSync(join(examples, 'deepsky.lst'));
await choose_mode('l');
await converted(() => page.setInputFiles('#file', join(examples, 'deepsky.lst')));
const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
const downloaded = readFileSync(await download.path());
const want = native_run('l', list);
if (download.suggestedFilename() === 'deepsky.csv' && Buffer.compare(downloaded, want.out) === 0) {
    ++passed;
} else {
    ++failed;
    console.log(`FAIL: download ${download.suggestedFilename()}, ${downloaded.length} bytes`);
}

// A large list: the page keeps answering while the worker converts it.
if (large) {
    await choose_mode('l');
    const started = Date.now();
    const before = await runs();
    await page.setInputFiles('#file', large);
    let answers = 0;
    let progress = 0;
    // Until the result shows, the page must answer, and the bar move.
    for (;;) {
        const now = await page.evaluate(() => {
            const result = document.getElementById('result');
            return { run: Number(result.dataset.run), shown: Number(result.dataset.shown),
                progress: document.getElementById('progress').value };
        });
        if (now.run > before && now.shown === now.run)
            break;
        progress = Math.max(progress, now.progress);
        ++answers;
        await page.waitForTimeout(100);
    }
    const seconds = (Date.now() - started) / 1000;
    const got = await page_result();
    const begun = Date.now();
    const want_large = native_run('l', readFileSync(large));
    const native_seconds = (Date.now() - begun) / 1000;
    verdict('large list', want_large, got);
    console.log(`large list: ${seconds.toFixed(1)} s in the page (file chosen to result shown; ` +
        `native ${native_seconds.toFixed(1)} s), the page answered ${answers} times meanwhile, progress seen up to ${progress.toFixed(2)}`);
}

await browser.close();
rmSync(work, { recursive: true, force: true });
console.log(`browser: ${passed} passed, ${failed} failed, ${skipped} skipped`);
process.exitCode = failed === 0 && passed > 0 ? 0 : 1;
