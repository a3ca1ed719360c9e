// Deep-sky lists (modes l and L): percent lines set the book, page and
// observing setup; every other line is one observation, written as a
// spreadsheet row (l) or as an entry of a raw object list for the index (L).
#include "skynote.h"
#include "textstream.h"

#include <cstring>
#include <initializer_list>
#include <iterator>

namespace {

struct CodeRow {
    char input;
    Word output;
};

// Every input word is a single lower-case letter.
const CodeRow TYPE_CODES[] = {
    {'d', {"DN", 2}}, {'g', {"Gb", 2}}, {'p', {"PN", 2}},
    {'b', {"Nb", 2}}, {'o', {"OC", 2}}, {'x', {"Gx", 2}},
};

const CodeRow CATALOGUE_CODES[] = {
    {'m', {"M", 1}},
    {'n', {"NGC", 3}},
    {'i', {"IC", 2}},
};

// The values a percent line sets; they hold until the next one.  All start
// empty, so the first percent line that names a book always writes it.
struct ListState {
    Text book;
    Text page;
    Text inst;
    Text durchm;
    Text fst;
    bool setup_quoted; // Inst, Durchm or fst holds a double quote
};

// Observation fields, in the order of the words of a normal line.
enum NormalWord { TYP, KAT, NR, VERGR, SB, BEM, FILTER };
// Setup fields, in the order of the words of a percent line.
enum PercentWord { MARKER, BUCH, SEITE, INST, DURCHM, FST };

void map_code(Word* word, const CodeRow* rows, size_t count)
{
    if (word->len != 1)
        return;
    for (size_t i = 0; i < count; ++i) {
        if (word->data[0] == rows[i].input) {
            *word = rows[i].output;
            return;
        }
    }
}

Word text_word(const Text& text)
{
    return {text.data, text.len};
}

bool has_quote(Word word)
{
    return word.len > 0 && std::memchr(word.data, '"', word.len) != nullptr;
}

bool same_word(Word a, Word b)
{
    return a.len == b.len && (a.len == 0 || std::memcmp(a.data, b.data, a.len) == 0);
}

// Splits the line at white space into at most LIST_WORDS words; the slots
// of missing words stay empty.  Every change between white space and a word
// is an edge: the even edges start words, the odd ones end them.  The edges
// are collected without a branch per byte, since words are short and a
// mispredicted branch at each edge would cost more than the whole scan.
void split_words(Word line, Word* words)
{
    size_t edges[2 * LIST_WORDS];
    size_t count = 0;
    bool white_before = true;
    for (size_t i = 0; i < line.len && count < 2 * LIST_WORDS; ++i) {
        bool white = is_white(static_cast<unsigned char>(line.data[i]));
        edges[count] = i;
        count += white != white_before;
        white_before = white;
    }
    if (count % 2 == 1)
        edges[count++] = line.len;
    for (size_t word = 0; word < LIST_WORDS; ++word) {
        if (2 * word < count)
            words[word] = {line.data + edges[2 * word], edges[2 * word + 1] - edges[2 * word]};
        else
            words[word] = {"", 0};
    }
}

void report_line(const char* what, Word line)
{
    const Word pieces[] = {{what, std::strlen(what)}, line, {"\n", 1}};
    err_write(pieces, std::size(pieces));
}

void keep_if_given(Text* value, Word word)
{
    if (word.len > 0)
        text_assign(value, word.data, word.len);
}

void read_percent_line(char mode, Word line, const Word* words, ListState* state)
{
    if (words[FST].len == 0)
        report_line("fehlerhafte %-Zeile: ", line);
    bool same_book = words[BUCH].len == 0 || same_word(words[BUCH], text_word(state->book));
    keep_if_given(&state->book, words[BUCH]);
    keep_if_given(&state->page, words[SEITE]);
    keep_if_given(&state->inst, words[INST]);
    keep_if_given(&state->durchm, words[DURCHM]);
    keep_if_given(&state->fst, words[FST]);
    state->setup_quoted = has_quote(text_word(state->inst)) || has_quote(text_word(state->durchm)) ||
                          has_quote(text_word(state->fst));
    if (mode != MODE_INDEX_EXPORT)
        return;
    if (!same_book) {
        out_line_end();
        out_bytes("%", 1);
        out_word(text_word(state->book));
    }
    out_line_end();
    out_bytes("#", 1);
    out_word(text_word(state->page));
    out_bytes(" ", 1);
}

// A spreadsheet reads a field that begins with a double quote as quoted
// text and runs on into the next rows: a field with a double quote goes out
// quoted, each inner quote doubled.  A semicolon or a leading = stays as
// typed, since users may rely on them.
void write_field(Word field)
{
    if (!has_quote(field)) {
        out_word(field);
        return;
    }
    out_bytes("\"", 1);
    const char* from = field.data;
    const char* end = field.data + field.len;
    while (const void* quote = std::memchr(from, '"', static_cast<size_t>(end - from))) {
        const char* after = static_cast<const char*>(quote) + 1;
        out_bytes(from, static_cast<size_t>(after - from));
        out_bytes("\"", 1);
        from = after;
    }
    out_bytes(from, static_cast<size_t>(end - from));
    out_bytes("\"", 1);
}

void write_row(Word line, const Word* words, const ListState& state)
{
    const Word fields[] = {
        words[KAT],   words[NR],  {"", 0},    words[TYP], text_word(state.inst),
        text_word(state.durchm),  {"ZQ", 2},  words[VERGR],
        text_word(state.fst),     words[SB],  words[BEM], words[FILTER],
    };
    // Rows without a double quote, nearly all of them, go out in one piece.
    if (!state.setup_quoted && !has_quote(line)) {
        out_joined(fields, std::size(fields), ';');
    } else {
        for (size_t i = 0; i < std::size(fields); ++i) {
            if (i > 0)
                out_bytes(";", 1);
            write_field(fields[i]);
        }
    }
    out_line_end();
}

void read_normal_line(char mode, Word line, Word* words, const ListState& state)
{
    if (words[SB].len == 0)
        report_line("fehlerhafte Normalzeile: ", line);
    // A percent sign where the remark belongs lets a filter stand without one.
    if (words[BEM].len > 0 && words[BEM].data[0] == '%')
        words[BEM] = {"", 0};
    map_type_code(&words[TYP]);
    map_catalogue_code(&words[KAT]);
    if (mode == MODE_LIST_EXPORT) {
        write_row(line, words, state);
        return;
    }
    // The ~ turns back into a blank when mode d reads the entry.
    out_word(words[KAT]);
    out_bytes("~", 1);
    out_word(words[NR]);
    out_bytes(" ", 1);
}

} // namespace

void map_type_code(Word* word)
{
    map_code(word, TYPE_CODES, std::size(TYPE_CODES));
}

void map_catalogue_code(Word* word)
{
    map_code(word, CATALOGUE_CODES, std::size(CATALOGUE_CODES));
}

void convert_deep_sky_list(char mode)
{
    static ListState state;
    Word line;
    for (Text* value : {&state.book, &state.page, &state.inst, &state.durchm, &state.fst}) {
        text_reserve(value, 256); // never a null pointer, even while empty
        value->len = 0;
    }
    Word words[LIST_WORDS];
    while (in_read_line(&line)) {
        split_words(line, words);
        if (words[0].len == 0)
            continue;
        if (words[MARKER].len == 1 && words[MARKER].data[0] == '%')
            read_percent_line(mode, line, words, &state);
        else
            read_normal_line(mode, line, words, state);
    }
}
