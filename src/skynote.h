// What crosses the command front and the two drivers.
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

// Deep-sky lists: words taken from one line, the seven of a normal line;
// later words are never looked at.
constexpr size_t LIST_WORDS = 7;

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

// The fast ways (short tokens through the token windows, short list lines
// through one scanning window, rows and index entries in one piece) write
// exactly what the long way writes.  Tests switch them off to compare the
// two; a build with SKYNOTE_LONG_WAY starts without them, so that every case
// of the suite takes the long way.
extern bool fast_ways;

// Command front: runs the tool on the streams given to stream_open and
// returns the exit status; nothing below it ends the process.
int skynote_main(int argc, char** argv);
void print_help();

// Raw object lists (modes m and d).
void convert_raw_list(char mode);
void normalize_moon_name(char* name, size_t len);
void expand_deep_sky_name(char* token, size_t* len);
void layout_object_line(char* line, Word name, Word book, Word page);

// Deep-sky lists (modes l and L).
void convert_deep_sky_list(char mode);
void map_type_code(Word* word);
void map_catalogue_code(Word* word);
