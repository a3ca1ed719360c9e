// Raw object lists (modes m and d): every word that is not a book or page
// marker becomes one 42-column object line with the current book and page.
#include "skynote.h"
#include "scan.h"
#include "textstream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr char BOOK_MARKER = '%';
constexpr char PAGE_MARKER = '#';

constexpr bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// A shorthand rule of mode d: the prefix written first, how many leading
// bytes of the token it replaces, and the field that the rest is
// right-aligned in (it ends before field_end, never overwrites the prefix,
// and the whole is padded with blanks to width).
struct Expansion {
    uint64_t prefix; // its bytes, first in the lowest byte
    size_t prefix_len;
    size_t skip;
    size_t field_end;
    size_t width;
};

enum Rule { PLAIN, MESSIER, BARNARD, QUOTED, PGC, IC, UGC, NGC, RULES };
constexpr Expansion EXPANSIONS[RULES] = {
    {0, 0, 0, 0, 0},                           // PLAIN: as typed
    {'M', 1, 1, 4, 5},                         // MESSIER
    {'B', 1, 1, 0, 0},                         // BARNARD: then copied like a plain word
    {0, 0, 1, 0, 0},                           // QUOTED: keeps the name literal
    {'P' | 'G' << 8 | 'C' << 16, 3, 1, 0, 0}, // PGC
    {'I' | 'C' << 8, 2, 1, 6, 6},              // IC
    {'U' | 'G' << 8 | 'C' << 16, 3, 1, 0, 0}, // UGC
    {'N' | 'G' << 8 | 'C' << 16, 3, 0, 7, 7}, // NGC: the whole token is the number
};

// The letters that abbreviate before a digit, in the order they are tried.
// Only the second byte decides: m3a still means Messier 3a.
struct Abbreviation {
    char letter;
    Rule rule;
};
constexpr Abbreviation ABBREVIATIONS[] = {
    {'m', MESSIER}, {'b', BARNARD}, {'"', QUOTED}, {'p', PGC}, {'i', IC}, {'u', UGC},
};

constexpr Rule choose_rule(char first, bool digit_test)
{
    for (const Abbreviation& abbreviation : ABBREVIATIONS) {
        if (digit_test && first == abbreviation.letter)
            return abbreviation.rule;
    }
    return is_digit(first) ? NGC : PLAIN;
}

// Where the rest of a token starts after the prefix of rule e.
constexpr size_t field_start(const Expansion& e, size_t rest_len)
{
    return e.field_end > e.prefix_len + rest_len ? e.field_end - rest_len : e.prefix_len;
}

// A name of a token of 1 to 8 bytes as two words, worked out once for
// every rule and length: the rest of the token moves up by some bytes into
// the gap that the fill (prefix and blanks) leaves for it.  The shifts are
// kept ready, in bits: the rest's first word is shifted up by low_shift,
// its second word down by 1 and then by high_shift (two shifts, so that a
// move by 0 bytes shifts by no 64).  A byte shuffle moves it at once
// instead: each byte of the name picks the token byte it takes, and the
// bytes of the fill pick none (0x80).  64 bytes, so that an entry's place
// is a shift.
struct alignas(64) ShortLayout {
    uint64_t fill_low;
    uint64_t fill_high;
    unsigned char picks[16];
    unsigned char skip_bits;
    unsigned char low_shift;
    unsigned char high_shift;
    unsigned char len;
};

// The rule and short layout for every first byte and digit test, looked up
// instead of decided: the token kinds of a list come in no order a branch
// could learn.
struct RuleTables {
    unsigned char rule_of[256][2];
    ShortLayout layouts[RULES][16];
};

constexpr RuleTables make_rule_tables()
{
    RuleTables tables{};
    for (int byte = 0; byte < 256; ++byte) {
        for (int digit_test = 0; digit_test < 2; ++digit_test)
            tables.rule_of[byte][digit_test] = choose_rule(static_cast<char>(byte), digit_test);
    }
    for (int rule = 0; rule < RULES; ++rule) {
        const Expansion& e = EXPANSIONS[rule];
        for (size_t n = e.skip + 1; n <= 8; ++n) {
            size_t rest_len = n - e.skip;
            size_t start = field_start(e, rest_len);
            uint64_t rest_low = 0, rest_high = 0;
            scan::shift_into(scan::bytes_before(rest_len), start, &rest_low, &rest_high);
            ShortLayout& layout = tables.layouts[rule][n];
            layout = {
                e.prefix | (scan::BLANKS & ~(rest_low | scan::bytes_before(e.prefix_len))),
                scan::BLANKS & ~rest_high,
                {},
                static_cast<unsigned char>(8 * e.skip),
                static_cast<unsigned char>(8 * start),
                static_cast<unsigned char>(63 - 8 * start),
                static_cast<unsigned char>(std::max(start + rest_len, e.width))};
            for (size_t place = 0; place < 16; ++place) {
                bool taken = place >= start && place < start + rest_len;
                layout.picks[place] = static_cast<unsigned char>(taken ? place - start + e.skip : 0x80);
            }
        }
    }
    return tables;
}
constexpr RuleTables RULE_TABLES = make_rule_tables();

