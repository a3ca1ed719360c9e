// The text streams.  Linux has no text mode, so this is the one place that
// knows about CR, LF, Ctrl-Z and buffering: the drivers see input without a
// single CR and never write a CR themselves.
#include "skynote.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr unsigned char CARRIAGE_RETURN = '\r';
constexpr unsigned char CTRL_Z = 0x1A;

// Users who send both streams to one file see each message after exactly
// the whole 512-byte blocks of data written before it, and before the rest.
// The buffer holds many blocks so that big outputs go out in big writes.
constexpr size_t OUT_BLOCK = 512;
constexpr size_t OUT_CAP = 128 * OUT_BLOCK;
constexpr size_t IN_START_CAP = 64 * 1024;
constexpr size_t ERR_CHUNK = 4096;

int in_fd = 0;
int out_fd = 1;
int err_fd = 2;
bool input_ended = false;
bool out_unbuffered = false;
bool out_failed = false;
void (*end_hook)(int status) = nullptr;

// Grows only while one deep-sky list line is longer than all before it.
Text in_buf;
char out_buf[OUT_CAP];

size_t out_pending()
{
    return static_cast<size_t>(output.next - out_buf);
}

// Opens the room that the inline write path fills; a terminal gets none, so
// that every write goes out at once.
void set_out_room()
{
    output.end = out_unbuffered ? output.next : out_buf + OUT_CAP;
}

bool write_all(int fd, const char* data, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

[[noreturn]] void write_failed()
{
    out_failed = true;
    output.next = output.end = out_buf;
    err_text("Schreibfehler auf der Standardausgabe\n");
    end_run(1);
}

// Writes the first len pending bytes and keeps the rest for later.
void out_flush(size_t len)
{
    if (len == 0)
        return;
    if (!write_all(out_fd, out_buf, len))
        write_failed();
    size_t rest = out_pending() - len;
    std::memmove(out_buf, out_buf + len, rest);
    output.next = out_buf + rest;
    set_out_room();
}

// Only whole blocks go out before the end, so that every message stands after
// exactly the whole blocks of data written before it.
void out_flush_whole_blocks()
{
    out_flush(out_pending() - out_pending() % OUT_BLOCK);
}

[[noreturn]] void read_failed()
{
    err_text("Lesefehler auf der Standardeingabe\n");
    end_run(1);
}

// Drops every CR from the block and returns its new length.
size_t remove_carriage_returns(char* data, size_t len)
{
    char* cr = static_cast<char*>(std::memchr(data, CARRIAGE_RETURN, len));
    if (!cr)
        return len;
    char* to = cr;
    for (const char* from = cr; from < data + len; ++from) {
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
        ssize_t n = read(in_fd, free, room);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            read_failed();
        size_t len = static_cast<size_t>(n);
        if (len == 0)
            input_ended = true;
        const void* ctrl_z = std::memchr(free, CTRL_Z, len);
        if (ctrl_z) {
            // Nothing after the first Ctrl-Z is ever read, not even later blocks.
            len = static_cast<size_t>(static_cast<const char*>(ctrl_z) - free);
            input_ended = true;
        }
        len = remove_carriage_returns(free, len);
        if (len > 0)
            return len;
    }
    return 0;
}

// Moves the last `keep` unread bytes to the front and reads more after them;
// false at the end of input, with the kept bytes still there.  A line feed
// always follows the buffered bytes, so scans for white space need no bound.
bool read_more(size_t keep)
{
    std::memmove(in_buf.data, input.end - keep, keep);
    if (keep > in_buf.cap / 2)
        text_reserve(&in_buf, 2 * in_buf.cap);
    size_t len = read_block(in_buf.data + keep, in_buf.cap - keep - 1);
    in_buf.data[keep + len] = '\n';
    input.next = reinterpret_cast<const unsigned char*>(in_buf.data);
    input.end = input.next + keep + len;
    return len > 0;
}

} // namespace

const bool WHITE_SPACE[256] = {
    false, false, false, false, false, false, false, false, // NUL is a word byte
    false, true,  true,  true,  true,  true,  false, false, // tab to CR
    false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false,
    true, // blank
};

InputBuffer input = {nullptr, nullptr};
OutputBuffer output = {out_buf, out_buf};

void stream_open(int in, int out, int err)
{
    in_fd = in;
    out_fd = out;
    err_fd = err;
    text_reserve(&in_buf, IN_START_CAP);
    in_buf.data[0] = '\n';
    input.next = input.end = reinterpret_cast<const unsigned char*>(in_buf.data);
    input_ended = false;
    out_unbuffered = isatty(out) == 1;
    out_failed = false;
    output.next = out_buf;
    set_out_room();
}

void stream_set_end_hook(void (*hook)(int status))
{
    end_hook = hook;
}

bool in_more()
{
    return input.next < input.end || read_more(0);
}

void in_skip_line()
{
    for (;;) {
        size_t left = static_cast<size_t>(input.end - input.next);
        const void* lf = left ? std::memchr(input.next, '\n', left) : nullptr;
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
        const void* lf = left > searched ? std::memchr(input.next + searched, '\n', left - searched) : nullptr;
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
        if (out_pending() == OUT_CAP)
            out_flush(OUT_CAP);
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
    if (OUT_CAP - out_pending() < len)
        out_flush_whole_blocks();
    char* room = output.next;
    output.next += len;
    if (out_unbuffered)
        output.end = output.next; // the caller's next write sends it
    return room;
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
    if (!out_failed)
        out_flush_whole_blocks();
    char chunk[ERR_CHUNK];
    size_t used = 0;
    for (const Word* piece = pieces; piece < pieces + count; ++piece) {
        for (size_t i = 0; i < piece->len; ++i) {
            if (used + 2 > ERR_CHUNK) {
                (void)write_all(err_fd, chunk, used);
                used = 0;
            }
            if (piece->data[i] == '\n')
                chunk[used++] = '\r';
            chunk[used++] = piece->data[i];
        }
    }
    // A message that cannot be written has nowhere else to go.
    (void)write_all(err_fd, chunk, used);
}

void err_text(const char* text)
{
    const Word piece = {text, std::strlen(text)};
    err_write(&piece, 1);
}

void end_run(int status)
{
    if (!out_failed)
        out_flush(out_pending());
    if (end_hook)
        end_hook(status);
    std::exit(status);
}

void text_reserve(Text* text, size_t cap)
{
    if (cap <= text->cap)
        return;
    size_t grown = std::max({cap, 2 * text->cap, size_t{256}});
    char* data = static_cast<char*>(std::realloc(text->data, grown));
    if (!data) {
        err_text("Zu wenig Speicher\n");
        end_run(1);
    }
    text->data = data;
    text->cap = grown;
}

void text_assign(Text* text, const char* data, size_t len)
{
    text_reserve(text, len);
    if (len > 0)
        std::memcpy(text->data, data, len);
    text->len = len;
}
