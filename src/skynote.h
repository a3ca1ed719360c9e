// Shared by the command front, the two drivers and the text-stream layer.
#pragma once

#include <cstddef>
#include <cstring>

// Mode letters: the first byte of the only argument, compared case-sensitively.
constexpr char MODE_LIST_EXPORT = 'l';
constexpr char MODE_INDEX_EXPORT = 'L';
constexpr char MODE_HELP = 'h';
constexpr char MODE_DEEP_SKY = 'd';
constexpr char MODE_MOON = 'm';

// Raw object lists: a token keeps at most TOKEN_CAP - 1 bytes, which is far
// more than the 42 columns of an object line can show.  Its buffer has room
// for what expansion adds: a short number grows to a seven-column NGC field.
constexpr size_t TOKEN_CAP = 1024;
constexpr size_t EXPANSION_ROOM = 8;
constexpr size_t OBJECT_LINE_WIDTH = 42;
constexpr size_t BOOK_COLUMN = 30;

// Deep-sky lists: words taken from one line; later words are never looked at.
constexpr size_t LIST_WORDS = 10;

// A growable byte string for values of unbounded length.  NUL is an ordinary
// byte, so the length always travels with the data.
struct Text {
    char* data;
    size_t len;
    size_t cap;
};

// A piece of a longer string: a word of a line, or a table entry.
struct Word {
    const char* data;
    size_t len;
};

// Command front.
[[noreturn]] void skynote_main(int argc, char** argv);
[[noreturn]] void print_help();

// Raw object lists (modes m and d).
void convert_raw_list(char mode);
void normalize_moon_name(char* name, size_t len);
void expand_deep_sky_name(char* token, size_t* len);
void layout_object_line(char* line, Word name, Word book, Word page);

// Deep-sky lists (modes l and L).
void convert_deep_sky_list(char mode);
void map_type_code(Word* word);
void map_catalogue_code(Word* word);

// Text streams.  Input loses every CR and ends at the first Ctrl-Z; every
// line end goes out as CR LF.  Standard output is held back in whole 512-byte
// blocks unless it is a terminal; the error stream is never held back.
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

void stream_open(int in_fd, int out_fd, int err_fd);
void stream_set_end_hook(void (*hook)(int status));
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
// fills before it writes anything else; they hold no line feed.
char* out_claim_slow(size_t len);
inline char* out_claim(size_t len)
{
    if (len > static_cast<size_t>(output.end - output.next))
        return out_claim_slow(len);
    char* room = output.next;
    output.next += len;
    return room;
}
// Writes the words with the separator between them; none holds a line feed.
void out_joined(const Word* words, size_t count, char separator);
inline void out_line_end()
{
    out_bytes("\r\n", 2);
}
void err_write(const Word* pieces, size_t count); // one message from pieces
void err_text(const char* text);
[[noreturn]] void end_run(int status);

void text_assign(Text* text, const char* data, size_t len);
void text_reserve(Text* text, size_t cap);

// Tab, LF, VT, FF, CR and blank separate words; no byte above 127 does.
extern const bool WHITE_SPACE[256];
inline bool is_white(unsigned char c)
{
    return WHITE_SPACE[c];
}