Rule rule_of(const char* token, size_t len)
{
    bool digit_test = len >= 2 && is_digit(token[1]);
    return static_cast<Rule>(RULE_TABLES.rule_of[static_cast<unsigned char>(token[0])][digit_test]);
}

// Only a to z change: names may hold ISO 8859-1 letters, which stay as typed.
char upper_ascii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Adds the bytes of a word that no longer fits the token buffer.  An object
// line shows only the start of a name or a book, so the rest is dropped; a
// page stands right-aligned, so a page marker keeps its last bytes instead.
void append_overflow(char* token, size_t* n, const unsigned char* data, size_t len)
{
    if (token[0] != PAGE_MARKER) {
        size_t take = std::min(len, TOKEN_CAP - 1 - *n);
        std::memcpy(token + *n, data, take);
        *n += take;
        return;
    }
    size_t take = std::min(len, OBJECT_LINE_WIDTH);
    size_t keep = std::min(*n - 1, OBJECT_LINE_WIDTH - take);
    std::memmove(token + 1, token + *n - keep, keep);
    std::memcpy(token + 1 + keep, data + len - take, take);
    *n = 1 + keep + take;
}

// Reads the next white-space-delimited word into token; false at the end.
bool read_token(char* token, size_t* len)
{
    for (;;) {
        if (!in_more())
            return false;
        if (!is_white(*input.next))
            break;
        ++input.next;
    }
    // The first byte decides how a word too long for the buffer is kept.
    token[0] = static_cast<char>(*input.next++);
    size_t n = 1;
    do {
        const unsigned char* start = input.next;
        const unsigned char* stop = start;
        while (!is_white(*stop)) // the line feed after the buffer stops it
            ++stop;
        size_t span = static_cast<size_t>(stop - start);
        if (n + span < TOKEN_CAP) {
            std::memcpy(token + n, start, span);
            n += span;
        } else {
            append_overflow(token, &n, start, span);
        }
        input.next = stop;
    } while (input.next == input.end && in_more());
    *len = n;
    return true;
}

// Names shorter than 16 bytes are laid over the line without a name at
// once, as 16 bytes whose rest are blanks.
constexpr size_t SHORT_NAME = 16;

// Lays the shorthand of mode d for a token of 1 to 8 bytes over the first
// 16 columns.  The same rules as the long way below, and no branch on the
// token's kind.
void put_short_deep_sky_name(char* line, const unsigned char* at, size_t n)
{
    uint64_t token = scan::load_tilde_blanks8(at, n);
    // The rule as rule_of picks it, from the token's bytes: the second is 0
    // in a token of one byte, so no digit.
    unsigned char second = static_cast<unsigned char>(token >> 8);
    bool digit_test = static_cast<unsigned char>(second - '0') <= 9;
    const ShortLayout& layout = RULE_TABLES.layouts[RULE_TABLES.rule_of[token & 0xFF][digit_test]][n];
    uint64_t rest = token >> layout.skip_bits;
    scan::store8(line, rest << layout.low_shift | layout.fill_low);
    scan::store8(line + 8, (rest >> 1) >> layout.high_shift | layout.fill_high);
}

