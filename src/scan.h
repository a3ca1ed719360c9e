// Bit-parallel scanning: the input is classified 64 bytes at a time into
// masks, one bit a byte, and lines, words and tokens are then found with bit
// scans, so that finding where they end costs no branch per byte and one
// classification serves every line and word in its block.  Short names are
// rewritten the same way.  Every trick is tested against a plain byte loop.
//
// The byte masks below ("highs") carry one flag per byte in that byte's
// high bit (0x80), byte 0 of the input in the lowest byte of the word.
// Masks gathered from them carry one bit per byte, bit i for byte i.
#pragma once

#include "skynote.h"

#include <cstdint>
#include <cstring>

// One kernel classifies the blocks, chosen at compile time: SSE2 on x86-64
// (and AVX2 instead where the processor has it, chosen at run time), NEON
// on 64-bit ARM, SIMD128 in WebAssembly, and the portable 64-bit words
// everywhere else.  -DSKYNOTE_PORTABLE_SCAN builds the portable words on
// every machine, -DSKYNOTE_NO_AVX2 leaves the run-time choice out, so that
// each kernel can be tested.
#if defined(__SSE2__) && !defined(SKYNOTE_PORTABLE_SCAN)
#include <emmintrin.h>
#define SKYNOTE_SSE2_SCAN 1
#if defined(__x86_64__) && defined(__GNUC__) && !defined(SKYNOTE_NO_AVX2)
#include <immintrin.h>
#define SKYNOTE_AVX2_SCAN 1
#endif
#elif defined(__aarch64__) && defined(__ARM_NEON) && !defined(SKYNOTE_PORTABLE_SCAN)
#include <arm_neon.h>
#define SKYNOTE_NEON_SCAN 1
#elif defined(__wasm_simd128__) && !defined(SKYNOTE_PORTABLE_SCAN)
#include <wasm_simd128.h>
#define SKYNOTE_SIMD128_SCAN 1
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

// The place of the highest set bit; x must not be 0.
inline unsigned highest_bit(uint64_t x)
{
#if defined(__GNUC__)
    return 63 - static_cast<unsigned>(__builtin_clzll(x));
#else
    unsigned n = 63;
    for (; (x >> 56) == 0; x <<= 8)
        n -= 8;
    for (; (x >> 63) == 0; x <<= 1)
        --n;
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

// The first byte c in the len bytes at `at`, or null: memchr, but in
// WebAssembly, whose C library's memchr looks at four bytes at a time, 64
// at a time, as four compares of 16 and one test.
inline const void* find_byte(const void* at, unsigned char c, size_t len)
{
#ifdef SKYNOTE_SIMD128_SCAN
    const unsigned char* p = static_cast<const unsigned char*>(at);
    const unsigned char* end = p + len;
    const v128_t wanted = wasm_i8x16_splat(static_cast<char>(c));
    for (; end - p >= 64; p += 64) {
        v128_t a = wasm_i8x16_eq(wasm_v128_load(p), wanted);
        v128_t b = wasm_i8x16_eq(wasm_v128_load(p + 16), wanted);
        v128_t x = wasm_i8x16_eq(wasm_v128_load(p + 32), wanted);
        v128_t d = wasm_i8x16_eq(wasm_v128_load(p + 48), wanted);
        if (wasm_v128_any_true(wasm_v128_or(wasm_v128_or(a, b), wasm_v128_or(x, d))))
            break;
    }
    for (; p < end; ++p) {
        if (*p == c)
            return p;
    }
    return nullptr;
#else
    return std::memchr(at, c, len);
#endif
}

// Moves the high bit of byte i to bit i: the eight flags of a word as one
// byte.  Each flag, shifted down to bit 8i, is multiplied by a constant
// that has one bit at 7j + 7 for each byte j; the product carries flag i
// to bit 56 + i from j = 7 - i, and no two products meet in the top byte.
inline unsigned gather(uint64_t highs)
{
    return static_cast<unsigned>(((highs >> 7) * 0x0102040810204080u) >> 56);
}

// The classes of a block of 64 bytes, bit i for byte i.
struct Masks {
    uint64_t white;  // tab to CR and blank, line feeds among them
    uint64_t feeds;  // line feeds alone
    uint64_t quotes; // double quotes
};

// The portable kernel, and the reference of the others: eight 64-bit words.
inline Masks classify_words(const unsigned char* at)
{
    Masks masks = {0, 0, 0};
    for (unsigned k = 0; k < 8; ++k) {
        uint64_t x = load8(at + 8 * k);
        masks.white |= uint64_t{gather(white_bytes(x))} << (8 * k);
        masks.feeds |= uint64_t{gather(bytes_equal(x, '\n'))} << (8 * k);
        masks.quotes |= uint64_t{gather(bytes_equal(x, '"'))} << (8 * k);
    }
    return masks;
}

#ifdef SKYNOTE_SSE2_SCAN
// Four 16-byte compares a class.  Tab to CR are the bytes that lose 9 and
// then stay at 4 or below (unsigned); movemask gathers the compare results.
inline Masks classify_sse2(const unsigned char* at)
{
    Masks masks = {0, 0, 0};
    for (unsigned k = 0; k < 4; ++k) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * k));
        __m128i from_tab = _mm_sub_epi8(x, _mm_set1_epi8(0x09));
        __m128i tab_to_cr = _mm_cmpeq_epi8(_mm_min_epu8(from_tab, _mm_set1_epi8(0x04)), from_tab);
        __m128i white = _mm_or_si128(tab_to_cr, _mm_cmpeq_epi8(x, _mm_set1_epi8(' ')));
        masks.white |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(white))} << (16 * k);
        masks.feeds |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('\n'))))}
                       << (16 * k);
        masks.quotes |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('"'))))}
                        << (16 * k);
    }
    return masks;
}
#endif

