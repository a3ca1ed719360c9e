// Deep-sky lists (modes l and L): percent lines set the book, page and
// observing setup; every other line is one observation, written as a
// spreadsheet row (l) or as an entry of a raw object list for the index (L).
#include "skynote.h"
#include "scan.h"
#include "textstream.h"

#include <cstring>
#include <initializer_list>
#include <iterator>

namespace {

// Fields of up to FIELD_COPY - 1 bytes are copied as FIELD_COPY bytes: one
// fixed-size move instead of a call, and the output keeps slack for the
// rest.  Every field lies where reading that far is safe: in the input
// buffer with its padding, in a code table, in a value of ListState (whose
// room is larger and zero-filled), or here.
constexpr size_t FIELD_COPY = 16;
const char NO_TEXT[FIELD_COPY] = {};
const Word EMPTY = {NO_TEXT, 0};

struct CodeRow {
    char input;
    const char* output;
};

// Every one-byte word maps to a padded text: a code's output, or the word
// itself, so that no branch decides which.  The text's last byte holds its
// length, so that one address finds both; the copy of a field writes it
// past the field's end, where the next field's copy covers it.
struct CodeTable {
    char text[256][FIELD_COPY];
};
constexpr size_t CODE_LEN = FIELD_COPY - 1;

template <size_t N> constexpr CodeTable make_code_table(const CodeRow (&rows)[N])
{
    CodeTable table{};
    for (int byte = 0; byte < 256; ++byte) {
        table.text[byte][0] = static_cast<char>(byte);
        table.text[byte][CODE_LEN] = 1;
    }
    for (const CodeRow& row : rows) {
        unsigned char input = static_cast<unsigned char>(row.input);
        size_t len = 0;
        for (; row.output[len] != '\0'; ++len)
            table.text[input][len] = row.output[len];
        table.text[input][CODE_LEN] = static_cast<char>(len);
    }
    return table;
}

// Every input word is a single lower-case letter.
constexpr CodeRow TYPE_CODES[] = {
    {'d', "DN"}, {'g', "Gb"}, {'p', "PN"}, {'b', "Nb"}, {'o', "OC"}, {'x', "Gx"},
};
constexpr CodeRow CATALOGUE_CODES[] = {{'m', "M"}, {'n', "NGC"}, {'i', "IC"}};
constexpr CodeTable TYPE_TABLE = make_code_table(TYPE_CODES);
constexpr CodeTable CATALOGUE_TABLE = make_code_table(CATALOGUE_CODES);

// The values a percent line sets; they hold until the next one.  All start
// empty, so the first percent line that names a book always writes it.
struct ListState {
    Text book;
    Text page;
    Text inst;
    Text durchm;
    Text fst;
    bool setup_quoted; // Inst, Durchm or fst holds a double quote
    // The row's fixed parts between Typ and Vergr, and Vergr and Sb.
    Text middle; // ;Inst;Durchm;ZQ;
    Text fst_field; // ;fst;
};

// A line of the list with its first words, and whether it holds a double
// quote anywhere.
struct ListLine {
    Word text;
    Word words[LIST_WORDS];
    bool quoted;
};

// Observation fields, in the order of the words of a normal line.
enum NormalWord { TYP, KAT, NR, VERGR, SB, BEM, FILTER };
// Setup fields, in the order of the words of a percent line.
enum PercentWord { MARKER, BUCH, SEITE, INST, DURCHM, FST };

void map_code(Word* word, const CodeTable& table)
{
    if (word->len != 1)
        return;
    const char* text = table.text[static_cast<unsigned char>(word->data[0])];
    *word = {text, static_cast<size_t>(text[CODE_LEN])};
}

Word text_word(const Text& text)
{
    return {text.data, text.len};
}

bool has_quote(Word word)
{
    return word.len > 0 && std::memchr(word.data, '"', word.len) != nullptr;
}

// Whether a line's first word makes it a percent line.  Few lines are:
// its length is looked at only after its first byte.
bool is_percent_marker(Word word)
{
    return word.data[0] == '%' && word.len == 1;
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
            words[word] = EMPTY;
    }
}

void report_line(const char* what, Word line)
{
    const Word pieces[] = {{what, std::strlen(what)}, line, {"\n", 1}};
    err_write(pieces, std::size(pieces));
}

