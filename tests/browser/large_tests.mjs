// The page on large lists, in chromium: a list of about 100 MB per mode
// from a page opened as a file (the output kept as Blobs) and over http (in
// the origin's private file system); then a 300 MB raw list whose mode d
// output (2.2 GB) is more than the page keeps: the clear message, or the
// bytes when they go to a chosen file, and the browser's own refusal in a
// private window.  Each case prints its time (and the module's own under
// node, and the native build's), the page's longest main-thread task, the
// browser's memory above its idle figure, and the outcome.  Cases start on
// a quiet disk: one case's gigabytes written back to disk while the next
// runs are no part of the next one's figures.
//   node large_tests.mjs PAGE_DIR NATIVE_SKYNOTE MODULE
import { execFileSync } from 'node:child_process';
import { mkdirSync, rmSync, statSync, statfsSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { WATCH_PAGE, adapted, attempt, browser_memory, check, converted, file_hash, finish, hashed_run,
    open_chromium, page_state, serve, tally } from './lib.mjs';

const [page_dir, native, module] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const work = join(process.env.SKYNOTE_TEST_DIR, 'large');
const LONGEST_TASK = 100; // milliseconds of processor time the page's main thread may take at once
const MEMORY_LIMIT = 256 << 20; // browser memory above idle, outside the output
// Chromium keeps Blobs in memory alone, and refuses them past about 500 MB,
// until it has worked out how much of the disk it may use for them, a
// second or two after it starts (measured with Chromium 156); an observer
// takes longer than that to choose a list.  A case with a profile on disk
// starts no sooner.
const BROWSER_SETTLES = 5000; // milliseconds
mkdirSync(work, { recursive: true });

// The inputs, made by the benchmark's generator; they need room.
const free = statfsSync(work).bavail * statfsSync(work).bsize;
if (free < 8e9) {
    console.log(`SKIP: large lists (${(free / 1e9).toFixed(1)} GB free under ${work}, 8 GB needed)`);
    ++tally.skipped;
    finish('large lists');
    process.exit();
}
const generate = join(work, 'generate');
execFileSync('c++', ['-O2', '-std=c++17', '-o', generate, join(here, '../../bench/generate.cpp')]);
const make_input = (name, kind, count) => {
    const file = join(work, name);
    execFileSync('sh', ['-c', `"$0" ${kind} ${count} > "$1"`, generate, file]);
    return file;
};
const inputs = {
    d: make_input('d.raw', 'raw-d', 17000000), // 102 MB
    m: make_input('m.raw', 'raw-m', 8900000), // 102 MB
    l: make_input('l.lst', 'list', 4600000), // 102 MB
};
inputs.L = inputs.l;

// The page over http, for its private file system.
const { server, url } = await serve(page_dir);
const pages = {
    file: 'file://' + resolve(page_dir, 'index.html'),
    http: url,
};

const mb = (bytes) => (bytes / 1e6).toFixed(0) + ' MB';

// The module's own time under node's WASI, its output thrown away.
function module_time(mode, input) {
    const started = performance.now();
    execFileSync('sh', ['-c', 'node --no-warnings "$0" "$1" "$2" < "$3" > /dev/null', join(here, '../../web/node-run.mjs'),
        module, mode, input]);
    return { seconds: (performance.now() - started) / 1000 };
}

// The tasks of the page's main thread, from the browser's own trace: each
// one's time on the clock and on the processor.  The page's own work is the
// processor time; the clock also counts the time the thread waited for
// this machine, which now and then stalls it for hundreds of milliseconds
// (seen here: a task of 355 ms on the clock in a run whose tasks took at
// most 46 ms of processor time).
async function main_thread_trace(page) {
    const session = await page.context().newCDPSession(page);
    await session.send('Tracing.start', { transferMode: 'ReturnAsStream',
        traceConfig: { includedCategories: ['disabled-by-default-devtools.timeline'] } });
    return async () => {
        const complete = new Promise((resolve) => session.once('Tracing.tracingComplete', resolve));
        await session.send('Tracing.end');
        const { stream, dataLossOccurred } = await complete;
        // A trace of 20 s is some hundred MB, more than a string holds: it
        // is read a line (one event) at a time, and only the threads' names
        // and their tasks are kept.
        const names = [];
        const tasks = [];
        let rest = '';
        const take = (line) => {
            const event = line.startsWith('{') && /"(thread_name|RunTask)"/.test(line) ? JSON.parse(line.replace(/,$/, '')) : null;
            if (event && event.ph === 'M' && event.name === 'thread_name')
                names.push(event);
            else if (event && event.ph === 'X' && event.name === 'RunTask')
                tasks.push({ thread: `${event.pid}:${event.tid}`, wall: event.dur / 1000, cpu: (event.tdur ?? event.dur) / 1000 });
        };
        for (let eof = false; !eof;) {
            const piece = await session.send('IO.read', { handle: stream, size: 1 << 22 });
            const lines = (rest + (piece.base64Encoded ? Buffer.from(piece.data, 'base64').toString() : piece.data)).split('\n');
            rest = lines.pop();
            lines.forEach(take);
            eof = piece.eof;
        }
        take(rest);
        await session.send('IO.close', { handle: stream });
        const main = new Set(names.filter((event) => event.args.name === 'CrRendererMain')
            .map((event) => `${event.pid}:${event.tid}`));
        const mine = tasks.filter((task) => main.has(task.thread));
        return {
            count: dataLossOccurred ? 0 : mine.length, // a trace with gaps tells nothing
            cpu: mine.reduce((most, task) => Math.max(most, task.cpu), 0),
            wall: mine.reduce((most, task) => Math.max(most, task.wall), 0),
        };
    };
}

// Opens the page in a browser of its own and measures one conversion: from
// the mode chosen (the list is chosen first, in mode h, which reads none
// of it) to the result shown, with the page's main-thread tasks traced
// and the browser's memory sampled meanwhile.  The conversion starts at a
// click, as an observer starts it: choosing the file through playwright
// would count the test tool's own handling of the file in the page's
// first task.
// `before` runs on the page first; `start` starts another way.
let open_browser = null; // the one a case opened, closed when the next one opens

async function close_browser() {
    if (open_browser)
        await open_browser.close().catch(() => {});
    open_browser = null;
}

async function measure({ private_window = false, where, mode, input, before = async () => {}, start }) {
    await close_browser();
    const opened = performance.now();
    const browser = open_browser = await open_chromium({ persistent: !private_window, profile: join(work, 'profile'),
        downloads: join(work, 'downloads') });
    const page = await browser.context.newPage();
    page.on('pageerror', (error) => check('page', false, `the page threw: ${error}`));
    await page.addInitScript(WATCH_PAGE);
    await page.goto(pages[where]);
    await page.check('input[name="mode"][value="h"]');
    await converted(adapted(page), () => page.setInputFiles('#file', input));
    await before(page);
    await page.waitForTimeout(Math.max(500, private_window ? 0 : BROWSER_SETTLES - (performance.now() - opened)));
    execFileSync('sync');
    const traced = await main_thread_trace(page);
    const idle = browser_memory();
    let peak = idle;
    const sampler = setInterval(() => { peak = Math.max(peak, browser_memory()); }, 200);
    const started = performance.now();
    await converted(adapted(page), () => (start ? start(page) : page.check(`input[name="mode"][value="${mode}"]`)), 600000);
    const seconds = (performance.now() - started) / 1000;
    clearInterval(sampler);
    const state = await page_state(adapted(page), false);
    return { browser, page, state, seconds, memory: peak - idle, tasks: await traced() };
}

// The download the page offers, hashed: its bytes leave the browser only
// through a real download.
async function download_hash(page, selector) {
    const [download] = await Promise.all([page.waitForEvent('download', { timeout: 120000 }),
        page.evaluate((selector) => document.querySelector(selector).click(), selector)]);
    const hash = await file_hash(await download.path());
    await download.delete();
    return hash;
}

function report(name, run, extra) {
    const { tasks } = run;
    console.log(`${name}: ${run.seconds.toFixed(2)} s in the page, longest main-thread task ${tasks.cpu.toFixed(0)} ms ` +
        `(on the clock ${tasks.wall.toFixed(0)} ms), browser memory +${mb(run.memory)}; ${extra}`);
    check(`${name}: longest task`, tasks.count > 0 && tasks.cpu <= LONGEST_TASK,
        tasks.count > 0 ? `${tasks.cpu} ms of processor time` : 'no task traced, or the trace has gaps');
}

// About 100 MB per mode, from a file and over http: the exact bytes.
for (const [where, modes] of [['file', 'mdlL'], ['http', 'dl']]) {
    for (const mode of modes) {
        const name = `${mode} ${mb(statSync(inputs[mode]).size)} (${where})`;
        await attempt(name, async () => {
            const want = await hashed_run(native, [mode], inputs[mode]);
            const node = module_time(mode, inputs[mode]);
            const run = await measure({ where, mode, input: inputs[mode] });
            const got = run.state.state === 'done' ? await download_hash(run.page, '#download') : null;
            report(name, run, `module under node ${node.seconds.toFixed(2)} s (page/node ${(run.seconds / node.seconds).toFixed(2)}), ` +
                `native ${want.seconds.toFixed(2)} s; ${mb(want.size)} out, ` +
                (got && got.sha256 === want.sha256 ? 'the same bytes' : `DIFFERENT: ${JSON.stringify(got)} (${run.state.note})`));
            check(`${name}: bytes`, got && got.sha256 === want.sha256 && got.size === want.size, 'not the native bytes');
            check(`${name}: memory`, run.memory - want.size <= MEMORY_LIMIT, `${mb(run.memory)} for ${mb(want.size)} out`);
        });
    }
}
await close_browser();
rmSync(join(work, 'profile'), { recursive: true, force: true });

// 300 MB in mode d: 2.2 GB out, more than the page keeps.
const huge = make_input('huge.raw', 'raw-d', 50000000);
const huge_want = await hashed_run(native, ['d'], huge);
const TOO_BIG = /^Abgebrochen: Die Ausgabe wird größer als 1\.024 MB; .* Das Programm skynote auf der Kommandozeile hat keine solche Grenze\.$/;
const REFUSED = /^Abgebrochen: Der Browser hat die Ausgabe nach [0-9.,]+ MB nicht mehr angenommen .* keine solche Grenze\.$/;

// From a file: the clear message, nothing offered, and the way to a file.
await attempt('over the limit', async () => {
    const run = await measure({ where: 'file', mode: 'd', input: huge });
    report('d 300 MB over the limit (file)', run, `${run.state.state}: ${run.state.note}`);
    check('over the limit: message', run.state.state === 'failed' && TOO_BIG.test(run.state.note) &&
        run.state.name === null && run.state.to_file, () => JSON.stringify(run.state.note));
    check('over the limit: memory', run.memory <= MEMORY_LIMIT + (1 << 30), `${mb(run.memory)}`);
});

// Over http, into a chosen file (here one in the private file system,
// since no dialog can be answered): all 2.2 GB, exactly.
await attempt('chosen file', async () => {
    const run = await measure({
        where: 'http', mode: 'd', input: huge,
        before: async (page) => {
            await page.evaluate(() => {
                window.showSaveFilePicker = async () => {
                    const folder = await navigator.storage.getDirectory();
                    window.chosen = await folder.getFileHandle('chosen.txt', { create: true });
                    return window.chosen;
                };
            });
            await converted(adapted(page), () => page.check('input[name="mode"][value="d"]'), 600000);
        },
        start: (page) => page.click('#to-file'),
    });
    let got = null;
    if (run.state.state === 'done') {
        await run.page.evaluate(async () => {
            const link = document.createElement('a');
            link.id = 'chosen-file';
            link.href = URL.createObjectURL(await window.chosen.getFile());
            link.download = 'chosen.txt';
            document.body.append(link);
        });
        got = await download_hash(run.page, '#chosen-file');
    }
    report('d 300 MB into a chosen file (http)', run, `${run.state.state}: ${run.state.note || ''} ` +
        (got && got.sha256 === huge_want.sha256 ? `the same ${mb(got.size)}` : `not the native bytes: ${JSON.stringify(got)}`));
    check('chosen file: bytes', got && got.sha256 === huge_want.sha256 && got.size === huge_want.size, 'not the native bytes');
});
await close_browser();
rmSync(join(work, 'profile'), { recursive: true, force: true });

// A private window keeps Blobs in memory only, and refuses them beyond its
// limit: with the page's own limit lifted, that refusal must be told (or
// the whole output be there).
await attempt('private window', async () => {
    const run = await measure({
        private_window: true, where: 'file', mode: 'd', input: huge,
        before: (page) => page.evaluate(() => { window.skynote_output_limit = 64 * 2 ** 30; }),
    });
    report('d 300 MB in a private window', run, `${run.state.state}: ${run.state.note}`);
    const whole = run.state.state === 'done' && run.state.status === 0 &&
        (await download_hash(run.page, '#download')).sha256 === huge_want.sha256;
    check('private window: the refusal told', whole || (run.state.state === 'failed' && REFUSED.test(run.state.note) &&
        run.state.name === null), JSON.stringify(run.state.note));
});
await close_browser();

server.close();
rmSync(work, { recursive: true, force: true });
finish('large lists');