#ifdef SKYNOTE_AVX2_SCAN
// The same by one byte shuffle, for processors with AVX2 (which have the
// shuffle).  The rule is taken from the bytes as typed: a ~ and the blank
// it stands for pick the same rule (neither is a letter or a digit), and
// the byte after a token of one byte is white.
[[gnu::target("avx")]] inline void put_short_deep_sky_name_avx(char* line, const unsigned char* at, size_t n)
{
    bool digit_test = static_cast<unsigned char>(at[1] - '0') <= 9;
    const ShortLayout& layout = RULE_TABLES.layouts[RULE_TABLES.rule_of[at[0]][digit_test]][n];
    __m128i token = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    __m128i picks = _mm_load_si128(reinterpret_cast<const __m128i*>(layout.picks));
    __m128i fill = _mm_load_si128(reinterpret_cast<const __m128i*>(&layout.fill_low));
    __m128i name = _mm_or_si128(_mm_shuffle_epi8(token, picks), fill);
    // The fill holds no ~: every ~ left came from the token.
    __m128i tildes = _mm_cmpeq_epi8(name, _mm_set1_epi8('~'));
    name = _mm_xor_si128(name, _mm_and_si128(tildes, _mm_set1_epi8('~' ^ ' ')));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line), name);
}
#endif

void copy_column(char* line, size_t column, const char* text, size_t len)
{
    if (column < OBJECT_LINE_WIDTH && len > 0)
        std::memcpy(line + column, text, std::min(len, OBJECT_LINE_WIDTH - column));
}

// Book and page hold until the next marker.  They change seldom: the line
// without a name is laid out once for each change, and a name that ends
// before the book column only needs to be laid over it.
struct Source {
    char book[TOKEN_CAP];
    size_t book_len;
    char page[TOKEN_CAP];
    size_t page_len;
    char book_line[OBJECT_LINE_WIDTH];       // the line with the book alone
    char blank_name_line[OBJECT_LINE_WIDTH]; // ... and the page
    size_t name_room; // columns a name may fill before the book or a long page
};

// Lays the page over the line with the book, as layout_object_line would.
// A page shorter than 16 bytes ends the last 16 columns, which are made in
// a row that its 16-byte copy may run past: copies of fixed size.
void lay_out_page(Source* source)
{
    size_t shown = std::min(source->page_len, OBJECT_LINE_WIDTH);
    std::memcpy(source->blank_name_line, source->book_line, OBJECT_LINE_WIDTH);
    if (shown < SHORT_NAME) {
        char row[2 * SHORT_NAME];
        std::memcpy(row, source->book_line + OBJECT_LINE_WIDTH - SHORT_NAME, SHORT_NAME);
        std::memcpy(row + SHORT_NAME - shown, source->page, SHORT_NAME);
        std::memcpy(source->blank_name_line + OBJECT_LINE_WIDTH - SHORT_NAME, row, SHORT_NAME);
    } else {
        std::memcpy(source->blank_name_line + OBJECT_LINE_WIDTH - shown,
                    source->page + source->page_len - shown, shown);
    }
    source->name_room = std::min(BOOK_COLUMN, OBJECT_LINE_WIDTH - shown);
}

void set_page(Source* source, const void* page, size_t len)
{
    std::memcpy(source->page, page, len);
    source->page_len = len;
    lay_out_page(source);
}

// The same for a page shorter than 16 bytes in the input, whose padding
// lets it be copied as 16 bytes.
void set_short_page(Source* source, const unsigned char* page, size_t len)
{
    std::memcpy(source->page, page, SHORT_NAME);
    source->page_len = len;
    lay_out_page(source);
}

void set_book(Source* source, const void* book, size_t len)
{
    std::memcpy(source->book, book, len);
    source->book_len = len;
    layout_object_line(source->book_line, {"", 0}, {source->book, len}, {"", 0});
    lay_out_page(source);
}

void write_object_line(const Source& source, const char* name, size_t len)
{
    char* line = out_claim(OBJECT_LINE_WIDTH);
    if (len <= source.name_room) {
        std::memcpy(line, source.blank_name_line, OBJECT_LINE_WIDTH);
        std::memcpy(line, name, len);
    } else {
        layout_object_line(line, {name, len}, {source.book, source.book_len},
                           {source.page, source.page_len});
    }
    out_line_end();
}

// The longest name that put_short_deep_sky_name lays.
constexpr size_t longest_short_deep_sky_name()
{
    size_t longest = 0;
    for (const auto& layouts : RULE_TABLES.layouts) {
        for (const ShortLayout& layout : layouts)
            longest = std::max<size_t>(longest, layout.len);
    }
    return longest;
}
static_assert(longest_short_deep_sky_name() <= SHORT_NAME && scan::SHORT_TOKEN - 1 <= SHORT_NAME,
              "every name the short way lays fits the room it asks for");

