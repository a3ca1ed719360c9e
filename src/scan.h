// Bit-parallel scanning: tests 16 input bytes at once (SSE2) or 8 in a
// 64-bit word (everywhere) instead of one byte at a time, so that finding
// where a token or a line ends costs no branch per byte, and rewrites short
// names the same way.  Every trick is tested against a plain byte loop.
//
// The byte masks below ("highs") carry one flag per byte in that byte's
// high bit (0x80), byte 0 of the input in the lowest byte of the word.
// Flags gathered from them carry one bit per byte, bit i for byte i.
#pragma once

#include "skynote.h"

#include <cstdint>
#include <cstring>

// x86-64 always has SSE2; -DSKYNOTE_PORTABLE_SCAN builds the portable way
// there too, so that both are tested.
#if defined(__SSE2__) && !defined(SKYNOTE_PORTABLE_SCAN)
#include <emmintrin.h>
#define SKYNOTE_SSE2_SCAN 1
#endif

namespace scan {

// Loads and stores go through memcpy, which compiles to one move; the
// masks count byte 0 as the lowest byte, so a big-endian machine swaps.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool BIG_ENDIAN_BYTES = true;
#else
constexpr bool BIG_ENDIAN_BYTES = false; // x86, ARM little-endian, Windows
#endif

inline uint64_t byte_swap(uint64_t x)
{
    uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i)
        swapped = swapped << 8 | ((x >> (8 * i)) & 0xFF);
    return swapped;
}

inline uint64_t load8(const void* at)
{
    uint64_t x;
    std::memcpy(&x, at, 8);
    return BIG_ENDIAN_BYTES ? byte_swap(x) : x;
}

inline void store8(void* at, uint64_t x)
{
    if (BIG_ENDIAN_BYTES)
        x = byte_swap(x);
    std::memcpy(at, &x, 8);
}

constexpr uint64_t ONES = 0x0101010101010101u;  // 0x01 in every byte
constexpr uint64_t HIGHS = 0x8080808080808080u; // 0x80 in every byte
constexpr uint64_t BLANKS = 0x2020202020202020u;

// Highs of the bytes below n (n at most 0x80).  (x | 0x80) - n never
// borrows from the next byte, and its high bit stays set exactly when the
// low seven bits are n or more; bytes of 0x80 and above are never below.
inline uint64_t bytes_below(uint64_t x, unsigned n)
{
    return ~((x | HIGHS) - n * ONES) & ~x & HIGHS;
}

// Highs of the bytes equal to c: those that c turns into zero.
inline uint64_t bytes_equal(uint64_t x, unsigned char c)
{
    return bytes_below(x ^ (c * ONES), 1);
}

// Highs of the bytes from lo to hi (hi below 0x80).
inline uint64_t bytes_between(uint64_t x, unsigned lo, unsigned hi)
{
    return bytes_below(x, hi + 1) & ~bytes_below(x, lo);
}

// Highs of the white-space bytes: tab to CR (0x09 to 0x0D) and blank.
inline uint64_t white_bytes(uint64_t x)
{
    return bytes_between(x, 0x09, 0x0D) | bytes_equal(x, ' ');
}

// The number of zero bits below the lowest set one; x must not be 0.
inline unsigned lowest_bit(uint64_t x)
{
#if defined(__GNUC__)
    return static_cast<unsigned>(__builtin_ctzll(x));
#else
    unsigned n = 0;
    for (; (x & 0xFF) == 0; x >>= 8)
        n += 8;
    for (; (x & 1) == 0; x >>= 1)
        ++n;
    return n;
#endif
}

// All bits of the bytes before byte n (n from 0 to 8).
constexpr uint64_t BYTES_BEFORE[9] = {
    0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFFu, 0xFFFFFFFFFFFFu, 0xFFFFFFFFFFFFFFu,
    ~uint64_t{0},
};
constexpr uint64_t bytes_before(size_t n)
{
    return BYTES_BEFORE[n];
}

// Moves the high bit of byte i to bit i: the eight flags of a word as one
// byte.  Each flag, shifted down to bit 8i, is multiplied by a constant
// that has one bit at 7j + 7 for each byte j; the product carries flag i
// to bit 56 + i from j = 7 - i, and no two products meet in the top byte.
inline unsigned gather(uint64_t highs)
{
    return static_cast<unsigned>(((highs >> 7) * 0x0102040810204080u) >> 56);
}

// The flags of 16 bytes, one bit a byte (bit i for at[i]): white space,
// line feeds alone, and double quotes.  Reads 16 bytes.
struct Flags16 {
    unsigned white;
    unsigned feeds;
    unsigned quotes;
};

inline Flags16 flags16_portable(const unsigned char* at)
{
    uint64_t low = load8(at);
    uint64_t high = load8(at + 8);
    return {gather(white_bytes(low)) | gather(white_bytes(high)) << 8,
            gather(bytes_equal(low, '\n')) | gather(bytes_equal(high, '\n')) << 8,
            gather(bytes_equal(low, '"')) | gather(bytes_equal(high, '"')) << 8};
}

