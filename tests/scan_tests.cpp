// Property tests of the scanning module: on random buffers of all 256 byte
// values, its lines and words equal those of a plain byte loop, and its
// short names those of the plain name transformations.  The kernels
// themselves are checked byte by byte by kernel_check.cpp.
#include "scan.h"
#include "skynote.h"
#include "textstream.h"

#include <gtest/gtest.h>

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

TEST(Scan, ShortLinesSplitAsAByteLoop)
{
    for (int round = 0; round < 20000; ++round) {
        // Lengths around the window's edges: 8, 16, 32, 57 and 64.
        size_t len = random_bytes() % 72;
        std::vector<unsigned char> buffer = random_buffer(len + 1);
        for (size_t i = 0; i < len; ++i)
            buffer[i] = buffer[i] == '\n' ? ' ' : buffer[i];
        buffer[len] = '\n';
        Word words[scan::LINE_WORDS];
        bool quoted = false;
        scan::Blocks blocks = {nullptr, {0, 0, 0}, {0, 0, 0}};
        size_t got = scan::split_line(scan::window(&blocks, buffer.data()), buffer.data(), words, &quoted);
        if (len >= scan::SHORT_LINE) {
            ASSERT_EQ(got, scan::SHORT_LINE);
            continue;
        }
        ASSERT_EQ(got, len);
        ASSERT_EQ(quoted, std::memchr(buffer.data(), '"', len) != nullptr);
        size_t i = 0;
        for (size_t word = 0; word < scan::LINE_WORDS; ++word) {
            while (i < len && white(buffer[i]))
                ++i;
            size_t start = i;
            while (i < len && !white(buffer[i]))
                ++i;
            std::string want(reinterpret_cast<const char*>(buffer.data()) + start, i - start);
            ASSERT_EQ(std::string(words[word].data, words[word].len), want) << "word " << word;
        }
    }
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