#ifdef SKYNOTE_AVX2_SCAN
// Two 32-byte registers; only called where the processor has AVX2.  White
// space is one table lookup: the shuffle picks, by each byte's low four
// bits, the one white byte with those bits (0 where there is none, and for
// bytes of 0x80 and above), and a byte is white when it equals its pick.
// No byte picks 0 and equals it: 0 picks the blank.
__attribute__((target("avx2"))) inline Masks classify_avx2(const unsigned char* at)
{
    static const unsigned char WHITE_BY_LOW_BITS[32] = {
        ' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', '\n', '\v', '\f', '\r', 0, 0,
        ' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', '\n', '\v', '\f', '\r', 0, 0,
    };
    const __m256i white_by_low_bits = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(WHITE_BY_LOW_BITS));
    Masks masks = {0, 0, 0};
    for (unsigned k = 0; k < 2; ++k) {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32 * k));
        __m256i white = _mm256_cmpeq_epi8(_mm256_shuffle_epi8(white_by_low_bits, x), x);
        masks.white |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(white))} << (32 * k);
        masks.feeds |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, _mm256_set1_epi8('\n'))))}
                       << (32 * k);
        masks.quotes |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, _mm256_set1_epi8('"'))))}
                        << (32 * k);
    }
    return masks;
}

// Whether the processor has AVX2 (and the system keeps its registers),
// and the bit instructions that came with it, which loops compiled for
// this kernel use to walk the masks.
inline bool has_avx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}
// The kernel in use: AVX2 where the processor has it.  Tests switch it off.
inline bool use_avx2 = has_avx2();
#endif

#ifdef SKYNOTE_NEON_SCAN
// Compare results (0xFF or 0 a lane) of 64 bytes as one mask: each lane
// keeps the bit of its place in its half (1 to 128), and three rounds of
// pairwise sums put the bytes of the four registers side by side.
inline uint64_t neon_mask(uint8x16_t a, uint8x16_t b, uint8x16_t c, uint8x16_t d)
{
    static const uint8_t PLACE[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t place = vld1q_u8(PLACE);
    uint8x16_t ab = vpaddq_u8(vandq_u8(a, place), vandq_u8(b, place));
    uint8x16_t cd = vpaddq_u8(vandq_u8(c, place), vandq_u8(d, place));
    uint8x16_t abcd = vpaddq_u8(ab, cd);
    return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(abcd, abcd)), 0);
}

