// How the page looks and reads, in chromium: the night theme's colours
// (only shades of red on black, in every computed colour and every pixel
// of a screenshot) and that it is remembered; axe-core's accessibility
// check in the light, the dark and the night theme; controls of at least
// 44 pixels at phone width, and every one reachable by keyboard.  With a
// folder, it also keeps a screenshot of each theme for the README.
//   node look_tests.mjs PAGE_DIR [SCREENSHOT_DIR]
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { attempt, adapted, check, converted, finish, open_chromium } from './lib.mjs';

const [page_dir, screenshots] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const work = join(process.env.SKYNOTE_TEST_DIR, 'look');
const axe_source = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');

const browser = await open_chromium({ persistent: true, profile: join(work, 'profile'), downloads: join(work, 'downloads') });
const raw = await browser.context.newPage();
raw.on('pageerror', (error) => check('page', false, `the page threw: ${error}`));
const page = adapted(raw);
await raw.goto('file://' + resolve(page_dir, 'index.html'));

// A page with everything on it: a mode l result (table, messages,
// downloads, progress), the paste box open, the note on UTF-8.
await raw.check('input[name="mode"][value="l"]');
await raw.evaluate(() => { document.getElementById('paste-box').open = true; });
await converted(page, () => raw.setInputFiles('#file', join(here, '../../examples/deepsky.lst')));

async function axe_violations(theme) {
    await raw.evaluate(axe_source);
    const violations = await raw.evaluate(async () => (await axe.run(document, { resultTypes: ['violations'] })).violations
        .map((violation) => `${violation.id}: ${violation.nodes.map((node) => node.target.join(' ')).join(', ')}`));
    console.log(`accessibility (axe-core), ${theme} theme: ${violations.length} violations`);
    check(`axe, ${theme} theme`, violations.length === 0, violations.join('; '));
}

// The README's screenshots: as narrow as a tablet, so that they stay small.
async function keep_screenshot(name) {
    if (!screenshots)
        return;
    await raw.setViewportSize({ width: 760, height: 900 });
    await raw.screenshot({ path: join(screenshots, name), fullPage: true });
    await raw.setViewportSize({ width: 1280, height: 720 });
}

