// Raw object lists (modes m and d): every word that is not a book or page
// marker becomes one 42-column object line with the current book and page.
#include "skynote.h"
#include "textstream.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char BOOK_MARKER = '%';
constexpr char PAGE_MARKER = '#';

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
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

// Rewrites token[from..n) as prefix, blanks and those bytes, the bytes
// right-aligned to end before column field_end but never overwriting the
// prefix, and the whole padded with blanks to width.  Returns the new length.
size_t put_in_field(char* token, size_t n, const char* prefix, size_t from, size_t field_end,
                    size_t width)
{
    size_t prefix_len = std::strlen(prefix);
    size_t len = n - from;
    size_t start = field_end > prefix_len + len ? field_end - len : prefix_len;
    std::memmove(token + start, token + from, len);
    std::memset(token + prefix_len, ' ', start - prefix_len);
    std::memcpy(token, prefix, prefix_len);
    size_t end = start + len;
    if (end < width) {
        std::memset(token + end, ' ', width - end);
        end = width;
    }
    return end;
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

// The token needs room for EXPANSION_ROOM bytes beyond its length.
void expand_deep_sky_name(char* token, size_t* len)
{
    size_t n = *len;
    std::replace(token, token + n, '~', ' ');
    if (n == 0)
        return;
    // Only the second character decides: m3a still means Messier 3a.
    bool digit_test = n >= 2 && is_digit(token[1]);
    char first = token[0];
    if (first == 'm' && digit_test)
        *len = put_in_field(token, n, "M", 1, 4, 5);
    else if (first == 'b' && digit_test)
        token[0] = 'B';
    else if (first == '"' && digit_test)
        *len = put_in_field(token, n, "", 1, 0, 0);
    else if (first == 'p' && digit_test)
        *len = put_in_field(token, n, "PGC", 1, 0, 0);
    else if (first == 'i' && digit_test)
        *len = put_in_field(token, n, "IC", 1, 6, 6);
    else if (first == 'u' && digit_test)
        *len = put_in_field(token, n, "UGC", 1, 0, 0);
    else if (is_digit(first))
        *len = put_in_field(token, n, "NGC", 0, 7, 7);
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
    while (read_token(token, &len)) {
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