// Four 16-byte compares a class, tab to CR as in the SSE2 kernel.
inline Masks classify_neon(const unsigned char* at)
{
    uint8x16_t white[4], feeds[4], quotes[4];
    for (unsigned k = 0; k < 4; ++k) {
        uint8x16_t x = vld1q_u8(at + 16 * k);
        white[k] = vorrq_u8(vcleq_u8(vsubq_u8(x, vdupq_n_u8(0x09)), vdupq_n_u8(0x04)), vceqq_u8(x, vdupq_n_u8(' ')));
        feeds[k] = vceqq_u8(x, vdupq_n_u8('\n'));
        quotes[k] = vceqq_u8(x, vdupq_n_u8('"'));
    }
    return {neon_mask(white[0], white[1], white[2], white[3]), neon_mask(feeds[0], feeds[1], feeds[2], feeds[3]),
            neon_mask(quotes[0], quotes[1], quotes[2], quotes[3])};
}
#endif

#ifdef SKYNOTE_SIMD128_SCAN
// Four 16-byte compares a class; bitmask gathers the lanes' high bits.
inline Masks classify_simd128(const unsigned char* at)
{
    Masks masks = {0, 0, 0};
    for (unsigned k = 0; k < 4; ++k) {
        v128_t x = wasm_v128_load(at + 16 * k);
        v128_t white = wasm_v128_or(wasm_u8x16_le(wasm_i8x16_sub(x, wasm_i8x16_splat(0x09)), wasm_i8x16_splat(0x04)),
                                    wasm_i8x16_eq(x, wasm_i8x16_splat(' ')));
        masks.white |= uint64_t{static_cast<uint16_t>(wasm_i8x16_bitmask(white))} << (16 * k);
        masks.feeds |= uint64_t{static_cast<uint16_t>(wasm_i8x16_bitmask(wasm_i8x16_eq(x, wasm_i8x16_splat('\n'))))}
                       << (16 * k);
        masks.quotes |= uint64_t{static_cast<uint16_t>(wasm_i8x16_bitmask(wasm_i8x16_eq(x, wasm_i8x16_splat('"'))))}
                        << (16 * k);
    }
    return masks;
}
#endif

// The kernel that every processor of the target has.
inline Masks classify_base(const unsigned char* at)
{
#if defined(SKYNOTE_SSE2_SCAN)
    return classify_sse2(at);
#elif defined(SKYNOTE_NEON_SCAN)
    return classify_neon(at);
#elif defined(SKYNOTE_SIMD128_SCAN)
    return classify_simd128(at);
#else
    return classify_words(at);
#endif
}

// The name of the kernel in use, for tests and the benchmark.
inline const char* kernel_name()
{
#if defined(SKYNOTE_AVX2_SCAN)
    return use_avx2 ? "avx2" : "sse2";
#elif defined(SKYNOTE_SSE2_SCAN)
    return "sse2";
#elif defined(SKYNOTE_NEON_SCAN)
    return "neon";
#elif defined(SKYNOTE_SIMD128_SCAN)
    return "simd128";
#else
    return "words";
#endif
}

// The white space of the 64 bytes at `at`: with the kernel every
// processor of the target has; with the AVX2 kernel, a call from loops
// compiled for the processors that have it, which returns the one mask in
// a register; and with the kernel in use, for tests.
inline uint64_t classify_white_base(const unsigned char* at)
{
    return classify_base(at).white;
}

#ifdef SKYNOTE_AVX2_SCAN
__attribute__((target("avx2"))) inline uint64_t classify_white_avx2(const unsigned char* at)
{
    return classify_avx2(at).white;
}
#endif

inline uint64_t classify_white(const unsigned char* at)
{
#if defined(SKYNOTE_AVX2_SCAN)
    if (use_avx2)
        return classify_avx2(at).white;
#endif
    return classify_white_base(at);
}

