// The text streams.  This is the one place that knows about CR, LF, Ctrl-Z,
// buffering and the platform: the drivers see input without a single CR and
// never write a CR themselves, and every failure travels back to
// skynote_main through stream_run.
#include "textstream.h"
#include "scan.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace {

// The platform: descriptors that take and give bytes exactly as they are.
// Each call returns the bytes moved, 0 at the end of input, -1 on failure.
#ifdef _WIN32
// The C runtime's text mode would add a CR to every CR LF written and
// take away the CRs and the Ctrl-Z that the layer handles itself.
void use_binary_mode(int fd)
{
    _setmode(fd, _O_BINARY);
}

// Only the console shows output as it comes; NUL is a character device too.
bool is_terminal(int fd)
{
    DWORD console_mode;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &console_mode) != 0;
}

long system_read(int fd, char* data, size_t room)
{
    return _read(fd, data, static_cast<unsigned>(std::min<size_t>(room, INT_MAX)));
}

long system_write(int fd, const char* data, size_t len)
{
    return _write(fd, data, static_cast<unsigned>(std::min<size_t>(len, INT_MAX)));
}

int system_close(int fd)
{
    return _close(fd);
}

// Windows descriptors have no non-blocking mode: a failure is final.
bool must_retry(int, bool)
{
    return false;
}
#else
void use_binary_mode(int)
{
}

bool is_terminal(int fd)
{
    return isatty(fd) == 1;
}