// The output as the short way holds it while it takes tokens: a copy of
// the output buffer, a local, which the compiler keeps in registers (the
// stores of output bytes could change `output`), and the last place with
// room for an object line after it.
struct ShortOutput {
    OutputBuffer buffer;
    uintptr_t last_room;
};

// How a mode's short name is laid over the first 16 columns.
using NameWriter = void (*)(char* line, const unsigned char* at, size_t n);

// Writes the short token at `at` the short way: a page marker, or an
// object laid over a line whose first 16 columns are blank, which a short
// name fits (the short way takes tokens only while the page leaves them
// SHORT_NAME columns).  False, with nothing done, for others and where the
// output has no room; also for a page marker that leaves fewer columns,
// which is set, and set again the long way.
template <char MODE, NameWriter put_name>
bool put_short_token(Source* source, const unsigned char* at, size_t n, ShortOutput* out)
{
    if (*at == PAGE_MARKER) {
        if (n - 1 < SHORT_NAME)
            set_short_page(source, at + 1, n - 1);
        else
            set_page(source, at + 1, n - 1);
        return source->name_room >= SHORT_NAME;
    }
    // Moon names keep their length; a deep-sky token of 8 bytes may grow to 11.
    constexpr size_t short_limit = MODE == MODE_MOON ? scan::SHORT_TOKEN - 1 : 8;
    if (n > short_limit || *at == BOOK_MARKER || reinterpret_cast<uintptr_t>(out->buffer.next) > out->last_room)
        return false;
    char* line = out->buffer.next;
    std::memcpy(line, source->blank_name_line, OBJECT_LINE_WIDTH);
    put_name(line, at, n);
    out->buffer.next = put_line_end(line + OBJECT_LINE_WIDTH);
    return true;
}

// Writes the short tokens that end inside the 64 bytes at `base`; returns
// the bytes used up: 64, or the place of the first token that must take
// the long way (too long for its rule, a marker of a book, or running past
// the window or the buffer).
template <char MODE, uint64_t (*classify)(const unsigned char*), NameWriter put_name>
size_t put_window_tokens(Source* source, scan::Blocks* blocks, const unsigned char* base, size_t left,
                         ShortOutput* out)
{
    // Tokens start at non-white bytes after white ones and end at white
    // bytes after non-white ones; the window starts at a token or at white.
    uint64_t white = scan::window<classify>(blocks, base);
    uint64_t starts = ~white & (white << 1 | 1);
    uint64_t ends = white & ~white << 1;
    // A token that ends at the end of the buffer may go on in the next read:
    // its end is dropped, and so are those past it.  The tokens that start
    // before the last end left all end in the window; the next window
    // starts at the first of the others.
    if (left < 64)
        ends &= (uint64_t{1} << left) - 1;
    uint64_t before_last_end = ends != 0 ? (uint64_t{1} << scan::highest_bit(ends)) - 1 : 0;
    uint64_t later = starts & ~before_last_end;
    starts &= before_last_end;
    while (starts != 0) {
        unsigned first = scan::lowest_bit(starts);
        unsigned after = scan::lowest_bit(ends);
        if (!put_short_token<MODE, put_name>(source, base + first, after - first, out))
            return first;
        starts &= starts - 1;
        ends &= ends - 1;
    }
    return later != 0 ? scan::lowest_bit(later) : 64;
}

// Writes the short tokens from input.next on, window after window, and
// moves past them; true when it got anywhere and the buffer still holds
// more.  Compiled for each mode and kernel, the classification inside.
template <char MODE, uint64_t (*classify)(const unsigned char*), NameWriter put_name>
[[gnu::always_inline]] inline bool put_tokens_with(Source* source, scan::Blocks* blocks)
{
    if (source->name_room < SHORT_NAME)
        return false;
    const unsigned char* at = input.next;
    const unsigned char* end = input.end;
    uintptr_t end_place = reinterpret_cast<uintptr_t>(output.end);
    size_t line_bytes = OBJECT_LINE_WIDTH + LINE_END_BYTES;
    ShortOutput out = {output, end_place >= line_bytes ? end_place - line_bytes : 0};
    for (;;) {
        size_t left = static_cast<size_t>(end - at);
        size_t done = put_window_tokens<MODE, classify, put_name>(source, blocks, at, left, &out);
        at += done < left ? done : left;
        if (done == 0 || at == end)
            break;
    }
    output = out.buffer;
    bool moved = at > input.next;
    input.next = at;
    return moved && at < end;
}

