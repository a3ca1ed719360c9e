// Shared by the command front, the two drivers and the text-stream layer.
#pragma once

#include <cstddef>

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

// Text streams.  Input loses every CR and ends at the first Ctrl-Z; output
// turns every LF into CR LF.  Standard output is held back in whole 512-byte
// blocks unless it is a terminal; the error stream is never held back.
struct InputBuffer {
    const unsigned char* next;
    const unsigned char* end;
};
extern InputBuffer input;

constexpr int END_OF_INPUT = -1;

void stream_open(int in_fd, int out_fd, int err_fd);
void stream_set_end_hook(void (*hook)(int status));
int in_refill();
inline int in_byte()
{
    return input.next < input.end ? *input.next++ : in_refill();
}
bool in_read_line(Text* line);
void in_skip_line();
void out_write(const char* data, size_t len);
void out_text(const char* text);
void err_write(const Word* pieces, size_t count); // one message from pieces
void err_text(const char* text);
[[noreturn]] void end_run(int status);

void text_assign(Text* text, const char* data, size_t len);
void text_reserve(Text* text, size_t cap);

inline bool is_white(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}
