// The page served over http, in chromium: installable (the browser's own
// installability check finds nothing missing), and, once opened, it opens
// and converts again with the server gone and the network off.
//   node offline_tests.mjs PAGE_DIR NATIVE_SKYNOTE
import { readFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { adapted, attempt, check, converted, finish, native_run, open_chromium, page_state, serve } from './lib.mjs';

const [page_dir, native] = process.argv.slice(2);
const list = resolve(dirname(fileURLToPath(import.meta.url)), '../../examples/deepsky.lst');
const work = join(process.env.SKYNOTE_TEST_DIR, 'offline');

const { server, url, served } = await serve(page_dir);

const browser = await open_chromium({ persistent: true, profile: join(work, 'profile'), downloads: join(work, 'downloads') });
const raw = await browser.context.newPage();
raw.on('pageerror', (error) => check('page', false, `the page threw: ${error}`));
const page = adapted(raw);

await attempt('installable', async () => {
    await raw.goto(url);
    await raw.waitForFunction(() => navigator.serviceWorker.controller !== null, null, { timeout: 30000 })
        .catch(() => raw.reload());
    await raw.waitForFunction(() => navigator.serviceWorker.controller !== null, null, { timeout: 30000 });
    const session = await browser.context.newCDPSession(raw);
    const { installabilityErrors } = await session.send('Page.getInstallabilityErrors');
    const errors = installabilityErrors.map((error) => error.errorId);
    console.log(`installable: ${errors.length === 0 ? 'yes' : errors.join(', ')}`);
    check('installable', errors.length === 0, errors.join(', '));
});

await attempt('offline', async () => {
    server.close();
    server.closeAllConnections();
    await browser.context.setOffline(true);
    served.clear();
    await raw.reload();
    await raw.check('input[name="mode"][value="l"]');
    await converted(page, () => raw.setInputFiles('#file', list));
    const got = await page_state(page, true);
    const want = native_run(native, 'l', readFileSync(list));
    const same = got.out && Buffer.compare(got.out, want.out) === 0 && Buffer.compare(got.err, want.err) === 0;
    console.log(`offline: the page reloaded without network and converted ${same ? 'the same bytes' : 'OTHER BYTES'}`);
    check('offline reload and conversion', same && served.size === 0, `${got.state} ${got.note}, served ${[...served]}`);
});

await browser.close();
finish('offline');