// A pipeline may hand over descriptors left non-blocking: then "not yet"
// means wait, not fail.
bool must_retry(int fd, bool writing)
{
    if (errno == EINTR)
        return true;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        return false;
    pollfd ready = {fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
    while (poll(&ready, 1, -1) < 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

long system_read(int fd, char* data, size_t room)
{
    return read(fd, data, room);
}

long system_write(int fd, const char* data, size_t len)
{
    return write(fd, data, len);
}

int system_close(int fd)
{
    return close(fd);
}
#endif

long read_some(int fd, char* data, size_t room)
{
    for (;;) {
        long n = system_calls.read(fd, data, room);
        if (n >= 0 || !must_retry(fd, false))
            return n;
    }
}

long write_some(int fd, const char* data, size_t len)
{
    for (;;) {
        long n = system_calls.write(fd, data, len);
        if (n >= 0 || !must_retry(fd, true))
            return n;
    }
}

constexpr unsigned char CARRIAGE_RETURN = '\r';
constexpr unsigned char CTRL_Z = 0x1A;

// Users who send both streams to one file see each message after exactly
// the whole 512-byte blocks of data written before it, and before the rest.
// The buffer holds many blocks so that big outputs go out in big writes,
// and as many as a pipe holds: a larger one leaves the processor's caches
// and makes the writer wait on a full pipe, both slower (measured).
// The fuzz build shrinks both buffers, so that short inputs already reach
// the paths for rows and words that cross a buffer's end.
constexpr size_t OUT_BLOCK = 512;
#ifdef SKYNOTE_SMALL_BUFFERS
constexpr size_t OUT_CAP = 3 * OUT_BLOCK;
constexpr size_t IN_START_CAP = 300;
#else
constexpr size_t OUT_CAP = 128 * OUT_BLOCK;
constexpr size_t IN_START_CAP = 64 * 1024;
#endif
constexpr size_t ERR_CHUNK = 4096;

const char READ_FAILED[] = "Lesefehler auf der Standardeingabe\n";
const char OUT_OF_MEMORY[] = "Zu wenig Speicher\n";

int in_fd = 0;
int out_fd = 1;
int err_fd = 2;
bool input_ended = false;
bool out_unbuffered = false;
bool out_failed = false;
bool err_failed = false;

// A read, write or allocation that failed.  Where C++ has exceptions it is
// thrown to stream_run, which ends the run at once.  A build without them
// (the WebAssembly one) stops the streams instead: input ends, so that the
// driver returns at its next read, and whatever it writes after the failure
// is dropped, diagnostics included, so that the bytes are the same.
#if defined(__cpp_exceptions) || defined(__EXCEPTIONS)
#define SKYNOTE_EXCEPTIONS 1
#endif
struct StreamFailure {
    const char* message; // the text for the error stream, line end included
};
const char* stopped_by = nullptr; // the failure that stopped the streams
char dropped[2 * OUT_BLOCK + OUT_SLACK]; // room for claims after a stop

// Grows only while one deep-sky list line is longer than all before it.
Text in_buf;
// The input before the first read, and after a failure to get a buffer.
const unsigned char NO_INPUT[1 + IN_PADDING] = {'\n'};
char out_buf[OUT_CAP + OUT_SLACK];

size_t out_pending()
{
    return static_cast<size_t>(output.next - out_buf);
}

// Opens the room that the inline write path fills; a terminal gets none, so
// that every write goes out at once, and a failed output none, so that the
// next write reports the failure.
void set_out_room()
{
    output.end = out_unbuffered || out_failed ? output.next : out_buf + OUT_CAP;
}

#ifdef SKYNOTE_EXCEPTIONS
[[noreturn]] void fail(const char* message)
{
    throw StreamFailure{message};
}
#else
// The first failure stops the streams; the calls after this one see an
// ended input and an output without room, whose slow paths drop the bytes.
void fail(const char* message)
{
    if (stopped_by)
        return;
    stopped_by = message;
    input_ended = true;
    input.next = input.end;
    output.end = output.next;
}
#endif

bool write_all(int fd, const char* data, size_t len)
{
    while (len > 0) {
        long n = write_some(fd, data, len);
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Writes the first len pending bytes and keeps the rest for later; false
// when standard output has failed, now or before.  Output that cannot be
// written is dropped, so that it is not tried again at the end.
bool out_try_flush(size_t len)
{
    if (!out_failed && len > 0 && !write_all(out_fd, out_buf, len))
        out_failed = true;
    if (out_failed) {
        output.next = out_buf;
        set_out_room();
        return false;
    }
    size_t rest = out_pending() - len;
    std::memmove(out_buf, out_buf + len, rest);
    output.next = out_buf + rest;
    set_out_room();
    return true;
}

// Nothing goes out once the streams have stopped.
void out_flush(size_t len)
{
    if (!stopped_by && !out_try_flush(len))
        fail(WRITE_FAILED);
}

// Only whole blocks go out before the end, so that every message stands after
// exactly the whole blocks of data written before it.
size_t whole_blocks()
{
    return out_pending() - out_pending() % OUT_BLOCK;
}

// Drops every CR from the block and returns its new length.
size_t remove_carriage_returns(char* data, size_t len)
{
    const void* cr = scan::find_byte(data, CARRIAGE_RETURN, len);
    if (!cr)
        return len;
    char* to = data + (static_cast<const char*>(cr) - data);
    for (const char* from = to; from < data + len; ++from) {
        if (*from != CARRIAGE_RETURN)
            *to++ = *from;
    }
    return static_cast<size_t>(to - data);
}

// Reads one block into free, cut at the first Ctrl-Z and without its CRs;
// returns its length, 0 only at the end of input.
size_t read_block(char* free, size_t room)
{
    while (!input_ended) {
        long n = read_some(in_fd, free, room);
        if (n < 0) {
            fail(READ_FAILED);
            return 0;
        }
        size_t len = static_cast<size_t>(n);
        if (len == 0)
            input_ended = true;
        const void* ctrl_z = scan::find_byte(free, CTRL_Z, len);
        if (ctrl_z) {
            // Nothing after the first Ctrl-Z is ever read, not even later blocks.
            len = static_cast<size_t>(static_cast<const char*>(ctrl_z) - free);
            input_ended = true;
        }
        // A block of nothing but CRs is no end of input: read on.
        len = remove_carriage_returns(free, len);
        if (len > 0)
            return len;
    }
    return 0;
}

// Moves the last `keep` unread bytes to the front and reads more after them;
// false at the end of input, with the kept bytes still there.  A line feed
// always follows the buffered bytes, so scans for white space need no bound,
// and IN_PADDING bytes follow that, so that word-wide loads need none either.
// The buffer is had at the first read, inside the run, so that a failure to
// get it is reported like any other.
bool read_more(size_t keep)
{
    if (keep > 0)
        std::memmove(in_buf.data, input.end - keep, keep);
    if (in_buf.cap == 0)
        text_reserve(&in_buf, IN_START_CAP + IN_PADDING);
    else if (keep > (in_buf.cap - IN_PADDING) / 2)
        text_reserve(&in_buf, 2 * in_buf.cap);
    if (!in_buf.data) {
        input.next = input.end = NO_INPUT;
        return false;
    }
    size_t len = read_block(in_buf.data + keep, in_buf.cap - keep - 1 - IN_PADDING);
    in_buf.data[keep + len] = '\n';
    input.next = reinterpret_cast<const unsigned char*>(in_buf.data);
    input.end = input.next + keep + len;
    return len > 0;
}

} // namespace

const char WRITE_FAILED[] = "Schreibfehler auf der Standardausgabe\n";
SystemCalls system_calls = {system_read, system_write, system_close};

const bool WHITE_SPACE[256] = {
    false, false, false, false, false, false, false, false, // NUL is a word byte
    false, true,  true,  true,  true,  true,  false, false, // tab to CR
    false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false,
    true, // blank
};

InputBuffer input = {NO_INPUT, NO_INPUT};
OutputBuffer output = {out_buf, out_buf};

void stream_open(int in, int out, int err)
{
    in_fd = in;
    out_fd = out;
    err_fd = err;
    for (int fd : {in, out, err})
        use_binary_mode(fd);
    input.next = input.end = NO_INPUT;
    input_ended = false;
    stopped_by = nullptr;
    out_unbuffered = is_terminal(out);
    out_failed = false;
    err_failed = false;
    output.next = out_buf;
    set_out_room();
}

bool out_finish()
{
    bool written = out_try_flush(out_pending());
    // Some file systems report a failed write only when the file is closed.
    // A descriptor that was never open has failed at its first write, if any.
    if (system_calls.close(out_fd) != 0 && errno != EINTR && errno != EBADF)
        out_failed = true;
    out_fd = -1;
    return written && !out_failed;
}

bool err_lost()
{
    return err_failed;
}

bool in_more()
{
    return input.next < input.end || read_more(0);
}

void in_skip_line()
{
    for (;;) {
        size_t left = static_cast<size_t>(input.end - input.next);
        const void* lf = left ? scan::find_byte(input.next, '\n', left) : nullptr;
        if (lf) {
            input.next = static_cast<const unsigned char*>(lf) + 1;
            return;
        }
        if (!read_more(0))
            return;
    }
}

bool in_read_line(Word* line)
{
    size_t searched = 0; // bytes of the line already known to hold no LF
    for (;;) {
        size_t left = static_cast<size_t>(input.end - input.next);
        const void* lf = left > searched ? scan::find_byte(input.next + searched, '\n', left - searched) : nullptr;
        if (lf) {
            const unsigned char* stop = static_cast<const unsigned char*>(lf);
            *line = {reinterpret_cast<const char*>(input.next), static_cast<size_t>(stop - input.next)};
            input.next = stop + 1;
            return true;
        }
        searched = left;
        if (!read_more(left)) {
            // The last line needs no line feed.
            *line = {reinterpret_cast<const char*>(input.next), left};
            input.next = input.end;
            return left > 0;
        }
    }
}

void out_bytes_slow(const char* data, size_t len)
{
    while (len > 0) {
        if (out_failed || out_pending() == OUT_CAP)
            out_flush(out_pending());
        if (stopped_by)
            return;
        size_t n = std::min(len, OUT_CAP - out_pending());
        std::memcpy(output.next, data, n);
        output.next += n;
        data += n;
        len -= n;
    }
    if (out_unbuffered)
        out_flush(out_pending());
}

char* out_claim_slow(size_t len)
{
    if (out_failed || OUT_CAP - out_pending() < len)
        out_flush(whole_blocks());
    if (stopped_by)
        return dropped;
    char* room = output.next;
    output.next += len;
    if (out_unbuffered)
        output.end = output.next; // the caller's next write sends it
    return room;
}

bool out_reserve_slow(size_t len)
{
    if (out_unbuffered || out_failed || stopped_by)
        return false;
    out_flush(whole_blocks());
    return len <= static_cast<size_t>(output.end - output.next);
}

void out_joined(const Word* words, size_t count, char separator)
{
    size_t total = count > 0 ? count - 1 : 0;
    for (size_t i = 0; i < count; ++i)
        total += words[i].len;
    if (total > static_cast<size_t>(output.end - output.next)) {
        for (size_t i = 0; i < count; ++i) {
            if (i > 0)
                out_bytes(&separator, 1);
            out_word(words[i]);
        }
        return;
    }
    // The common case: one check of the room for the whole record, and
    // words too short to be worth a call to memcpy.
    char* to = output.next;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            *to++ = separator;
        for (const char *from = words[i].data, *stop = from + words[i].len; from < stop;)
            *to++ = *from++;
    }
    output.next = to;
}

void err_write(const Word* pieces, size_t count)
{
    if (stopped_by)
        return;
    // A failure here shows at the next output write or at the end.
    (void)out_try_flush(whole_blocks());
    char chunk[ERR_CHUNK];
    size_t used = 0;
    bool written = true;
    for (const Word* piece = pieces; piece < pieces + count; ++piece) {
        for (size_t i = 0; i < piece->len; ++i) {
            if (used + 2 > ERR_CHUNK) {
                written = write_all(err_fd, chunk, used) && written;
                used = 0;
            }
            if (piece->data[i] == '\n')
                chunk[used++] = '\r';
            chunk[used++] = piece->data[i];
        }
    }
    written = write_all(err_fd, chunk, used) && written;
    err_failed = err_failed || !written;
}

void err_text(const char* text)
{
    const Word piece = {text, std::strlen(text)};
    err_write(&piece, 1);
}

bool text_reserve(Text* text, size_t cap)
{
    if (cap <= text->cap)
        return true;
    size_t grown = std::max({cap, 2 * text->cap, size_t{256}});
    char* data = static_cast<char*>(std::realloc(text->data, grown));
    if (!data) {
        fail(OUT_OF_MEMORY);
        return false;
    }
    // Word-wide loads may read past the end of a value: they read zeros.
    std::memset(data + text->cap, 0, grown - text->cap);
    text->data = data;
    text->cap = grown;
    return true;
}

void text_assign(Text* text, const char* data, size_t len)
{
    if (!text_reserve(text, len))
        return;
    if (len > 0)
        std::memcpy(text->data, data, len);
    text->len = len;
}

int stream_run(int (*body)(int, char**), int argc, char** argv, const char** failure)
{
    *failure = nullptr;
#ifdef SKYNOTE_EXCEPTIONS
    try {
        return body(argc, argv);
    } catch (const StreamFailure& failed) {
        *failure = failed.message;
        return -1;
    }
#else
    int status = body(argc, argv);
    *failure = stopped_by;
    stopped_by = nullptr; // the message and the rest of the output may go
    return status;
#endif
}
