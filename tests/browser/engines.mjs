// The three browser engines behind one small interface, so that the page
// tests run the same steps in each: Chromium through playwright-core,
// Firefox through puppeteer-core (WebDriver BiDi), and WebKit through
// WebKitWebDriver (classic WebDriver, spoken here over HTTP).  Each engine
// is Debian's own; none is downloaded.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync } from 'node:fs';
import { createServer } from 'node:net';
import { join } from 'node:path';
import { open_chromium } from './lib.mjs';

const FIREFOX = '/usr/bin/firefox-esr';
const WEBKIT_DRIVER = '/usr/bin/WebKitWebDriver';
const MINIBROWSER = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';

// The engines this machine has, and why one is missing.
export function available_engines() {
    const engines = [{ name: 'chromium' }];
    engines.push(existsSync(FIREFOX) ? { name: 'firefox' } : { name: 'firefox', missing: `${FIREFOX} not found (firefox-esr)` });
    if (!existsSync(WEBKIT_DRIVER) || !existsSync(MINIBROWSER))
        engines.push({ name: 'webkit', missing: 'WebKitWebDriver or MiniBrowser not found (webkit2gtk-driver)' });
    else if (!process.env.DISPLAY)
        engines.push({ name: 'webkit', missing: 'no display for MiniBrowser (run under xvfb-run)' });
    else
        engines.push({ name: 'webkit' });
    return engines;
}

