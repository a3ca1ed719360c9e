// The few WASI calls that the SKYNOTE module makes, answered in a worker:
// standard input from a reader, standard output and the error stream to a
// writer.  The descriptors are files, not terminals, so that the module
// buffers its output as it does when redirected to a file.
'use strict';

const WASI_SUCCESS = 0;
const WASI_EBADF = 8;
const WASI_EIO = 29;
const WASI_ENOSYS = 52;
const WASI_FILETYPE_REGULAR_FILE = 4;

// Thrown by proc_exit to leave the module with its status.
class WasiExit {
    constructor(status) {
        this.status = status;
    }
}

// The imports for a module run with `args`.  io.read(room) gives the next
// bytes of standard input (none at its end), or null when reading failed;
// io.write(fd, bytes) takes a view of the module's memory, which it must
// copy at once, and returns nothing, or a promise to wait for when the
// module runs suspended (WebAssembly.Suspending).  Whatever io throws ends
// the run.  Call attach(memory) once the module is instantiated.
function wasi_imports(args, io) {
    let memory = null;
    const view = () => new DataView(memory.buffer);
    const bytes = () => new Uint8Array(memory.buffer);
    const strings = args.map((arg) => new TextEncoder().encode(arg + '\0'));
    // The iovec list at `iovs`: pairs of (address, length), 32 bits each.
    const buffers = (iovs, count) => {
        const list = [];
        for (let i = 0; i < count; ++i)
            list.push([view().getUint32(iovs + 8 * i, true), view().getUint32(iovs + 8 * i + 4, true)]);
        return list;
    };
    const imports = {
        args_sizes_get(count_at, size_at) {
            view().setUint32(count_at, strings.length, true);
            view().setUint32(size_at, strings.reduce((sum, s) => sum + s.length, 0), true);
            return WASI_SUCCESS;
        },
        args_get(pointers_at, text_at) {
            for (const s of strings) {
                view().setUint32(pointers_at, text_at, true);
                bytes().set(s, text_at);
                pointers_at += 4;
                text_at += s.length;
            }
            return WASI_SUCCESS;
        },
        fd_fdstat_get(fd, stat_at) {
            if (fd > 2)
                return WASI_EBADF;
            bytes().fill(0, stat_at, stat_at + 24);
            view().setUint8(stat_at, WASI_FILETYPE_REGULAR_FILE);
            view().setBigUint64(stat_at + 8, 0xFFFFFFFFFFFFFFFFn, true); // every right
            return WASI_SUCCESS;
        },
        fd_read(fd, iovs, count, read_at) {
            if (fd !== 0)
                return WASI_EBADF;
            let moved = 0;
            for (const [at, len] of buffers(iovs, count)) {
                const got = io.read(len);
                if (got === null)
                    return WASI_EIO; // the module reports it as a read error
                bytes().set(got, at);
                moved += got.length;
                if (got.length < len)
                    break;
            }
            view().setUint32(read_at, moved, true);
            return WASI_SUCCESS;
        },
        fd_write(fd, iovs, count, written_at) {
            if (fd !== 1 && fd !== 2)
                return WASI_EBADF;
            let moved = 0;
            const waits = [];
            for (const [at, len] of buffers(iovs, count)) {
                const wait = io.write(fd, bytes().subarray(at, at + len));
                if (wait)
                    waits.push(wait);
                moved += len;
            }
            const done = () => {
                view().setUint32(written_at, moved, true);
                return WASI_SUCCESS;
            };
            return waits.length === 0 ? done() : Promise.all(waits).then(done);
        },
        fd_close(fd) {
            return fd <= 2 ? WASI_SUCCESS : WASI_EBADF;
        },
        // Reads and writes here never have to wait, so nothing polls.
        poll_oneoff() {
            return WASI_ENOSYS;
        },
        proc_exit(status) {
            throw new WasiExit(status);
        },
    };
    return { imports, attach: (instance_memory) => { memory = instance_memory; } };
}
