// Checks every classification kernel that this build has against a plain
// byte loop: every byte value at every place of a block, on random bytes
// around it, and the windows that join two blocks at every offset.  A
// plain program, so that it runs wherever the tool runs: natively, under
// qemu, wine and node.
#include "scan.h"

#include <cstdio>
#include <cstring>
#include <random>

namespace {

std::mt19937 random_bytes(20261209);
int failures = 0;

unsigned char any_byte()
{
    static const char COMMON[] = " \n\t\r\v\f\"~_%#";
    unsigned pick = random_bytes() % 32;
    return pick < sizeof COMMON - 1 ? static_cast<unsigned char>(COMMON[pick]) : static_cast<unsigned char>(random_bytes());
}

// The masks of the 64 bytes at `at`, a byte at a time.
scan::Masks byte_loop(const unsigned char* at)
{
    scan::Masks masks = {0, 0, 0};
    for (unsigned i = 0; i < 64; ++i) {
        bool white = at[i] == ' ' || (at[i] >= '\t' && at[i] <= '\r');
        masks.white |= uint64_t{white} << i;
        masks.feeds |= uint64_t{at[i] == '\n'} << i;
        masks.quotes |= uint64_t{at[i] == '"'} << i;
    }
    return masks;
}

bool same(const scan::Masks& a, const scan::Masks& b)
{
    return a.white == b.white && a.feeds == b.feeds && a.quotes == b.quotes;
}

void check_kernel(const char* name, scan::Masks (*kernel)(const unsigned char*))
{
    unsigned char block[64];
    for (int value = 0; value < 256; ++value) {
        for (unsigned place = 0; place < 64; ++place) {
            for (unsigned char& byte : block)
                byte = any_byte();
            block[place] = static_cast<unsigned char>(value);
            if (!same(kernel(block), byte_loop(block)) && failures++ < 10)
                std::printf("FAIL: kernel %s, byte %d at %u\n", name, value, place);
        }
    }
    std::printf("kernel %s: every byte value at every place\n", name);
}

// Walks a buffer with windows at random places, forwards and anew.
void check_windows()
{
    unsigned char buffer[512 + 128];
    for (int round = 0; round < 2000; ++round) {
        for (unsigned char& byte : buffer)
            byte = any_byte();
        scan::Blocks blocks = {nullptr, 0, 0};
        for (size_t at = random_bytes() % 64; at < 512; at += random_bytes() % 70) {
            if (random_bytes() % 16 == 0)
                blocks.base = nullptr;
            if (scan::window(&blocks, buffer + at) != byte_loop(buffer + at).white && failures++ < 10)
                std::printf("FAIL: window at %zu, round %d\n", at, round);
        }
    }
    std::printf("windows: in use %s\n", scan::kernel_name());
}

// The search for one byte against a byte loop: at every place of every
// length up to 150 (and missing), the byte value turning with the place,
// with the same byte just past the end, which must not be found.
void check_find_byte()
{
    unsigned char buffer[151];
    unsigned value = 0;
    for (size_t len = 0; len < 151; ++len) {
        for (size_t place = 0; place <= len; ++place) {
            unsigned char c = static_cast<unsigned char>(value++);
            for (unsigned char& byte : buffer) {
                byte = random_bytes() % 2 ? static_cast<unsigned char>(c + 1) : any_byte();
                byte = byte == c ? static_cast<unsigned char>(c ^ 0x80) : byte;
            }
            buffer[len] = c;
            if (place < len)
                buffer[place] = c;
            const void* want = place < len ? buffer + place : nullptr;
            if (scan::find_byte(buffer, c, len) != want && failures++ < 10)
                std::printf("FAIL: find_byte of %u at %zu in %zu bytes\n", c, place, len);
        }
    }
    std::printf("find_byte: at every place of every length up to 150\n");
}

} // namespace

int main()
{
    check_kernel("words", scan::classify_words);
#ifdef SKYNOTE_SSE2_SCAN
    check_kernel("sse2", scan::classify_sse2);
#endif
#ifdef SKYNOTE_AVX2_SCAN
    if (scan::has_avx2())
        check_kernel("avx2", scan::classify_avx2);
    else
        std::printf("SKIP: kernel avx2 (the processor has no AVX2)\n");
#endif
#ifdef SKYNOTE_NEON_SCAN
    check_kernel("neon", scan::classify_neon);
#endif
#ifdef SKYNOTE_SIMD128_SCAN
    check_kernel("simd128", scan::classify_simd128);
#endif
    check_windows();
    check_find_byte();
    std::printf("%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