// Polls a predicate in the page until it holds.
async function wait_until(page, predicate, arg, timeout) {
    const deadline = Date.now() + timeout;
    for (;;) {
        if (await page.evaluate(predicate, arg))
            return;
        if (Date.now() > deadline)
            throw new Error(`waited ${timeout} ms in vain for ${String(predicate).slice(0, 120)}`);
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
}

// Sets a text field as typing would.
const FILL = ([selector, text]) => {
    const field = document.querySelector(selector);
    field.value = text;
    field.dispatchEvent(new Event('input', { bubbles: true }));
};

async function chromium_page(work, watch) {
    const browser = await open_chromium({ persistent: true, profile: join(work, 'chromium-profile'),
        downloads: join(work, 'downloads') });
    const page = await browser.context.newPage();
    if (watch)
        await page.addInitScript(watch);
    return {
        name: 'chromium', raw: page, context: browser.context,
        goto: (url) => page.goto(url),
        reload: () => page.reload(),
        evaluate: (fn, arg) => page.evaluate(fn, arg),
        set_files: (selector, paths) => page.setInputFiles(selector, paths),
        click: (selector) => page.click(selector),
        fill: (selector, text) => page.evaluate(FILL, [selector, text]),
        wait_for: (fn, arg, timeout = 60000) => page.waitForFunction(fn, arg, { timeout }),
        screenshot: (options = {}) => page.screenshot({ fullPage: true, ...options }),
        set_viewport: (width, height) => page.setViewportSize({ width, height }),
        on_error: (report) => page.on('pageerror', (error) => report(String(error))),
        close: () => browser.close(),
    };
}

async function firefox_page(work, watch) {
    const { default: puppeteer } = await import('puppeteer-core');
    const browser = await puppeteer.launch({
        browser: 'firefox', executablePath: FIREFOX, headless: true, protocol: 'webDriverBiDi',
        userDataDir: mkdtempSync(join(work, 'firefox-profile-')),
        extraPrefsFirefox: { 'browser.download.dir': join(work, 'downloads'), 'datareporting.policy.dataSubmissionEnabled': false },
    });
    const page = await browser.newPage();
    if (watch)
        await page.evaluateOnNewDocument(watch);
    return {
        name: 'firefox', raw: page,
        goto: (url) => page.goto(url),
        reload: () => page.reload(),
        evaluate: (fn, arg) => page.evaluate(fn, arg),
        set_files: async (selector, paths) => (await page.$(selector)).uploadFile(...paths),
        click: (selector) => page.click(selector),
        fill: (selector, text) => page.evaluate(FILL, [selector, text]),
        wait_for: (fn, arg, timeout = 60000) => wait_until(page, fn, arg, timeout),
        screenshot: () => page.screenshot({ fullPage: true }),
        set_viewport: (width, height) => page.setViewport({ width, height }),
        on_error: (report) => page.on('pageerror', (error) => report(String(error))),
        close: () => browser.close(),
    };
}

function free_port() {
    return new Promise((resolve) => {
        const server = createServer();
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

// Classic WebDriver over HTTP: just the commands these tests use.
async function webkit_page(work, watch) {
    const port = await free_port();
    const driver = spawn(WEBKIT_DRIVER, [`--port=${port}`], { stdio: 'ignore' });
    const base = `http://127.0.0.1:${port}`;
    const call = async (method, path, body) => {
        for (let tries = 0; ; ++tries) {
            try {
                const response = await fetch(base + path, { method, body: body && JSON.stringify(body),
                    headers: body ? { 'content-type': 'application/json' } : {} });
                const answer = await response.json();
                if (answer.value && answer.value.error)
                    throw new Error(`${answer.value.error}: ${answer.value.message}`);
                return answer.value;
            } catch (error) {
                // The driver takes a moment to listen.
                if (tries > 50 || !/ECONNREFUSED|fetch failed/.test(String(error.cause || error)))
                    throw error;
                await new Promise((resolve) => setTimeout(resolve, 100));
            }
        }
    };
    const session = await call('POST', '/session', { capabilities: { alwaysMatch: {
        'webkitgtk:browserOptions': { binary: MINIBROWSER, args: ['--automation'] } } } });
    const at = `/session/${session.sessionId}`;
    const ELEMENT = 'element-6066-11e4-a52e-4f735466cecf';
    const element = async (selector) => (await call('POST', `${at}/element`, { using: 'css selector', value: selector }))[ELEMENT];
    // The page's value comes back through JSON; a function's result must
    // be JSON too.
    const evaluate = async (fn, arg) => {
        const result = await call('POST', `${at}/execute/async`, {
            script: `const done = arguments[1]; Promise.resolve((${fn})(arguments[0]))
                .then((value) => done({ value: value === undefined ? null : value }), (error) => done({ error: String(error) }));`,
            args: [arg === undefined ? null : arg],
        });
        if (result.error)
            throw new Error(result.error);
        return result.value;
    };
    const after_load = async () => {
        if (watch)
            await evaluate(watch);
    };
    await call('POST', `${at}/timeouts`, { script: 600000 });
    return {
        name: 'webkit',
        goto: async (url) => {
            await call('POST', `${at}/url`, { url });
            await after_load();
        },
        reload: async () => {
            await call('POST', `${at}/refresh`, {});
            await after_load();
        },
        evaluate,
        set_files: async (selector, paths) => call('POST', `${at}/element/${await element(selector)}/value`,
            { text: paths.join('\n') }),
        click: async (selector) => call('POST', `${at}/element/${await element(selector)}/click`, {}),
        fill: (selector, text) => evaluate(FILL, [selector, text]),
        wait_for: (fn, arg, timeout = 60000) => wait_until({ evaluate }, fn, arg, timeout),
        screenshot: async () => Buffer.from(await call('GET', `${at}/screenshot`), 'base64'),
        set_viewport: (width, height) => call('POST', `${at}/window/rect`, { width, height }),
        on_error: () => {},
        close: async () => {
            await call('DELETE', at).catch(() => {});
            driver.kill();
        },
    };
}

// Opens the engine's browser with an empty profile under `work`; `watch`
// runs in every page before the page's own scripts (in WebKit, after them).
export function open_engine(name, work, watch) {
    return { chromium: chromium_page, firefox: firefox_page, webkit: webkit_page }[name](work, watch);
}
