// Runs the WebAssembly build as a command under node's WASI, on node's own
// standard streams:  node --no-warnings node-run.mjs skynote.wasm MODE
import { readFileSync } from 'node:fs';
import { WASI } from 'node:wasi';

const [module_path, ...args] = process.argv.slice(2);
const wasi = new WASI({ version: 'preview1', args: ['skynote', ...args], env: {}, returnOnExit: true });
const module = await WebAssembly.compile(readFileSync(module_path));
const instance = await WebAssembly.instantiate(module, wasi.getImportObject());
process.exitCode = wasi.start(instance);