// The white space of two blocks of the input, the 128 bytes from `base`,
// so that the 64 bytes from any place in the first block can be seen at
// once.  A scan moves on a block at a time, and each block is classified
// once.
struct Blocks {
    const unsigned char* base; // null: nothing classified yet
    uint64_t low;              // [base, base + 64)
    uint64_t high;             // [base + 64, base + 128)
};

// The 64 bits from bit `from` (0 to 63) of the pair low, high.  A shift by
// 64 is undefined, so `from` 0 is a case of its own (a conditional move):
// the double shift that would avoid it came out wrong from the MinGW-w64
// compiler at -O2.
inline uint64_t join(uint64_t low, uint64_t high, size_t from)
{
    return from == 0 ? low : (low >> from) | (high << (64 - from));
}

// The white space of the 64 bytes at `at`, by the kernel `classify`.  A
// place before the blocks (its distance then wraps around to a large one),
// or more than one block past them, classifies anew from there.  Reads up
// to 128 bytes from `at`.  Always inlined into the loop that asks: fewer
// instructions in every build.
template <uint64_t (*classify)(const unsigned char*) = classify_white>
[[gnu::always_inline]] inline uint64_t window(Blocks* blocks, const unsigned char* at)
{
    size_t from = static_cast<size_t>(reinterpret_cast<uintptr_t>(at) - reinterpret_cast<uintptr_t>(blocks->base));
    if (from >= 64) {
        if (from >= 128 || !blocks->base) {
            blocks->base = at;
            blocks->low = classify(at);
            blocks->high = classify(at + 64);
            from = 0;
        } else {
            blocks->base += 64;
            blocks->low = blocks->high;
            blocks->high = classify(blocks->base + 64);
            from -= 64;
        }
    }
    return join(blocks->low, blocks->high, from);
}

// x with every byte `from` turned into `to`.
inline uint64_t replace_bytes(uint64_t x, unsigned char from, unsigned char to)
{
    return x ^ (bytes_equal(x, from) >> 7) * (from ^ to);
}

// The n bytes (1 to 8) at `at` as a word, every ~ turned into a blank.
inline uint64_t load_tilde_blanks8(const unsigned char* at, size_t n)
{
#if defined(SKYNOTE_SSE2_SCAN) && defined(__x86_64__)
    // One compare picks the ~ bytes, which lose ~ ^ blank: fewer steps
    // than the word's own compare by carries.
    __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at));
    __m128i tildes = _mm_cmpeq_epi8(x, _mm_set1_epi8('~'));
    x = _mm_xor_si128(x, _mm_and_si128(tildes, _mm_set1_epi8('~' ^ ' ')));
    return static_cast<uint64_t>(_mm_cvtsi128_si64(x)) & bytes_before(n);
#else
    return replace_bytes(load8(at) & bytes_before(n), '~', ' ');
#endif
}

// The bytes of x moved up by `by` bytes (at most 7), into two words.
constexpr void shift_into(uint64_t x, size_t by, uint64_t* low, uint64_t* high)
{
    *low = x << (8 * by);
    *high = (x >> 1) >> (63 - 8 * by); // x >> (64 - 8 * by), also for by = 0
}

