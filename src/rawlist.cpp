// Raw object lists (modes m and d): every word that is not a book or page
// marker becomes one 42-column object line with the current book and page.
#include "skynote.h"

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

// Reads the next word into token.  An object line shows only the start of a
// name or a book, so the rest of a longer word is read past; a page stands
// right-aligned, so a page marker keeps its marker and its last bytes instead.
bool read_token(char* token, size_t* len)
{
    int c = in_byte();
    while (c != END_OF_INPUT && is_white(c))
        c = in_byte();
    if (c == END_OF_INPUT)
        return false;
    bool keep_tail = c == PAGE_MARKER;
    size_t n = 0;
    for (; c != END_OF_INPUT && !is_white(c); c = in_byte()) {
        if (n == TOKEN_CAP - 1) {
            if (!keep_tail)
                continue;
            std::memmove(token + 1, token + n - OBJECT_LINE_WIDTH, OBJECT_LINE_WIDTH);
            n = 1 + OBJECT_LINE_WIDTH;
        }
        token[n++] = static_cast<char>(c);
    }
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
    static char line[OBJECT_LINE_WIDTH + 1];
    size_t book_len = 0;
    size_t page_len = 0;
    size_t len = 0;
    while (read_token(token, &len)) {
        if (token[0] == BOOK_MARKER) {
            book_len = len - 1;
            std::memcpy(book, token + 1, book_len);
            continue;
        }
        if (token[0] == PAGE_MARKER) {
            page_len = len - 1;
            std::memcpy(page, token + 1, page_len);
            continue;
        }
        if (mode == MODE_MOON)
            normalize_moon_name(token, len);
        else
            expand_deep_sky_name(token, &len);
        layout_object_line(line, {token, len}, {book, book_len}, {page, page_len});
        line[OBJECT_LINE_WIDTH] = '\n';
        out_write(line, sizeof line);
    }
}