// Every colour the browser computed for any element or pseudo-element that
// has green or blue in it.
const NOT_RED = () => {
    const PROPERTIES = ['color', 'background-color', 'border-top-color', 'border-right-color', 'border-bottom-color',
        'border-left-color', 'outline-color', 'text-decoration-color', 'caret-color', 'accent-color', 'column-rule-color',
        'fill', 'stroke', 'scrollbar-color', 'box-shadow', 'text-shadow', 'text-emphasis-color', '-webkit-text-fill-color',
        '-webkit-text-stroke-color', 'background-image'];
    const PSEUDO = [null, '::before', '::after', '::marker', '::placeholder', '::selection', '::file-selector-button',
        '::-webkit-progress-bar', '::-webkit-progress-value', '::-webkit-scrollbar', '::-webkit-scrollbar-thumb'];
    const found = new Set();
    const colour = /rgba?\(\s*(\d+(?:\.\d+)?)[,\s]+(\d+(?:\.\d+)?)[,\s]+(\d+(?:\.\d+)?)/g;
    for (const element of [document.documentElement, ...document.querySelectorAll('*')]) {
        for (const pseudo of PSEUDO) {
            const style = getComputedStyle(element, pseudo);
            for (const property of PROPERTIES) {
                for (const [text, , green, blue] of style.getPropertyValue(property).matchAll(colour)) {
                    if (Number(green) > 0 || Number(blue) > 0)
                        found.add(`${element.tagName.toLowerCase()}${element.id ? '#' + element.id : ''}${pseudo || ''} ${property}: ${text})`);
                }
            }
        }
    }
    return [...found];
};

// The pixels of a screenshot with green or blue in them, counted in the page.
async function pixels_not_red(png) {
    return raw.evaluate(async (base64) => {
        const bitmap = await createImageBitmap(await (await fetch('data:image/png;base64,' + base64)).blob());
        const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
        const context = canvas.getContext('2d');
        context.drawImage(bitmap, 0, 0);
        const data = context.getImageData(0, 0, bitmap.width, bitmap.height).data;
        let count = 0;
        for (let i = 0; i < data.length; i += 4)
            count += data[i + 1] > 0 || data[i + 2] > 0 ? 1 : 0;
        return count;
    }, png.toString('base64'));
}

await attempt('light theme', async () => {
    await axe_violations('light');
    await keep_screenshot('page-light.png');
});

await attempt('dark theme', async () => {
    await raw.emulateMedia({ colorScheme: 'dark' });
    const background = await raw.evaluate(() => getComputedStyle(document.body).backgroundColor);
    check('dark theme when the system asks', background === 'rgb(18, 20, 22)', background);
    await axe_violations('dark');
    await keep_screenshot('page-dark.png');
    await raw.emulateMedia({ colorScheme: 'light' });
});

await attempt('night theme', async () => {
    await raw.click('#night');
    // Focus on a control, and a selection, so that their colours count too.
    await raw.focus('#show-text');
    await raw.evaluate(() => getSelection().selectAllChildren(document.getElementById('output-heading')));
    const found = await raw.evaluate(NOT_RED);
    check('night theme: computed colours', found.length === 0, found.slice(0, 12).join('; '));
    const screenshot = await raw.screenshot({ fullPage: true });
    const pixels = await pixels_not_red(screenshot);
    console.log(`night theme: ${found.length} computed colours and ${pixels} pixels with green or blue`);
    check('night theme: pixels', pixels === 0, `${pixels} pixels`);
    await axe_violations('night');
    await raw.evaluate(() => getSelection().removeAllRanges());
    await keep_screenshot('page-night.png');
    // Remembered: the next page opens in it.
    await raw.reload();
    const kept = await raw.evaluate(() => [document.documentElement.dataset.theme, document.getElementById('night').getAttribute('aria-pressed')]);
    check('night theme remembered', kept.join() === 'night,true', kept.join());
    await raw.click('#night');
});

// At phone width every control is at least 44 by 44 pixels (a radio
// button or the file chooser by its label), and the keyboard reaches all.
await attempt('touch and keyboard', async () => {
    await raw.setViewportSize({ width: 375, height: 800 });
    await raw.check('input[name="mode"][value="l"]');
    await converted(page, () => raw.setInputFiles('#file', join(here, '../../examples/deepsky.lst')));
    await raw.evaluate(() => { document.getElementById('paste-box').open = true; });
    const small = await raw.evaluate(() => {
        const too_small = [];
        for (const control of document.querySelectorAll('a[href], button, input, summary, textarea, select')) {
            if (control.closest('[hidden]') || control.offsetParent === null && control.type !== 'file')
                continue;
            const target = control.closest('label') || control;
            const box = target.getBoundingClientRect();
            if (box.width < 44 || box.height < 44)
                too_small.push(`${control.tagName.toLowerCase()}#${control.id || control.textContent.trim().slice(0, 20)} ${Math.round(box.width)}x${Math.round(box.height)}`);
        }
        return too_small;
    });
    check('touch targets of 44 pixels', small.length === 0, small.join('; '));
    // Tab through the page: every control with a name is reached.
    const reached = new Set();
    await raw.evaluate(() => document.activeElement.blur());
    for (let i = 0; i < 60; ++i) {
        await raw.keyboard.press('Tab');
        reached.add(await raw.evaluate(() => document.activeElement.id || document.activeElement.getAttribute('name') ||
            document.activeElement.textContent.trim().slice(0, 20)));
    }
    const wanted = ['night', 'file', 'mode', 'paste', 'use-paste', 'message-count', 'download', 'download-messages', 'show-table',
        'show-text'];
    const missed = wanted.filter((name) => !reached.has(name));
    check('keyboard reaches every control', missed.length === 0, `missed ${missed.join(', ')}; reached ${[...reached].join(', ')}`);
});

await browser.close();
finish('look');