#ifdef SKYNOTE_SSE2_SCAN
// The same with 16-byte compares.  Tab to CR are the bytes that lose 9 and
// then stay at 4 or below (unsigned); movemask gathers the compare results.
inline Flags16 flags16_sse2(const unsigned char* at)
{
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    __m128i from_tab = _mm_sub_epi8(x, _mm_set1_epi8(0x09));
    __m128i tab_to_cr = _mm_cmpeq_epi8(_mm_min_epu8(from_tab, _mm_set1_epi8(0x04)), from_tab);
    __m128i blank = _mm_cmpeq_epi8(x, _mm_set1_epi8(' '));
    __m128i feed = _mm_cmpeq_epi8(x, _mm_set1_epi8('\n'));
    __m128i quote = _mm_cmpeq_epi8(x, _mm_set1_epi8('"'));
    return {static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(tab_to_cr, blank))),
            static_cast<unsigned>(_mm_movemask_epi8(feed)),
            static_cast<unsigned>(_mm_movemask_epi8(quote))};
}
#endif

inline Flags16 flags16(const unsigned char* at)
{
#ifdef SKYNOTE_SSE2_SCAN
    return flags16_sse2(at);
#else
    return flags16_portable(at);
#endif
}

// Tokens shorter than this are found with one look at 16 bytes.
constexpr size_t SHORT_TOKEN = 16;

// The length of the token that starts at `at` (a byte that is not white
// space), when it is shorter than SHORT_TOKEN bytes; 0 for a longer one.
// Reads 16 bytes.
inline size_t short_token_length(const unsigned char* at)
{
    unsigned white = flags16(at).white;
    return white ? lowest_bit(white) : 0;
}

// The first byte at or after `at` that is not white space, or a byte at or
// after `end` when there is none before it.  Reads up to 16 bytes past `end`.
inline const unsigned char* skip_white(const unsigned char* at, const unsigned char* end)
{
    for (; at < end; at += 16) {
        unsigned word_bytes = ~flags16(at).white & 0xFFFF;
        if (word_bytes)
            return at + lowest_bit(word_bytes);
    }
    return at;
}

// The white-space flags of the 64 bytes from `base` (bit i for base[i]),
// and how many of them are used up.  Reads 64 bytes.  Walking tokens
// through the flags costs a few bit operations a token, where loading and
// testing the bytes at each token's end would make every token wait for
// the one before it.
struct TokenWindow {
    const unsigned char* base;
    uint64_t white;
    size_t done;
};

inline TokenWindow token_window(const unsigned char* base)
{
    TokenWindow window = {base, 0, 0};
    for (unsigned k = 0; k < 4; ++k)
        window.white |= uint64_t{flags16(base + 16 * k).white} << (16 * k);
    return window;
}

// The next token after window.done that ends inside the window: its start
// and length.  False when there is none (the next token, if any, runs on
// past the window).
inline bool next_token(const TokenWindow& window, const unsigned char** start, size_t* len)
{
    if (window.done >= 64)
        return false;
    uint64_t words = ~window.white & (~uint64_t{0} << window.done);
    if (words == 0)
        return false;
    unsigned first = lowest_bit(words);
    uint64_t after = window.white & (~uint64_t{0} << first);
    if (after == 0)
        return false;
    *start = window.base + first;
    *len = lowest_bit(after) - first;
    return true;
}

// x with every byte `from` turned into `to`.
inline uint64_t replace_bytes(uint64_t x, unsigned char from, unsigned char to)
{
    return x ^ (bytes_equal(x, from) >> 7) * (from ^ to);
}

// The bytes of x moved up by `by` bytes (at most 7), into two words.
constexpr void shift_into(uint64_t x, size_t by, uint64_t* low, uint64_t* high)
{
    *low = x << (8 * by);
    *high = (x >> 1) >> (63 - 8 * by); // x >> (64 - 8 * by), also for by = 0
}

// Writes the Moon name of the n bytes at `at` (1 to 15) as 16 bytes at
// `to`, blanks after it: every _ becomes a blank, and the first byte and
// each byte after a _ lose 0x20 when they are letters a to z.
inline void put_moon_name16_portable(char* to, const unsigned char* at, size_t n)
{
    uint64_t low = load8(at) & bytes_before(n < 8 ? n : 8);
    uint64_t high = n > 8 ? load8(at + 8) & bytes_before(n - 8) : 0;
    uint64_t low_underscores = bytes_equal(low, '_');
    uint64_t high_underscores = bytes_equal(high, '_');
    // Byte 0 and the bytes after a _ (the one after byte 7 is byte 8).
    uint64_t low_capitals = (low_underscores << 8 | 0x80) & bytes_between(low, 'a', 'z');
    uint64_t high_capitals = (high_underscores << 8 | low_underscores >> 56) & bytes_between(high, 'a', 'z');
    low ^= (low_underscores >> 7) * ('_' ^ ' ') ^ (low_capitals >> 7) * ('a' ^ 'A');
    high ^= (high_underscores >> 7) * ('_' ^ ' ') ^ (high_capitals >> 7) * ('a' ^ 'A');
    store8(to, low | (BLANKS & ~bytes_before(n < 8 ? n : 8)));
    store8(to + 8, high | (BLANKS & ~bytes_before(n > 8 ? n - 8 : 0)));
}