// Tokens shorter than this are laid over an object line as 16 bytes.
constexpr size_t SHORT_TOKEN = 16;

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
// The same on one 16-byte register.  Rows of 16 bytes cut from tables
// give the name's n bytes (the 16 from 16 - n of a row of 0xFF and then 0)
// and the blanks after it.  Compares give 0xFF lanes, which pick the bytes
// to flip: a _ xor 0x7F is a blank, a capital loses 0x20.  A lane is cut
// down to such a value with an unsigned minimum, whose constant is a row of
// bytes like every other here (the compiler would build a constant for an
// AND afresh from two 64-bit halves at each name).
inline void put_moon_name16_sse2(char* to, const unsigned char* at, size_t n)
{
    static const unsigned char NAME_BYTES[32] = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    };
    static const unsigned char BLANKS_AFTER[32] = {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
    };
    static const unsigned char FIRST[16] = {0xFF};
    __m128i in_name = _mm_loadu_si128(reinterpret_cast<const __m128i*>(NAME_BYTES + 16 - n));
    __m128i blanks = _mm_loadu_si128(reinterpret_cast<const __m128i*>(BLANKS_AFTER + 16 - n));
    __m128i x = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), in_name);
    __m128i underscore = _mm_cmpeq_epi8(x, _mm_set1_epi8('_'));
    __m128i from_a = _mm_sub_epi8(x, _mm_set1_epi8('a'));
    __m128i lower = _mm_cmpeq_epi8(_mm_min_epu8(from_a, _mm_set1_epi8('z' - 'a')), from_a);
    __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(FIRST));
    __m128i capital = _mm_and_si128(_mm_or_si128(_mm_slli_si128(underscore, 1), first), lower);
    x = _mm_xor_si128(x, _mm_min_epu8(underscore, _mm_set1_epi8('_' ^ ' ')));
    x = _mm_xor_si128(x, _mm_min_epu8(capital, _mm_set1_epi8('a' ^ 'A')));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_or_si128(x, blanks));
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

// The places where a run of 16 or more set bits of x starts; a run that
// reaches bit 63 counts only its bits in x.  Each step keeps the bits that
// start a run twice as long as the step before: of 2, 4, 8 and 16 bits.
constexpr uint64_t runs_of_16(uint64_t x)
{
    x &= x >> 1;
    x &= x >> 2;
    x &= x >> 4;
    return x & x >> 8;
}

// The places of a block's double quotes and of the starts of its words
// of 16 bytes or more: the lines that mode l leaves to the common way.
inline uint64_t quotes_and_long_words(const Masks& masks)
{
    return masks.quotes | runs_of_16(~masks.white);
}

// Words of a line that the deep-sky list drivers look at.
constexpr size_t LINE_WORDS = 7;

// How the masks of a block of lines are scanned: first() is the place of
// the lowest set bit, in the width its instruction gives, so that nothing
// needs widening.  A line takes its words from masks that also hold the
// words after it, and takes words past its last one without a test
// (in_line tells them apart later), so a scan may meet an empty mask.
//
// Every processor: a bit scan of an empty mask has no answer, so the word
// masks end in stop bits, places SHORT_LINE to 63, and only lines that end
// before them are taken; a word after a line's last one is a later line's,
// or a stop bit.  The bit at 63 (LAST) stands in for a missing feed or
// quote: too late for any line.
struct StopBits {
    static constexpr size_t SHORT_LINE = 57;
    static constexpr uint64_t STOPS = ~uint64_t{0} << SHORT_LINE;
    static constexpr uint64_t LAST = uint64_t{1} << 63;
    static unsigned first(uint64_t x) { return lowest_bit(x); }
};
static_assert(64 - StopBits::SHORT_LINE >= LINE_WORDS, "a stop bit for every word");

#ifdef SKYNOTE_AVX2_SCAN
// x86 processors with BMI (every one with AVX2): the scan of an empty mask
// is 64, past every line, so there are no stop bits and a line may end
// anywhere in its block.  For loops compiled for these processors.
struct EmptyAs64 {
    static constexpr size_t SHORT_LINE = 64;
    static constexpr uint64_t STOPS = 0;
    static constexpr uint64_t LAST = 0;
    __attribute__((target("bmi"))) static size_t first(uint64_t x)
    {
        return _tzcnt_u64(x);
    }
};
#endif

// Lines walked inside one classified block of 64 bytes.  A block starts
// at a line's start, so that every line inside it shows in the block's
// masks as it is, with no shift, and one classification serves them all;
// the first line that does not end inside the block (before SHORT_LINE)
// starts the next one.  Word starts are the non-white bytes after a white
// one (the byte before a block ends a line), word ends the white bytes
// after a non-white one.  The steps of the walk below are always inlined,
// so that a loop compiled for BMI gets its scans inlined too.
template <class Scan> struct LineBlock {
    const unsigned char* base;
    size_t next; // where the next line starts, from base
    uint64_t starts;
    uint64_t ends;
    uint64_t feeds; // without the feeds of lines taken
};

