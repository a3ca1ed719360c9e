// Property tests of the scanning module: on random buffers of all 256 byte
// values, its lines and words equal those of a plain byte loop, and its
// short names those of the plain name transformations.  The kernels
// themselves are checked byte by byte by kernel_check.cpp.
#include "scan.h"
#include "skynote.h"
#include "textstream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::mt19937 random_bytes(20261208);

// Bytes with white space, line feeds and the letters that the rules test
// for made common, and every other byte value possible.
unsigned char any_byte()
{
    static const char COMMON[] = " \n\t_~\"mbpiu019azAZ%#";
    unsigned pick = random_bytes() % 64;
    return pick < sizeof COMMON - 1 ? static_cast<unsigned char>(COMMON[pick])
                                    : static_cast<unsigned char>(random_bytes());
}

// A buffer of n random bytes followed by the padding every scan may read.
std::vector<unsigned char> random_buffer(size_t n)
{
    std::vector<unsigned char> buffer(n + IN_PADDING);
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = any_byte();
    return buffer;
}

bool white(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The masks of the 64 bytes at `at` with the kernel in use, as the list
// drivers classify them.
scan::Masks classify(const unsigned char* at)
{
#if defined(SKYNOTE_AVX2_SCAN)
    return scan::use_avx2 ? scan::classify_avx2(at) : scan::classify_base(at);
#else
    return scan::classify_base(at);
#endif
}

// Starts a block as the list drivers do; `marked`, as mode l's: with its
// double quotes and words of 16 bytes or more as marks.
template <class Scan>
void start_block(scan::LineBlock<Scan>* block, const unsigned char* at, const unsigned char* end, bool marked)
{
    scan::Masks masks = classify(at);
    scan::start_lines(block, at, scan::lines_end(end), masks, marked ? scan::quotes_and_long_words(masks) : 0);
}

// The next line, as the list drivers take it: from the block, or from a
// block classified anew at its start when it does not end in this one.
template <class Scan>
bool next_line(scan::LineBlock<Scan>* block, scan::ShortLine<Scan>* line, const unsigned char* end, bool marked)
{
    if (scan::take_line(block, line))
        return true;
    if (block->next == 0)
        return false;
    start_block(block, block->base + block->next, end, marked);
    return scan::take_line(block, line);
}

// Whether a line holds a double quote or a word of 16 bytes or more.
bool has_mark(const unsigned char* at, size_t len)
{
    size_t run = 0;
    for (size_t i = 0; i < len; ++i) {
        run = white(at[i]) ? 0 : run + 1;
        if (at[i] == '"' || run >= 16)
            return true;
    }
    return false;
}

template <class Scan> const unsigned char* after_line(const scan::ShortLine<Scan>& line)
{
    return line.base + line.end + 1;
}

// Lines walked through blocks as the list drivers walk them: each line
// taken has the place and the words that a byte loop finds (the words
// taken after its last are not in_line), and the walk stops only at a line
// of SHORT_LINE bytes or more, one that runs past the end of the buffer,
// cut anywhere, or in every other round one with a mark.  Lines of every
// length up to 71 bytes start anywhere in a block.
template <class Scan> void walk_lines_as_a_byte_loop()
{
    for (int round = 0; round < 5000; ++round) {
        std::vector<size_t> lengths(1 + random_bytes() % 12);
        std::vector<unsigned char> text;
        for (size_t& len : lengths) {
            len = random_bytes() % 4 == 0 ? random_bytes() % 72 : random_bytes() % 30;
            for (size_t i = 0; i < len; ++i) {
                unsigned char c = any_byte();
                text.push_back(c == '\n' ? ' ' : c);
            }
            text.push_back('\n');
        }
        std::vector<unsigned char> buffer = random_buffer(text.size());
        std::copy(text.begin(), text.end(), buffer.begin());
        const unsigned char* at = buffer.data();
        size_t cut = random_bytes() % 2 * (random_bytes() % 80);
        const unsigned char* end = at + text.size() - std::min(cut, text.size());
        bool marked = round % 2 == 1;
        scan::LineBlock<Scan> block;
        start_block(&block, at, end, marked);
        scan::ShortLine<Scan> line;
        size_t taken = 0;
        while (taken < lengths.size() && next_line(&block, &line, end, marked)) {
            ASSERT_LE(after_line(line), end);
            ASSERT_EQ(line.base + line.start, at) << "line " << taken;
            size_t len = lengths[taken];
            ASSERT_EQ(line.end - line.start, len);
            ASSERT_FALSE(marked && has_mark(at, len)) << "line " << taken;
            std::vector<std::string> words;
            for (size_t i = 0; i < len;) {
                while (i < len && white(at[i]))
                    ++i;
                size_t start = i;
                while (i < len && !white(at[i]))
                    ++i;
                if (i > start)
                    words.emplace_back(reinterpret_cast<const char*>(at) + start, i - start);
            }
            for (size_t word = 0; word < scan::LINE_WORDS; ++word) {
                for (size_t more = 1; word + more <= scan::LINE_WORDS; ++more) {
                    ASSERT_EQ(scan::has_more_words(line, more), words.size() >= word + more) << "line " << taken;
                }
                Word got = scan::next_word(&line);
                // With stop bits the masks never run out; a scan of an
                // empty mask gives a word at the block's end.
                const char* block_end = reinterpret_cast<const char*>(line.base) + 64;
                ASSERT_LE(got.data + got.len, block_end - (Scan::STOPS != 0));
                ASSERT_EQ(scan::in_line(line, got), word < words.size()) << "line " << taken << " word " << word;
                if (word < words.size()) {
                    ASSERT_EQ(std::string(got.data, got.len), words[word]) << "line " << taken << " word " << word;
                }
            }
            at = after_line(line);
            ++taken;
        }
        if (taken < lengths.size() && at + lengths[taken] < end) {
            ASSERT_TRUE(lengths[taken] >= Scan::SHORT_LINE || (marked && has_mark(at, lengths[taken])));
        }
    }
}

TEST(Scan, LinesFromBlocksSplitAsAByteLoop)
{
    walk_lines_as_a_byte_loop<scan::StopBits>();
#ifdef SKYNOTE_AVX2_SCAN
    if (scan::has_avx2())
        walk_lines_as_a_byte_loop<scan::EmptyAs64>();
    else
        std::printf("SKIP: scans of empty masks as 64 (the processor has no BMI)\n");
#endif
}

TEST(Scan, ShortMoonNamesAsTheByteLoop)
{
    for (int round = 0; round < 20000; ++round) {
        size_t n = 1 + random_bytes() % (scan::SHORT_TOKEN - 1);
        std::vector<unsigned char> buffer = random_buffer(n);
        std::string want(reinterpret_cast<const char*>(buffer.data()), n);
        normalize_moon_name(&want[0], n);
        want.resize(16, ' ');
        char got[16];
        scan::put_moon_name16_portable(got, buffer.data(), n);
        ASSERT_EQ(std::string(got, 16), want);
#ifdef SKYNOTE_SSE2_SCAN
        scan::put_moon_name16_sse2(got, buffer.data(), n);
        ASSERT_EQ(std::string(got, 16), want);
#endif
    }
}

// Big-endian machines swap every load and store; here only this shows it.
TEST(Scan, ByteSwapReversesAllEightBytes)
{
    EXPECT_EQ(scan::byte_swap(0x0102030405060708u), 0x0807060504030201u);
    EXPECT_EQ(scan::byte_swap(0xFF000000000000A0u), 0xA0000000000000FFu);
}

} // namespace
