// The text streams: the one place that knows CR, LF, Ctrl-Z, buffering and
// the platform.  Input loses every CR and ends at the first Ctrl-Z; every
// line end goes out as CR LF.  Standard output is held back in whole 512-byte
// blocks unless it is a terminal; the error stream is never held back.
#pragma once

#include "skynote.h"

#include <cstring>

// Runs body on the arguments and returns its status; when a read, a write or
// an allocation fails, body ends early and *failure is the message for the
// error stream (line end included).  Output written before the failure
// still goes out at out_finish; whatever body writes after it does not.
int stream_run(int (*body)(int, char**), int argc, char** argv, const char** failure);
extern const char WRITE_FAILED[];

// The system calls under the layer.  Tests replace them to make reads,
// writes and the close fail, stop short or ask to be retried.
struct SystemCalls {
    long (*read)(int fd, char* data, size_t room);
    long (*write)(int fd, const char* data, size_t len);
    int (*close)(int fd);
};
extern SystemCalls system_calls;

// Attaches the layer to three open descriptors; a run starts afresh.  The
// layer closes out_fd at the end (out_finish), the others stay open.
void stream_open(int in_fd, int out_fd, int err_fd);
// Writes what is still held back and closes standard output; false when it
// failed, now or earlier.  Never throws, so that it can follow any failure.
bool out_finish();
// True when the error stream could not take a message.
bool err_lost();

// Word-wide loads may read this many bytes past input.end, and writes this
// many past the room that out_claim hands out (later output covers them).
constexpr size_t IN_PADDING = 128;
constexpr size_t OUT_SLACK = 64;

// The buffers are visible here only so that the hot paths inline.
struct InputBuffer {
    const unsigned char* next;
    const unsigned char* end;
};
struct OutputBuffer {
    char* next;
    char* end; // equals next while every write must go out at once
};
extern InputBuffer input;
extern OutputBuffer output;

// A line feed always follows the buffered input in memory, so that a scan
// for white space stops at input.end without testing for it.
bool in_more(); // false at the end of input, else input.next < input.end
void in_skip_line();
bool in_read_line(Word* line); // valid until the next read, and followed by a LF

void out_bytes_slow(const char* data, size_t len);
// Writes bytes that hold no line feed, such as words of the input.
inline void out_bytes(const char* data, size_t len)
{
    if (len <= static_cast<size_t>(output.end - output.next)) {
        std::memcpy(output.next, data, len);
        output.next += len;
    } else {
        out_bytes_slow(data, len);
    }
}
inline void out_word(Word word)
{
    out_bytes(word.data, word.len);
}
// Hands out room for len (at most 512) bytes of output, which the caller
// fills before it writes anything else; they hold no line feed.  On a
// terminal the next write sends them, so every record ends with a write.
char* out_claim_slow(size_t len);
inline char* out_claim(size_t len)
{
    if (len > static_cast<size_t>(output.end - output.next))
        return out_claim_slow(len);
    char* room = output.next;
    output.next += len;
    return room;
}
// Makes sure of room for len (at most 1024) bytes, by sending the
// whole blocks held back; false where there is none to be had: on a
// terminal, where every write goes out at once, and after a failure.
bool out_reserve_slow(size_t len);
inline bool out_reserve(size_t len)
{
    return len <= static_cast<size_t>(output.end - output.next) || out_reserve_slow(len);
}
// Writes the words with the separator between them; none holds a line feed.
void out_joined(const Word* words, size_t count, char separator);
constexpr size_t LINE_END_BYTES = 2;
inline void out_line_end()
{
    out_bytes("\r\n", LINE_END_BYTES);
}
// The line end into room the caller has made sure of; returns what follows.
inline char* put_line_end(char* to)
{
    std::memcpy(to, "\r\n", LINE_END_BYTES);
    return to + LINE_END_BYTES;
}

// One message from pieces; a message that cannot be written is remembered
// (err_lost), never thrown, so that the data still goes out.
void err_write(const Word* pieces, size_t count);
void err_text(const char* text);

void text_assign(Text* text, const char* data, size_t len);
// False when the memory could not be had; the run has failed then.
bool text_reserve(Text* text, size_t cap);

// Tab, LF, VT, FF, CR and blank separate words; no byte above 127 does.
extern const bool WHITE_SPACE[256];
inline bool is_white(unsigned char c)
{
    return WHITE_SPACE[c];
}