// A line taken from its block, its words still to be taken: the starts
// and ends of its words, and of all after it, as masks of places in the
// block.  The words of lines before it are not there.
template <class Scan> struct ShortLine {
    const unsigned char* base; // the block's first byte
    size_t start;              // the line's bytes, from base
    size_t end;                // its line feed
    uint64_t starts;
    uint64_t ends;
};

// The end of the bytes that lines are taken from, with the last place
// where a block lies wholly before it worked out once, so that each block
// asks one question.
struct LinesEnd {
    const unsigned char* end;
    uintptr_t last_whole;
};

inline LinesEnd lines_end(const unsigned char* end)
{
    uintptr_t place = reinterpret_cast<uintptr_t>(end);
    return {end, place >= 64 ? place - 64 : 0};
}

// Starts the block of lines at `at`, a line's start, from its masks.  A
// line whose line feed lies at the end or past it is not there: its feed
// is dropped.  So are the feeds from the first of the `marks` on (places
// that the driver leaves to the common way, such as double quotes): a
// line with a mark, and every line after it in the block, is not there
// either.
template <class Scan>
[[gnu::always_inline]] inline void start_lines(LineBlock<Scan>* block, const unsigned char* at, const LinesEnd& end,
                                               Masks masks, uint64_t marks = 0)
{
    uint64_t feeds = masks.feeds & (marks - 1) & ~marks; // those before the first mark, all for none
    if (reinterpret_cast<uintptr_t>(at) > end.last_whole)
        feeds &= (uint64_t{1} << (end.end - at)) - 1;
    uint64_t white_before = masks.white << 1 | 1; // the byte before a block ends a line
    uint64_t starts = ~masks.white & white_before;
    uint64_t ends = masks.white & ~white_before;
    *block = {at, 0, starts | Scan::STOPS, ends | Scan::STOPS, feeds | Scan::LAST};
}

// Takes the block's next line when it ends before SHORT_LINE; false, with
// nothing taken, for one that does not.  The block's word masks stay
// whole: each line takes the part from its start on, so that no mask is
// both kept and changed from line to line.
template <class Scan> [[gnu::always_inline]] inline bool take_line(LineBlock<Scan>* block, ShortLine<Scan>* line)
{
    size_t end = Scan::first(block->feeds);
    if (end >= Scan::SHORT_LINE)
        return false;
    uint64_t from_start = ~uint64_t{0} << block->next;
    *line = {block->base, block->next, end, block->starts & from_start, block->ends & from_start};
    block->feeds &= block->feeds - 1;
    block->next = end + 1;
    return true;
}

// Takes the next word: the line's next one, or, once the line has no
// more, one past its end, which in_line tells apart.
template <class Scan> [[gnu::always_inline]] inline Word next_word(ShortLine<Scan>* line)
{
    auto start = Scan::first(line->starts);
    auto end = Scan::first(line->ends);
    line->starts &= line->starts - 1;
    line->ends &= line->ends - 1;
    return {reinterpret_cast<const char*>(line->base) + start, end - start};
}

// Whether a word taken off the line is one of its own.
template <class Scan> [[gnu::always_inline]] inline bool in_line(const ShortLine<Scan>& line, Word word)
{
    return static_cast<size_t>(word.data - reinterpret_cast<const char*>(line.base)) < line.end;
}

// Whether the line has n more words (1 to LINE_WORDS) still to be taken.
template <class Scan> [[gnu::always_inline]] inline bool has_more_words(const ShortLine<Scan>& line, size_t n)
{
    uint64_t starts = line.starts;
    for (size_t i = 1; i < n; ++i)
        starts &= starts - 1;
    return Scan::first(starts) < line.end;
}

} // namespace scan
