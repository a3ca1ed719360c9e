// Shared by the browser tests: the browser, the native build to compare
// with, the page's state as a test sees it, and the tally.
import { spawn, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { closeSync, createReadStream, openSync, readdirSync, readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { extname, join } from 'node:path';
import { chromium } from 'playwright-core';

const CHROMIUM_ARGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// Chromium as an observer has it: a profile on disk (persistent: true), or
// a private window, which keeps everything in memory.
export async function open_chromium({ persistent, profile, downloads }) {
    const options = { executablePath: process.env.SKYNOTE_CHROMIUM || '/usr/bin/chromium', args: CHROMIUM_ARGS,
        downloadsPath: downloads };
    if (persistent) {
        const context = await chromium.launchPersistentContext(profile, { ...options, acceptDownloads: true });
        return { context, close: () => context.close() };
    }
    const browser = await chromium.launch(options);
    const context = await browser.newContext({ acceptDownloads: true });
    return { context, close: () => browser.close() };
}

export const tally = { passed: 0, failed: 0, skipped: 0 };

export function check(name, ok, detail) {
    if (ok) {
        ++tally.passed;
    } else {
        ++tally.failed;
        console.log(`FAIL: ${name}: ${typeof detail === 'function' ? detail() : detail}`);
    }
    return ok;
}

export function finish(label) {
    console.log(`${label}: ${tally.passed} passed, ${tally.failed} failed, ${tally.skipped} skipped`);
    process.exitCode = tally.failed === 0 && tally.passed > 0 ? 0 : 1;
}

export function native_run(native, mode, input) {
    const run = spawnSync(native, mode === null ? [] : [mode], { input, maxBuffer: 1 << 28 });
    return { out: run.stdout, err: run.stderr, status: run.status };
}

// Hashes a stream as it comes; the size and SHA-256 of it.
function hash_of(stream) {
    return new Promise((resolve, reject) => {
        const hash = createHash('sha256');
        let size = 0;
        stream.on('data', (chunk) => {
            hash.update(chunk);
            size += chunk.length;
        });
        stream.on('end', () => resolve({ size, sha256: hash.digest('hex') }));
        stream.on('error', reject);
    });
}

export const file_hash = (path) => hash_of(createReadStream(path));

// A run of a command on a file, its standard output hashed, not kept.
export async function hashed_run(command, args, input_file) {
    const started = performance.now();
    const input = openSync(input_file, 'r');
    const child = spawn(command, args, { stdio: [input, 'pipe', 'ignore'] });
    closeSync(input);
    const [out, status] = await Promise.all([hash_of(child.stdout),
        new Promise((resolve) => child.on('close', resolve))]);
    return { ...out, status, seconds: (performance.now() - started) / 1000 };
}

// The page's sizes, as the page writes them.
export function format_size(bytes) {
    const units = [[1 << 30, 'GB'], [1 << 20, 'MB'], [1 << 10, 'KB']];
    for (const [unit, name] of units) {
        if (bytes >= unit)
            return (bytes / unit).toLocaleString('de-DE', { maximumFractionDigits: 1 }) + ' ' + name;
    }
    return bytes + (bytes === 1 ? ' Byte' : ' Bytes');
}

export const latin1 = (bytes) => Buffer.from(bytes).toString('latin1');

// Watches the page from its first script on: every worker it starts, and
// whether it ended it.
export const WATCH_PAGE = () => {
    window.skynote_workers = [];
    const PageWorker = window.Worker;
    window.Worker = class extends PageWorker {
        constructor(...args) {
            super(...args);
            this.ended = false;
            window.skynote_workers.push(this);
        }
        terminate() {
            this.ended = true;
            super.terminate();
        }
    };
};

// The page helpers below take any page with evaluate(fn, arg) and
// wait_for(fn, arg, timeout) (engines.mjs); a playwright page gets them here.
export const adapted = (page) => ({
    raw: page,
    evaluate: (fn, arg) => page.evaluate(fn, arg),
    wait_for: (fn, arg, timeout) => page.waitForFunction(fn, arg, { timeout }),
});

export const runs = (page) => page.evaluate(() => Number(document.getElementById('result').dataset.run));

// Does what starts a conversion, and waits until its result (or failure)
// is shown, whole.
export async function converted(page, action, timeout = 60000) {
    const before = await runs(page);
    await action();
    await page.wait_for((before) => {
        const result = document.getElementById('result');
        return Number(result.dataset.run) > before && result.dataset.run === result.dataset.shown &&
            !document.querySelector('[data-complete="false"]');
    }, before, timeout);
}

// What the page shows and offers after a run (a result shown whole), and
// with `bytes` what its downloads hold.  The messages come as written:
// each message's text and its line end, the line numbers apart.
export async function page_state(page, bytes) {
    const got = await page.evaluate(async (bytes) => {
        const $ = (id) => document.getElementById(id);
        const fetched = async (link) => {
            if (!bytes || link.hidden)
                return null;
            const data = new Uint8Array(await (await fetch(link.href)).arrayBuffer());
            let text = '';
            for (let i = 0; i < data.length; i += 8192)
                text += String.fromCharCode.apply(null, data.subarray(i, i + 8192));
            return btoa(text);
        };
        const result = $('result');
        const items = [...document.querySelectorAll('#diagnostics li')];
        return {
            state: result.dataset.state,
            status: result.dataset.status === undefined ? null : Number(result.dataset.status),
            out: await fetched($('download')),
            err: await fetched($('download-messages')),
            name: $('download').hidden ? null : $('download').download,
            view: $('output').textContent,
            view_heading: $('output-heading').textContent,
            messages: items.map((item) => item.querySelector('code').textContent + '\r\n').join('') +
                ($('diagnostics-note').hidden ? '' : $('diagnostics-note').textContent),
            message_lines: items.map((item) => { const line = item.querySelector('.line'); return line ? line.textContent : null; }),
            message_count: $('message-count').hidden ? '' : $('message-count').textContent,
            note: $('status').textContent,
            empty_note: $('empty-note').hidden ? '' : $('empty-note').textContent,
            progress: $('progress').value,
            progress_text: $('progress-text').textContent,
            to_file: !$('to-file').hidden,
            workers: (window.skynote_workers || []).map((worker) => worker.ended),
        };
    }, bytes);
    const decoded = (text) => (text === null ? null : Buffer.from(text, 'base64'));
    return { ...got, out: decoded(got.out), err: decoded(got.err) };
}

// The memory of every process this test started (the browser's, that is),
// in bytes: the sum of their proportional set sizes, so that shared pages
// count once.
export function browser_memory() {
    const parent = new Map();
    for (const pid of readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
        try {
            // The parent is the second field after the name, which may hold blanks.
            const stat = readFileSync(`/proc/${pid}/stat`, 'latin1');
            parent.set(pid, stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
        } catch (gone) {
            // ended meanwhile
        }
    }
    const mine = new Set([String(process.pid)]);
    for (let grew = true; grew;) {
        grew = false;
        for (const [pid, ppid] of parent) {
            if (mine.has(ppid) && !mine.has(pid)) {
                mine.add(pid);
                grew = true;
            }
        }
    }
    let total = 0;
    for (const pid of mine) {
        if (pid === String(process.pid))
            continue;
        try {
            const pss = /^Pss:\s+(\d+) kB/m.exec(readFileSync(`/proc/${pid}/smaps_rollup`, 'latin1'));
            total += pss ? Number(pss[1]) * 1024 : 0;
        } catch (gone) {
            // ended meanwhile
        }
    }
    return total;
}

// Runs a case whose steps may wait in vain (a page that never shows a
// result): that is a failure of the case, and the others still run.
export async function attempt(name, body) {
    try {
        await body();
    } catch (error) {
        check(name, false, `did not finish: ${String(error.message || error).split('\n')[0]}`);
    }
}

// The files in a zip as client-zip writes it (stored, not compressed):
// { name: bytes }, read through its central directory.
export function unzipped(zip) {
    const files = {};
    const end = zip.lastIndexOf(Buffer.from([0x50, 0x4b, 0x05, 0x06]));
    const count = zip.readUInt16LE(end + 10);
    let at = zip.readUInt32LE(end + 16);
    for (let i = 0; i < count; ++i) {
        const method = zip.readUInt16LE(at + 10);
        const size = zip.readUInt32LE(at + 20);
        const name_length = zip.readUInt16LE(at + 28);
        const extra_length = zip.readUInt16LE(at + 30);
        const comment_length = zip.readUInt16LE(at + 32);
        const local = zip.readUInt32LE(at + 42);
        const name = zip.subarray(at + 46, at + 46 + name_length).toString('utf8');
        const data = local + 30 + zip.readUInt16LE(local + 26) + zip.readUInt16LE(local + 28);
        files[name] = method === 0 ? zip.subarray(data, data + size) : null;
        at += 46 + name_length + extra_length + comment_length;
    }
    return files;
}

// Serves the page's folder over http on a free port of this machine; each
// path asked for goes into `served`.  Resolves to { server, url, served }.
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.svg': 'image/svg+xml',
    '.webmanifest': 'application/manifest+json' };

export async function serve(page_dir) {
    const served = new Set();
    const server = createServer((request, response) => {
        const path = new URL(request.url, 'http://x').pathname.replace(/\/$/, '/index.html');
        served.add(path);
        try {
            const body = readFileSync(join(page_dir, path));
            response.writeHead(200, { 'content-type': TYPES[extname(path)] || 'application/octet-stream' });
            response.end(body);
        } catch (missing) {
            response.writeHead(404);
            response.end();
        }
    });
    await new Promise((ready) => server.listen(0, '127.0.0.1', ready));
    return { server, url: `http://127.0.0.1:${server.address().port}/`, served };
}