#ifdef SKYNOTE_SSE2_SCAN
// The same on one 16-byte register: compares give 0xFF lanes, which select
// blanks for _ and the name's end and the 0x20 to flip for capitals.
inline void put_moon_name16_sse2(char* to, const unsigned char* at, size_t n)
{
    static const unsigned char IOTA[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    __m128i index = _mm_loadu_si128(reinterpret_cast<const __m128i*>(IOTA));
    __m128i in_name = _mm_cmplt_epi8(index, _mm_set1_epi8(static_cast<char>(n)));
    __m128i underscore = _mm_and_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('_')), in_name);
    __m128i from_a = _mm_sub_epi8(x, _mm_set1_epi8('a'));
    __m128i lower = _mm_cmpeq_epi8(_mm_min_epu8(from_a, _mm_set1_epi8('z' - 'a')), from_a);
    __m128i first = _mm_cmpeq_epi8(index, _mm_setzero_si128());
    __m128i capital = _mm_and_si128(_mm_or_si128(_mm_slli_si128(underscore, 1), first), lower);
    x = _mm_xor_si128(x, _mm_and_si128(_mm_and_si128(capital, in_name), _mm_set1_epi8(0x20)));
    __m128i blank = _mm_or_si128(underscore, _mm_andnot_si128(in_name, _mm_set1_epi8(-1)));
    x = _mm_or_si128(_mm_andnot_si128(blank, x), _mm_and_si128(blank, _mm_set1_epi8(' ')));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), x);
}
#endif

inline void put_moon_name16(char* to, const unsigned char* at, size_t n)
{
#ifdef SKYNOTE_SSE2_SCAN
    put_moon_name16_sse2(to, at, n);
#else
    put_moon_name16_portable(to, at, n);
#endif
}

// Lines shorter than this are split through one 64-bit window; the bits
// above such a line leave room for a stop bit for every word.
constexpr size_t SHORT_LINE = 57;
// Words of a line that the deep-sky list drivers look at.
constexpr size_t LINE_WORDS = 7;

// The flags of a line's window, bit i for byte i.
struct LineWindow {
    uint64_t white;
    uint64_t feeds;
    uint64_t quotes;
};

// Adds the flags of the k-th 16 bytes of a window.
inline void add_to_window(const unsigned char* at, unsigned k, LineWindow* window)
{
    Flags16 flags = flags16(at + 16 * k);
    window->white |= uint64_t{flags.white} << (16 * k);
    window->feeds |= uint64_t{flags.feeds} << (16 * k);
    window->quotes |= uint64_t{flags.quotes} << (16 * k);
}

// Splits the line that starts at `at` into its first LINE_WORDS words and
// tells whether it holds a double quote, when the line is shorter than
// SHORT_LINE bytes; returns its length, or SHORT_LINE when it is longer (and
// then nothing is split).  Reads 32 bytes, and 64 when no line feed is among
// the first 32.
//
// One window holds flags for 64 bytes: white (line feeds included), feeds
// and quotes.  Word starts are the non-white bytes after a white one, word
// ends the white bytes after a non-white one.  Stop bits from 57 up, one for
// each word that may be missing, give missing words an empty start and end.
inline size_t split_short_line(const unsigned char* at, Word* words, bool* quoted)
{
    // The first 32 bytes always, the rest only for longer lines: a loop that
    // stopped at the line feed would guess wrong at nearly every line.
    LineWindow window = {0, 0, 0};
    add_to_window(at, 0, &window);
    add_to_window(at, 1, &window);
    if (window.feeds == 0) {
        add_to_window(at, 2, &window);
        add_to_window(at, 3, &window);
    }
    if (window.feeds == 0 || lowest_bit(window.feeds) >= SHORT_LINE)
        return SHORT_LINE;
    size_t length = lowest_bit(window.feeds);
    uint64_t in_line = (uint64_t{1} << length) - 1;
    *quoted = (window.quotes & in_line) != 0;
    uint64_t word = ~window.white & in_line;
    const uint64_t STOPS = ~uint64_t{0} << SHORT_LINE;
    static_assert(64 - SHORT_LINE >= LINE_WORDS, "a stop bit for every word");
    uint64_t starts = (word & ~(word << 1)) | STOPS;
    uint64_t ends = (~word & (word << 1)) | STOPS;
    const char* line = reinterpret_cast<const char*>(at);
    for (size_t i = 0; i < LINE_WORDS; ++i) {
        unsigned start = lowest_bit(starts);
        unsigned end = lowest_bit(ends);
        words[i] = {line + start, end - start};
        starts &= starts - 1;
        ends &= ends - 1;
    }
    return length;
}

} // namespace scan
