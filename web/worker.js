// The worker that runs the WebAssembly module, so that a large list does not
// freeze the page.  The page starts it from this function's source (a page
// opened from a file may not load a worker script), posts it the compiled
// module, the mode and the input bytes, and gets back progress messages and
// then standard output, the error stream and the exit status, byte for byte.
//
// The module is a WASI command; the few WASI calls it makes are answered here:
// standard input from the bytes given, standard output and the error stream
// into lists of chunks, and descriptors that are files, not terminals, so
// that output is buffered as it is when redirected to a file.
function skynoteWorker() {
    'use strict';
    const SUCCESS = 0;
    const EBADF = 8;
    const ENOSYS = 52;
    const FILETYPE_REGULAR_FILE = 4;
    const PROGRESS_STEP = 4 << 20; // bytes read between two progress messages

    // Thrown by proc_exit to leave the module with its status.
    class Exit {
        constructor(status) {
            this.status = status;
        }
    }

    function run(module, args, input, progress) {
        const out = [];
        const err = [];
        let memory = null;
        let read = 0;
        let reported = 0;
        const view = () => new DataView(memory.buffer);
        const bytes = () => new Uint8Array(memory.buffer);
        // The iovec list at `iovs`: pairs of (address, length), 32 bits each.
        const buffers = (iovs, count) => {
            const list = [];
            for (let i = 0; i < count; ++i)
                list.push([view().getUint32(iovs + 8 * i, true), view().getUint32(iovs + 8 * i + 4, true)]);
            return list;
        };
        const strings = () => args.map((arg) => new TextEncoder().encode(arg + '\0'));
        const wasi = {
            args_sizes_get(count_at, size_at) {
                view().setUint32(count_at, args.length, true);
                view().setUint32(size_at, strings().reduce((sum, s) => sum + s.length, 0), true);
                return SUCCESS;
            },
            args_get(pointers_at, text_at) {
                for (const s of strings()) {
                    view().setUint32(pointers_at, text_at, true);
                    bytes().set(s, text_at);
                    pointers_at += 4;
                    text_at += s.length;
                }
                return SUCCESS;
            },
            fd_fdstat_get(fd, stat_at) {
                if (fd > 2)
                    return EBADF;
                bytes().fill(0, stat_at, stat_at + 24);
                view().setUint8(stat_at, FILETYPE_REGULAR_FILE);
                view().setBigUint64(stat_at + 8, 0xFFFFFFFFFFFFFFFFn, true); // every right
                return SUCCESS;
            },
            fd_read(fd, iovs, count, read_at) {
                if (fd !== 0)
                    return EBADF;
                let moved = 0;
                for (const [at, len] of buffers(iovs, count)) {
                    const n = Math.min(len, input.length - read);
                    bytes().set(input.subarray(read, read + n), at);
                    read += n;
                    moved += n;
                }
                view().setUint32(read_at, moved, true);
                if (read - reported >= PROGRESS_STEP || read === input.length) {
                    reported = read;
                    progress(read, input.length);
                }
                return SUCCESS;
            },
            fd_write(fd, iovs, count, written_at) {
                if (fd !== 1 && fd !== 2)
                    return EBADF;
                let moved = 0;
                for (const [at, len] of buffers(iovs, count)) {
                    (fd === 1 ? out : err).push(bytes().slice(at, at + len));
                    moved += len;
                }
                view().setUint32(written_at, moved, true);
                return SUCCESS;
            },
            fd_close(fd) {
                return fd <= 2 ? SUCCESS : EBADF;
            },
            // Reads and writes here never have to wait, so nothing polls.
            poll_oneoff() {
                return ENOSYS;
            },
            proc_exit(status) {
                throw new Exit(status);
            },
        };
        const instance = new WebAssembly.Instance(module, { wasi_snapshot_preview1: wasi });
        memory = instance.exports.memory;
        let status = 0;
        try {
            instance.exports._start();
        } catch (thrown) {
            if (!(thrown instanceof Exit))
                throw thrown;
            status = thrown.status;
        }
        return { out, err, status };
    }

    self.onmessage = (event) => {
        const { module, mode, input } = event.data;
        try {
            const progress = (done, total) => self.postMessage({ type: 'progress', done, total });
            const result = run(module, ['skynote', mode], new Uint8Array(input), progress);
            const buffers = result.out.concat(result.err).map((chunk) => chunk.buffer);
            self.postMessage({ type: 'done', ...result }, buffers);
        } catch (thrown) {
            self.postMessage({ type: 'crashed', message: String(thrown) });
        }
    };
}
