// The text streams.  Linux has no text mode, so this is the one place that
// knows about CR, LF, Ctrl-Z and buffering: the drivers see input without a
// single CR and write plain LF line ends.
#include "skynote.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr unsigned char CARRIAGE_RETURN = '\r';
constexpr unsigned char CTRL_Z = 0x1A;

// Users who send both streams to one file see each message after exactly
// the whole 512-byte blocks of data written before it, and before the rest.
// The buffer holds many blocks so that big outputs go out in big writes.
constexpr size_t OUT_BLOCK = 512;
constexpr size_t OUT_CAP = 128 * OUT_BLOCK;
constexpr size_t IN_CAP = 64 * 1024;
constexpr size_t ERR_CHUNK = 4096;

int in_fd = 0;
int out_fd = 1;
int err_fd = 2;
bool input_ended = false;
bool out_unbuffered = false;
bool out_failed = false;
size_t out_pending = 0;
void (*end_hook)(int status) = nullptr;

unsigned char in_buf[IN_CAP];
char out_buf[OUT_CAP];

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
    out_pending = 0;
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
    out_pending -= len;
    std::memmove(out_buf, out_buf + len, out_pending);
}

void out_put(const char* data, size_t len)
{
    while (len > 0) {
        if (out_pending == OUT_CAP)
            out_flush(OUT_CAP);
        size_t n = std::min(len, OUT_CAP - out_pending);
        std::memcpy(out_buf + out_pending, data, n);
        out_pending += n;
        data += n;
        len -= n;
    }
}

void err_put(const char* data, size_t len)
{
    // A message that cannot be written has nowhere else to go.
    (void)write_all(err_fd, data, len);
}

[[noreturn]] void read_failed()
{
    err_text("Lesefehler auf der Standardeingabe\n");
    end_run(1);
}

// Drops every CR from the block and returns its new length.
size_t remove_carriage_returns(unsigned char* data, size_t len)
{
    unsigned char* cr = static_cast<unsigned char*>(std::memchr(data, CARRIAGE_RETURN, len));
    if (!cr)
        return len;
    unsigned char* to = cr;
    for (const unsigned char* from = cr; from < data + len; ++from) {
        if (*from != CARRIAGE_RETURN)
            *to++ = *from;
    }
    return static_cast<size_t>(to - data);
}

// Reads the next block, cut at the first Ctrl-Z; false at the end of input.
bool read_block()
{
    while (!input_ended) {
        ssize_t n = read(in_fd, in_buf, IN_CAP);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            read_failed();
        size_t len = static_cast<size_t>(n);
        if (len == 0)
            input_ended = true;
        const void* ctrl_z = std::memchr(in_buf, CTRL_Z, len);
        if (ctrl_z) {
            // Nothing after the first Ctrl-Z is ever read, not even later blocks.
            len = static_cast<size_t>(static_cast<const unsigned char*>(ctrl_z) - in_buf);
            input_ended = true;
        }
        len = remove_carriage_returns(in_buf, len);
        input.next = in_buf;
        input.end = in_buf + len;
        if (len > 0)
            return true;
    }
    return false;
}

void text_append(Text* text, const void* data, size_t len)
{
    if (len == 0)
        return;
    text_reserve(text, text->len + len);
    std::memcpy(text->data + text->len, data, len);
    text->len += len;
}

} // namespace

InputBuffer input = {nullptr, nullptr};

void stream_open(int in, int out, int err)
{
    in_fd = in;
    out_fd = out;
    err_fd = err;
    input = {nullptr, nullptr};
    input_ended = false;
    out_unbuffered = isatty(out) == 1;
    out_failed = false;
    out_pending = 0;
}

void stream_set_end_hook(void (*hook)(int status))
{
    end_hook = hook;
}

int in_refill()
{
    if (!read_block())
        return END_OF_INPUT;
    return *input.next++;
}

void in_skip_line()
{
    for (;;) {
        if (input.next == input.end && !read_block())
            return;
        size_t left = static_cast<size_t>(input.end - input.next);
        const void* lf = std::memchr(input.next, '\n', left);
        if (lf) {
            input.next = static_cast<const unsigned char*>(lf) + 1;
            return;
        }
        input.next = input.end;
    }
}

bool in_read_line(Text* line)
{
    line->len = 0;
    bool got_bytes = false;
    for (;;) {
        if (input.next == input.end && !read_block())
            return got_bytes;
        got_bytes = true;
        size_t left = static_cast<size_t>(input.end - input.next);
        const void* lf = std::memchr(input.next, '\n', left);
        size_t len = lf ? static_cast<size_t>(static_cast<const unsigned char*>(lf) - input.next) : left;
        text_append(line, input.next, len);
        input.next += len;
        if (lf) {
            ++input.next;
            return true;
        }
    }
}

void out_write(const char* data, size_t len)
{
    while (len > 0) {
        const char* lf = static_cast<const char*>(std::memchr(data, '\n', len));
        size_t plain = lf ? static_cast<size_t>(lf - data) : len;
        out_put(data, plain);
        if (!lf)
            break;
        out_put("\r\n", 2);
        data += plain + 1;
        len -= plain + 1;
    }
    if (out_unbuffered)
        out_flush(out_pending);
}

void out_text(const char* text)
{
    out_write(text, std::strlen(text));
}

void err_write(const Word* pieces, size_t count)
{
    if (!out_failed)
        out_flush(out_pending - out_pending % OUT_BLOCK);
    char chunk[ERR_CHUNK];
    size_t used = 0;
    for (const Word* piece = pieces; piece < pieces + count; ++piece) {
        for (size_t i = 0; i < piece->len; ++i) {
            if (used + 2 > ERR_CHUNK) {
                err_put(chunk, used);
                used = 0;
            }
            if (piece->data[i] == '\n')
                chunk[used++] = '\r';
            chunk[used++] = piece->data[i];
        }
    }
    err_put(chunk, used);
}

void err_text(const char* text)
{
    const Word piece = {text, std::strlen(text)};
    err_write(&piece, 1);
}

void end_run(int status)
{
    if (!out_failed)
        out_flush(out_pending);
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
    text->len = 0;
    text_append(text, data, len);
}