// Keeps FIELD_COPY zero bytes of room after the joined pieces.
void text_join(Text* text, const Word* pieces, size_t count)
{
    size_t len = 0;
    for (size_t i = 0; i < count; ++i)
        len += pieces[i].len;
    if (!text_reserve(text, len + FIELD_COPY))
        return;
    text->len = 0;
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(text->data + text->len, pieces[i].data, pieces[i].len);
        text->len += pieces[i].len;
    }
    std::memset(text->data + len, 0, FIELD_COPY);
}

void keep_if_given(Text* value, Word word)
{
    if (word.len > 0)
        text_assign(value, word.data, word.len);
}

// Mode L writes only the book and the page; the setup is for the rows of
// mode l.
void read_percent_line(char mode, const ListLine& list_line, ListState* state)
{
    Word line = list_line.text;
    const Word* words = list_line.words;
    if (words[FST].len == 0)
        report_line("fehlerhafte %-Zeile: ", line);
    bool same_book = words[BUCH].len == 0 || same_word(words[BUCH], text_word(state->book));
    keep_if_given(&state->book, words[BUCH]);
    keep_if_given(&state->page, words[SEITE]);
    if (mode == MODE_INDEX_EXPORT) {
        if (!same_book) {
            out_line_end();
            out_bytes("%", 1);
            out_word(text_word(state->book));
        }
        out_line_end();
        out_bytes("#", 1);
        out_word(text_word(state->page));
        out_bytes(" ", 1);
        return;
    }
    keep_if_given(&state->inst, words[INST]);
    keep_if_given(&state->durchm, words[DURCHM]);
    keep_if_given(&state->fst, words[FST]);
    // Values without a quote that a line without one sets keep it so.
    if (list_line.quoted || state->setup_quoted)
        state->setup_quoted = has_quote(text_word(state->inst)) ||
                              has_quote(text_word(state->durchm)) || has_quote(text_word(state->fst));
    const Word middle[] = {{";", 1}, text_word(state->inst), {";", 1}, text_word(state->durchm),
                           {";ZQ;", 4}};
    text_join(&state->middle, middle, std::size(middle));
    const Word fst_field[] = {{";", 1}, text_word(state->fst), {";", 1}};
    text_join(&state->fst_field, fst_field, std::size(fst_field));
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

char* put_field(char* to, Word field)
{
    std::memcpy(to, field.data, FIELD_COPY);
    return to + field.len;
}

// Keeps a word of fewer than FIELD_COPY bytes in a value of ListState,
// whose room is larger.
void keep_short(Text* value, Word word)
{
    std::memcpy(value->data, word.data, FIELD_COPY);
    value->len = word.len;
}

void write_row(const ListLine& line, const ListState& state)
{
    // The rows that put_short_row leaves (a double quote, a long field, no
    // Sb), and every row on the long way.
    bool quoted = state.setup_quoted || line.quoted;
    const Word* words = line.words;
    const Word fields[] = {
        words[KAT],   words[NR],  {"", 0},    words[TYP], text_word(state.inst),
        text_word(state.durchm),  {"ZQ", 2},  words[VERGR],
        text_word(state.fst),     words[SB],  words[BEM], words[FILTER],
    };
    if (!quoted) {
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

// Writes an index entry of words shorter than FIELD_COPY into room the
// caller has made sure of; returns what follows.  The ~ turns back into a
// blank when mode d reads the entry.
inline char* put_index_entry(char* to, Word kat, Word nr)
{
    to = put_field(to, kat);
    *to++ = '~';
    to = put_field(to, nr);
    *to++ = ' ';
    return to;
}

void write_index_entry(Word kat, Word nr)
{
    // A terminal leaves no room, so that every entry there takes the long
    // way, whose last write sends it out at once.
    if (fast_ways && (kat.len | nr.len) < FIELD_COPY &&
        kat.len + nr.len + 2 <= static_cast<size_t>(output.end - output.next)) {
        output.next = put_index_entry(output.next, kat, nr);
        return;
    }
    out_word(kat);
    out_bytes("~", 1);
    out_word(nr);
    out_bytes(" ", 1);
}

void read_normal_line(char mode, ListLine* line, const ListState& state)
{
    Word* words = line->words;
    if (words[SB].len == 0)
        report_line("fehlerhafte Normalzeile: ", line->text);
    map_catalogue_code(&words[KAT]);
    if (mode == MODE_INDEX_EXPORT) {
        write_index_entry(words[KAT], words[NR]);
        return;
    }
    // A percent sign where the remark belongs lets a filter stand without one.
    if (words[BEM].len > 0 && words[BEM].data[0] == '%')
        words[BEM] = EMPTY;
    map_type_code(&words[TYP]);
    write_row(*line, state);
}

// The row's fixed parts between Typ and Vergr, and Vergr and Sb, as the
// short way holds them: copies of ListState's, which stores of output bytes
// cannot change, so that no row loads them anew through the state.
struct RowParts {
    char middle[2 * FIELD_COPY];
    size_t middle_len;
    char fst_field[FIELD_COPY];
    size_t fst_field_len;
};

// The parts of a setup that rows_fit.
void take_row_parts(RowParts* parts, const ListState& state)
{
    std::memcpy(parts->middle, state.middle.data, 2 * FIELD_COPY);
    parts->middle_len = state.middle.len;
    std::memcpy(parts->fst_field, state.fst_field.data, FIELD_COPY);
    parts->fst_field_len = state.fst_field.len;
}

// The input and output as the short way holds them while it takes lines:
// locals, which the compiler keeps in registers (the stores of output bytes
// could change the globals), and mode l's row parts.
struct ShortWay {
    const unsigned char* at; // the first line not done
    scan::LinesEnd end;
    OutputBuffer out;
    const char* last_room; // the last place with a block's room after it
    RowParts parts;
};

// Mode l's row of a normal line the short way into `out`, its words taken
// one by one as the row needs them and each laid down at once, so that
// none is held: Kat;Nr;;Typ;Inst;Durchm;ZQ;Vergr;Fst;Sb;Bem;Filter.
// Every word of the line is shorter than FIELD_COPY (a longer one leaves
// the line to the common way, see start_block).  Nothing counts as written
// until the end, so a missing Sb (whose message the common way writes; the
// words taken up to it may then be a later line's) leaves it all to the
// common way: false, with nothing written.  The room is the block's
// (BLOCK_ROOM).
template <class Scan>
bool put_short_row(scan::ShortLine<Scan> line, Word typ, const RowParts& parts, OutputBuffer* out)
{
    char* to = out->next;
    Word kat = scan::next_word(&line);
    map_catalogue_code(&kat);
    to = put_field(to, kat);
    *to++ = ';';
    to = put_field(to, scan::next_word(&line)); // Nr
    *to++ = ';';
    *to++ = ';';
    map_type_code(&typ);
    to = put_field(to, typ);
    std::memcpy(to, parts.middle, 2 * FIELD_COPY);
    to += parts.middle_len;
    to = put_field(to, scan::next_word(&line)); // Vergr
    std::memcpy(to, parts.fst_field, FIELD_COPY);
    to += parts.fst_field_len;
    Word sb = scan::next_word(&line);
    to = put_field(to, sb);
    *to++ = ';';
    Word bem = scan::next_word(&line);
    // A percent sign where the remark belongs lets a filter stand without one.
    if (!scan::in_line(line, bem) || bem.data[0] == '%')
        bem.len = 0;
    to = put_field(to, bem);
    *to++ = ';';
    Word filter = scan::next_word(&line);
    if (!scan::in_line(line, filter))
        filter.len = 0;
    to = put_field(to, filter);
    to = put_line_end(to);
    if (!scan::in_line(line, sb))
        return false;
    out->next = to;
    return true;
}

// Whether a word shorter than FIELD_COPY is the same as a value, whose
// room is larger: FIELD_COPY bytes of each compared as two words, the
// bytes past the word's end masked off.
bool same_short_word(Word word, const Text& value)
{
    if (word.len != value.len)
        return false;
    uint64_t low = scan::load8(word.data) ^ scan::load8(value.data);
    uint64_t high = scan::load8(word.data + 8) ^ scan::load8(value.data + 8);
    size_t n = word.len;
    return ((low & scan::bytes_before(n < 8 ? n : 8)) | (high & scan::bytes_before(n > 8 ? n - 8 : 0))) == 0;
}

// Mode L's percent line the short way: the book when it changes, then the
// page, as read_percent_line writes them, and both kept; returns what
// follows.  Null, with nothing done, for a line it leaves to the common
// way: one without an Fst (a line with one has every word before it), a
// word of FIELD_COPY bytes or more.
template <class Scan>
[[gnu::always_inline]] inline char* put_index_percent(scan::ShortLine<Scan> line, ListState* state, char* to)
{
    Word book = scan::next_word(&line);
    Word page = scan::next_word(&line);
    if (!scan::has_more_words(line, 3) || (book.len | page.len) >= FIELD_COPY) // Inst, Durchm, Fst
        return nullptr;
    if (!same_short_word(book, state->book)) {
        to = put_line_end(to);
        *to++ = '%';
        to = put_field(to, book);
    }
    to = put_line_end(to);
    *to++ = '#';
    to = put_field(to, page);
    *to++ = ' ';
    keep_short(&state->book, book);
    keep_short(&state->page, page);
    return to;
}

// Percent lines are few: kept out of the loop, where their words would
// take registers from the others.  One for each way of scanning, the one
// for BMI compiled for it.
[[gnu::noinline]] char* index_percent_line(scan::ShortLine<scan::StopBits> line, ListState* state, char* to)
{
    return put_index_percent(line, state, to);
}

#ifdef SKYNOTE_AVX2_SCAN
[[gnu::noinline, gnu::target("bmi")]] char* index_percent_line(scan::ShortLine<scan::EmptyAs64> line,
                                                               ListState* state, char* to)
{
    return put_index_percent(line, state, to);
}
#endif

// Whether the short way's rows can follow the setup: none with a double
// quote, and a middle and an Fst field that fit their fixed copies.
bool rows_fit(const ListState& state)
{
    return !state.setup_quoted && state.middle.len <= 2 * FIELD_COPY && state.fst_field.len < FIELD_COPY;
}

// Mode l's percent line the short way: every value kept, and the row's
// fixed parts made anew, as read_percent_line does.  False, with nothing
// done, for a line it leaves to the common way: one without an Fst, with a
// word of FIELD_COPY bytes or more, or whose row parts would not fit.
template <class Scan> [[gnu::always_inline]] inline bool keep_list_percent(scan::ShortLine<Scan> line, ListState* state)
{
    Word book = scan::next_word(&line);
    Word page = scan::next_word(&line);
    Word inst = scan::next_word(&line);
    Word durchm = scan::next_word(&line);
    Word fst = scan::next_word(&line);
    if (!scan::in_line(line, fst) || (book.len | page.len | inst.len | durchm.len | fst.len) >= FIELD_COPY ||
        inst.len + durchm.len + 6 > 2 * FIELD_COPY || fst.len + 2 >= FIELD_COPY)
        return false;
    keep_short(&state->book, book);
    keep_short(&state->page, page);
    keep_short(&state->inst, inst);
    keep_short(&state->durchm, durchm);
    keep_short(&state->fst, fst);
    char* to = state->middle.data;
    *to++ = ';';
    to = put_field(to, inst);
    *to++ = ';';
    to = put_field(to, durchm);
    std::memcpy(to, ";ZQ;", 4);
    state->middle.len = static_cast<size_t>(to + 4 - state->middle.data);
    to = state->fst_field.data;
    *to++ = ';';
    to = put_field(to, fst);
    *to++ = ';';
    state->fst_field.len = static_cast<size_t>(to - state->fst_field.data);
    return true;
}

[[gnu::noinline]] bool list_percent_line(scan::ShortLine<scan::StopBits> line, ListState* state)
{
    return keep_list_percent(line, state);
}

#ifdef SKYNOTE_AVX2_SCAN
[[gnu::noinline, gnu::target("bmi")]] bool list_percent_line(scan::ShortLine<scan::EmptyAs64> line, ListState* state)
{
    return keep_list_percent(line, state);
}
#endif

// Mode L's line the short way: a normal line's entry from just the words
// it writes, when its Sb is there (a line without one has a message, which
// the common way writes); a percent line as above.  False, with nothing
// done, for a line it leaves to the common way.
template <class Scan> bool index_short_line(scan::ShortLine<Scan> line, ListState* state, OutputBuffer* out)
{
    Word typ = scan::next_word(&line);
    if (!scan::in_line(line, typ))
        return true; // white space alone
    if (is_percent_marker(typ)) {
        char* to = index_percent_line(line, state, out->next);
        if (to)
            out->next = to;
        return to != nullptr;
    }
    Word kat = scan::next_word(&line);
    Word nr = scan::next_word(&line);
    if (!scan::has_more_words(line, 2)) // Vergr, then Sb
        return false;
    if ((kat.len | nr.len) >= FIELD_COPY)
        return false;
    map_catalogue_code(&kat);
    out->next = put_index_entry(out->next, kat, nr);
    return true;
}

// Mode l's line the short way; false, with nothing done, for one it leaves
// to the common way: one that put_short_row or list_percent_line leaves.
// (Lines with a double quote never come here, see start_block; the short
// way starts only after a setup that rows_fit, and keeps it so.)
template <class Scan> bool list_short_line(scan::ShortLine<Scan> line, ListState* state, ShortWay* way)
{
    Word typ = scan::next_word(&line);
    if (!scan::in_line(line, typ))
        return true; // white space alone
    if (!is_percent_marker(typ))
        return put_short_row(line, typ, way->parts, &way->out);
    if (!list_percent_line(line, state))
        return false;
    take_row_parts(&way->parts, *state);
    return true;
}

// A mode's way with one short line: false, with nothing done, for a line
// it leaves to the common way.  Its output goes to a copy of the output
// buffer, which the short way hands back at the end.
template <char MODE, class Scan>
[[gnu::always_inline]] inline bool short_line(scan::ShortLine<Scan> line, ListState* state, ShortWay* way)
{
    if constexpr (MODE == MODE_INDEX_EXPORT)
        return index_short_line(line, state, &way->out);
    else
        return list_short_line(line, state, way);
}

// Room in the output for all that the short way writes for the lines of
// one block (64 bytes), so that no line checks its own.  Mode L writes no
// more for a line than the line's own bytes: an entry, or a book and page,
// is shorter than the words it comes from with their blanks.  Mode l's row
// writes at most 58 bytes more than its words (a middle of up to two
// copies, an Fst field shorter than one, two codes that grow by 2, five
// separators, the line end) and 16 bytes past its end; a row that counts
// has five words, so 10 bytes at least, and a block holds six of them (412
// bytes at most) and one more that is tried and does not count, whose
// words may be a later line's, but all of them in the block or at its end
// (138 bytes at most).
template <char MODE> constexpr size_t BLOCK_ROOM = MODE == MODE_INDEX_EXPORT ? 64 : 576;
// Mode L's output is no longer than the lines it comes from: the short way
// takes no more lines than the output has room for, and no block asks.
template <char MODE> constexpr bool ROOM_FOR_ALL = MODE == MODE_INDEX_EXPORT;

// The lines of one block the short way, one after the other, each by the
// mode's short_line.  True when the next line starts a block of its own;
// false at a line that goes the common way (a long one, one that runs past
// the buffer, whose feed the block dropped, one that short_line leaves)
// and, with no line taken, when the output has not BLOCK_ROOM left.
template <char MODE, class Scan>
[[gnu::always_inline]] inline bool take_block_lines(scan::LineBlock<Scan>* block, ListState* state, ShortWay* way)
{
    if (!ROOM_FOR_ALL<MODE> && way->out.next > way->last_room)
        return false;
    scan::ShortLine<Scan> line;
    while (scan::take_line(block, &line)) {
        if (!short_line<MODE>(line, state, way)) {
            way->at = line.base + line.start;
            return false;
        }
    }
    way->at = block->base + block->next;
    return block->next != 0;
}

// The output has BLOCK_ROOM left (take_short_lines made sure of it).
template <char MODE> ShortWay start_short_way(const ListState& state)
{
    const unsigned char* end = input.end;
    size_t room = static_cast<size_t>(output.end - output.next) - BLOCK_ROOM<MODE>;
    if (ROOM_FOR_ALL<MODE> && room < static_cast<size_t>(end - input.next))
        end = input.next + room;
    ShortWay way = {input.next, scan::lines_end(end), output, output.end - BLOCK_ROOM<MODE>, {}};
    if (MODE == MODE_LIST_EXPORT)
        take_row_parts(&way.parts, state);
    return way;
}

// Mode l's short way leaves a line with a double quote, or with a word of
// FIELD_COPY bytes or more, to the common way: both mark it, and the block
// ends before it.  Mode L takes either.
template <char MODE, class Scan>
[[gnu::always_inline]] inline void start_block(scan::LineBlock<Scan>* block, const ShortWay& way, scan::Masks masks)
{
    static_assert(FIELD_COPY == 16, "words too long to copy are runs of 16");
    uint64_t marks = MODE == MODE_LIST_EXPORT ? scan::quotes_and_long_words(masks) : 0;
    scan::start_lines(block, way.at, way.end, masks, marks);
}

// Hands the input and output back; whether any line was taken.
bool end_short_way(const ShortWay& way)
{
    bool moved = way.at > input.next;
    input.next = way.at;
    output = way.out;
    return moved;
}

// Lines the short way, block by block; false when it took no line at all.
// Templates, so that each mode's loop is compiled with its own line inside,
// and once for each kernel, its classification inside too.
template <char MODE> bool take_lines_base(ListState* state)
{
    ShortWay way = start_short_way<MODE>(*state);
    scan::LineBlock<scan::StopBits> block;
    do
        start_block<MODE>(&block, way, scan::classify_base(way.at));
    while (take_block_lines<MODE>(&block, state, &way));
    return end_short_way(way);
}

#ifdef SKYNOTE_AVX2_SCAN
// AVX2 processors also have the bit instructions that scan and clear the
// masks of every word in one instruction each, and scan an empty one as
// 64.  Flattened: the compiler inlines nothing compiled for other
// instructions into it by itself.
template <char MODE> [[gnu::target("avx2,bmi,bmi2"), gnu::flatten]] bool take_lines_avx2(ListState* state)
{
    ShortWay way = start_short_way<MODE>(*state);
    scan::LineBlock<scan::EmptyAs64> block;
    do
        start_block<MODE>(&block, way, scan::classify_avx2(way.at));
    while (take_block_lines<MODE>(&block, state, &way));
    return end_short_way(way);
}
#endif

template <char MODE> bool take_short_lines(ListState* state)
{
    if ((MODE == MODE_LIST_EXPORT && !rows_fit(*state)) || !out_reserve(BLOCK_ROOM<MODE>))
        return false;
#ifdef SKYNOTE_AVX2_SCAN
    if (scan::use_avx2)
        return take_lines_avx2<MODE>(state);
#endif
    return take_lines_base<MODE>(state);
}

// The next line and its words, the long way; false at the end of input.
bool read_list_line(ListLine* line)
{
    if (!in_read_line(&line->text))
        return false;
    split_words(line->text, line->words);
    line->quoted = has_quote(line->text);
    return true;
}

} // namespace

void map_type_code(Word* word)
{
    map_code(word, TYPE_TABLE);
}

void map_catalogue_code(Word* word)
{
    map_code(word, CATALOGUE_TABLE);
}

void convert_deep_sky_list(char mode)
{
    static ListState state;
    for (Text* value : {&state.book, &state.page, &state.inst, &state.durchm, &state.fst,
                        &state.middle, &state.fst_field}) {
        text_reserve(value, 256); // never a null pointer, even while empty
        value->len = 0;
    }
    const Word middle[] = {{";;;ZQ;", 6}};
    text_join(&state.middle, middle, 1);
    const Word fst_field[] = {{";;", 2}};
    text_join(&state.fst_field, fst_field, 1);
    state.setup_quoted = false;
    static_assert(scan::LINE_WORDS == LIST_WORDS, "both ways give the same words");
    ListLine line;
    for (;;) {
        if (fast_ways && (mode == MODE_INDEX_EXPORT ? take_short_lines<MODE_INDEX_EXPORT>(&state)
                                                    : take_short_lines<MODE_LIST_EXPORT>(&state)))
            continue;
        if (!read_list_line(&line))
            break;
        const Word& marker = line.words[MARKER];
        if (marker.len == 0)
            continue;
        if (is_percent_marker(marker))
            read_percent_line(mode, line, &state);
        else
            read_normal_line(mode, &line, state);
    }
}
