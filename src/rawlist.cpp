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

// The rules in the order they are tried.  Only the second byte decides
// whether a letter abbreviates: m3a still means Messier 3a.
constexpr Expansion choose_expansion(char first, bool digit_test)
{
    if (digit_test && first == 'm')
        return {'M', 1, 1, 4, 5};
    if (digit_test && first == 'b') // then copied like a plain word
        return {'B', 1, 1, 0, 0};
    if (digit_test && first == '"') // keeps the name literal
        return {0, 0, 1, 0, 0};
    if (digit_test && first == 'p')
        return {'P' | 'G' << 8 | 'C' << 16, 3, 1, 0, 0};
    if (digit_test && first == 'i')
        return {'I' | 'C' << 8, 2, 1, 6, 6};
    if (digit_test && first == 'u')
        return {'U' | 'G' << 8 | 'C' << 16, 3, 1, 0, 0};
    if (is_digit(first))
        return {'N' | 'G' << 8 | 'C' << 16, 3, 0, 7, 7};
    return {0, 0, 0, 0, 0};
}

// The rule for every first byte and digit test, looked up instead of
// decided: the token kinds of a list come in no order a branch could learn.
struct ExpansionTable {
    Expansion rules[256][2];
};
constexpr ExpansionTable make_expansions()
{
    ExpansionTable table{};
    for (int byte = 0; byte < 256; ++byte) {
        for (int digit_test = 0; digit_test < 2; ++digit_test)
            table.rules[byte][digit_test] = choose_expansion(static_cast<char>(byte), digit_test);
    }
    return table;
}
constexpr ExpansionTable EXPANSIONS = make_expansions();

const Expansion& expansion_of(const char* token, size_t len)
{
    bool digit_test = len >= 2 && is_digit(token[1]);
    return EXPANSIONS.rules[static_cast<unsigned char>(token[0])][digit_test];
}

// Where the rest of a token starts after the prefix of rule e.
size_t field_start(const Expansion& e, size_t rest_len)
{
    return e.field_end > e.prefix_len + rest_len ? e.field_end - rest_len : e.prefix_len;
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
// 16 columns; returns the name's length.  The same rule table as the long
// way below, and no branch on the token's kind.
size_t put_short_deep_sky_name(char* line, const unsigned char* at, size_t n)
{
    uint64_t token = scan::replace_bytes(scan::load8(at) & scan::bytes_before(n), '~', ' ');
    const Expansion& e = expansion_of(reinterpret_cast<const char*>(at), n);
    size_t rest_len = n - e.skip;
    size_t start = field_start(e, rest_len);
    scan::put_field16(line, e.prefix, e.prefix_len, token >> (8 * e.skip), rest_len, start);
    return std::max(start + rest_len, e.width);
}

void copy_column(char* line, size_t column, const char* text, size_t len)
{
    if (column < OBJECT_LINE_WIDTH && len > 0)
        std::memcpy(line + column, text, std::min(len, OBJECT_LINE_WIDTH - column));
}

// Lays out the line without a name, for names to be laid over; returns how
// many columns a name may fill before the book or a long page.
size_t lay_out_without_name(char* line, Word book, Word page)
{
    layout_object_line(line, {"", 0}, book, page);
    return std::min(BOOK_COLUMN, OBJECT_LINE_WIDTH - std::min(page.len, OBJECT_LINE_WIDTH));
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
    const Expansion& e = expansion_of(token, n);
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
    static char book[TOKEN_CAP];
    static char page[TOKEN_CAP];
    // Book and page change seldom: the line without a name is laid out once
    // for each of them, and a name that ends before the book column only
    // needs to be laid over it.
    static char blank_name_line[OBJECT_LINE_WIDTH];
    size_t book_len = 0;
    size_t page_len = 0;
    size_t len = 0;
    size_t name_room = lay_out_without_name(blank_name_line, {book, book_len}, {page, page_len});
    // Moon names keep their length; a deep-sky token of 8 bytes may grow to 11.
    const size_t short_limit = mode == MODE_MOON ? scan::SHORT_TOKEN - 1 : 8;
    for (;;) {
        input.next = scan::skip_white(input.next, input.end);
        if (input.next >= input.end) {
            input.next = input.end;
            if (!in_more())
                return;
            continue;
        }
        // Short object tokens that end inside the buffer, laid over a line
        // whose first 16 columns are blank, take the short way.
        const unsigned char* at = input.next;
        size_t n = scan::short_token_length(at);
        if (n > 0 && n <= short_limit && at + n < input.end && *at != BOOK_MARKER &&
            *at != PAGE_MARKER && name_room >= SHORT_NAME) {
            // A name too long for its room is laid out again the long way.
            char* line = out_claim(OBJECT_LINE_WIDTH);
            std::memcpy(line, blank_name_line, OBJECT_LINE_WIDTH);
            size_t name_len = n;
            if (mode == MODE_MOON)
                scan::put_moon_name16(line, at, n);
            else
                name_len = put_short_deep_sky_name(line, at, n);
            if (name_len > name_room) {
                std::memcpy(token, line, name_len);
                layout_object_line(line, {token, name_len}, {book, book_len}, {page, page_len});
            }
            out_line_end();
            input.next = at + n;
            continue;
        }
        read_token(token, &len);
        if (token[0] == BOOK_MARKER || token[0] == PAGE_MARKER) {
            char* value = token[0] == BOOK_MARKER ? book : page;
            size_t* value_len = token[0] == BOOK_MARKER ? &book_len : &page_len;
            *value_len = len - 1;
            std::memcpy(value, token + 1, len - 1);
            name_room = lay_out_without_name(blank_name_line, {book, book_len}, {page, page_len});
            continue;
        }
        if (mode == MODE_MOON)
            normalize_moon_name(token, len);
        else
            expand_deep_sky_name(token, &len);
        char* line = out_claim(OBJECT_LINE_WIDTH);
        if (len <= name_room) {
            std::memcpy(line, blank_name_line, OBJECT_LINE_WIDTH);
            std::memcpy(line, token, len);
        } else {
            layout_object_line(line, {token, len}, {book, book_len}, {page, page_len});
        }
        out_line_end();
    }
}