template <char MODE> bool put_tokens_base(Source* source, scan::Blocks* blocks)
{
    return put_tokens_with<MODE, scan::classify_white_base,
                           MODE == MODE_MOON ? scan::put_moon_name16 : put_short_deep_sky_name>(source, blocks);
}

#ifdef SKYNOTE_AVX2_SCAN
// For processors with AVX2: the AVX2 kernel, the byte shuffle, and the bit
// instructions that came with them.  Compiled for AVX, not AVX2: for AVX2,
// the compiler builds each constant row of bytes afresh at every use,
// where AVX takes it straight from memory.  The classification stays a
// call.
template <char MODE>
[[gnu::target("avx,bmi,bmi2"), gnu::flatten]] bool put_tokens_avx2(Source* source, scan::Blocks* blocks)
{
    return put_tokens_with<MODE, scan::classify_white_avx2,
                           MODE == MODE_MOON ? scan::put_moon_name16 : put_short_deep_sky_name_avx>(source, blocks);
}
#endif

template <char MODE> bool put_short_tokens(Source* source, scan::Blocks* blocks)
{
#ifdef SKYNOTE_AVX2_SCAN
    if (scan::use_avx2)
        return put_tokens_avx2<MODE>(source, blocks);
#endif
    return put_tokens_base<MODE>(source, blocks);
}

} // namespace

void normalize_moon_name(char* name, size_t len)
{
    if (len == 0)
        return;
    name[0] = upper_ascii(name[0]);
    for (size_t i = 0; i < len; ++i) {
        if (name[i] != '_')
            continue;
        name[i] = ' ';
        if (i + 1 < len)
            name[i + 1] = upper_ascii(name[i + 1]);
    }
}

// The token needs room for EXPANSION_ROOM bytes beyond its length.  The
// rest of the token moves behind the prefix, right-aligned in its field.
void expand_deep_sky_name(char* token, size_t* len)
{
    size_t n = *len;
    std::replace(token, token + n, '~', ' ');
    if (n == 0)
        return;
    const Expansion& e = EXPANSIONS[rule_of(token, n)];
    size_t rest_len = n - e.skip;
    size_t start = field_start(e, rest_len);
    std::memmove(token + start, token + e.skip, rest_len);
    std::memset(token + e.prefix_len, ' ', start - e.prefix_len);
    for (size_t i = 0; i < e.prefix_len; ++i)
        token[i] = static_cast<char>(e.prefix >> (8 * i));
    size_t end = start + rest_len;
    if (end < e.width) {
        std::memset(token + end, ' ', e.width - end);
        end = e.width;
    }
    *len = end;
}

// line must hold OBJECT_LINE_WIDTH bytes.  Later fields overwrite earlier
// ones, and whatever would fall beyond the last column is cut.
void layout_object_line(char* line, Word name, Word book, Word page)
{
    std::memset(line, ' ', OBJECT_LINE_WIDTH);
    copy_column(line, 0, name.data, name.len);
    copy_column(line, BOOK_COLUMN, book.data, book.len);
    if (page.len > OBJECT_LINE_WIDTH) {
        page.data += page.len - OBJECT_LINE_WIDTH;
        page.len = OBJECT_LINE_WIDTH;
    }
    copy_column(line, OBJECT_LINE_WIDTH - page.len, page.data, page.len);
}

void convert_raw_list(char mode)
{
    static char token[TOKEN_CAP + EXPANSION_ROOM];
    static Source source;
    size_t len = 0;
    set_page(&source, "", 0);
    set_book(&source, "", 0);
    scan::Blocks blocks = {nullptr, 0, 0};
    for (;;) {
        if (fast_ways && (mode == MODE_MOON ? put_short_tokens<MODE_MOON>(&source, &blocks)
                                            : put_short_tokens<MODE_DEEP_SKY>(&source, &blocks)))
            continue;
        // One token of any kind, from any place; the buffer may move.
        blocks.base = nullptr;
        if (!read_token(token, &len))
            return;
        if (token[0] == BOOK_MARKER) {
            set_book(&source, token + 1, len - 1);
        } else if (token[0] == PAGE_MARKER) {
            set_page(&source, token + 1, len - 1);
        } else {
            if (mode == MODE_MOON)
                normalize_moon_name(token, len);
            else
                expand_deep_sky_name(token, &len);
            write_object_line(source, token, len);
        }
    }
}
