// The fast ways against the long way, and the streams under I/O faults:
// random inputs shaped around the edges of the fast ways go through the
// whole tool three times (fast, long, and fast with reads and writes that
// are interrupted, not ready or short), and every run must write the same
// bytes.  Faults at chosen calls check the status and the messages.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <initializer_list>
#include <random>
#include <string>

namespace {

// What the layer's system calls do in one run.
struct Faults {
    bool storm;          // EINTR, EAGAIN and short counts at random
    int failing_read;    // this read fails with EIO (from 1; 0: none)
    int failing_write;   // this write to standard output fails with ENOSPC
    bool lost_errors;    // the error stream takes nothing
    bool failing_close;  // closing standard output reports EIO
};

Faults faults;
int err_fd;
int reads;
int out_writes;
int reads_before_failed_write; // reads made before a write failed
std::mt19937 fault_random(1);

// Under a storm a quarter of the calls is interrupted, a quarter is not yet
// ready, and the rest move at most `most` bytes.
bool storm_stops(size_t* count, size_t most)
{
    if (!faults.storm)
        return false;
    switch (fault_random() % 4) {
    case 0:
        errno = EINTR;
        return true;
    case 1:
        errno = EAGAIN;
        return true;
    default:
        *count = std::min(*count, 1 + fault_random() % most);
        return false;
    }
}

long faulty_read(int fd, char* data, size_t room)
{
    if (++reads == faults.failing_read) {
        errno = EIO;
        return -1;
    }
    return storm_stops(&room, 20) ? -1 : read(fd, data, room);
}

long faulty_write(int fd, const char* data, size_t len)
{
    if (fd == err_fd ? faults.lost_errors : ++out_writes == faults.failing_write) {
        if (fd != err_fd)
            reads_before_failed_write = reads;
        errno = fd == err_fd ? EIO : ENOSPC;
        return -1;
    }
    return storm_stops(&len, 700) ? -1 : write(fd, data, len);
}

int faulty_close(int fd)
{
    int closed = close(fd);
    if (faults.failing_close) {
        errno = EIO;
        return -1;
    }
    return closed;
}

ToolRun run_with(const Faults& plan, char mode, const std::string& input)
{
    int in;
    int out = attach_memory(input, &in, &err_fd);
    faults = plan;
    reads = out_writes = reads_before_failed_write = 0;
    const SystemCalls real = system_calls;
    system_calls = {faulty_read, faulty_write, faulty_close};
    ToolRun run = run_attached(mode, in, out, err_fd);
    system_calls = real;
    return run;
}

// A random input around the edges of the fast ways: words of 7 to 9 and
// 15 to 17 bytes, lines of 56 to 58 and 63, 64 bytes and of 6 to 8 words, white runs
// of 15 to 17 bytes, quotes, percent lines, and bytes 0x80 to 0xFF and NUL
// beside the separators; now and then a word of a thousand bytes.
std::string shaped_input(std::mt19937& random)
{
    auto pick = [&](std::initializer_list<size_t> choices) {
        return *(choices.begin() + random() % choices.size());
    };
    static const char WORD_BYTES[] = "mbpiu\"0123456789~_azAZ%#xn";
    auto word_byte = [&]() {
        unsigned kind = random() % 8;
        if (kind == 0)
            return static_cast<char>(0x80 + random() % 128);
        if (kind == 1)
            return "\0\r\x01\x7f"[random() % 4]; // not Ctrl-Z, which would end most inputs
        return WORD_BYTES[random() % (sizeof WORD_BYTES - 1)];
    };
    std::string input = random() % 8 ? "h\n" : "";
    for (size_t lines = random() % 40; lines > 0; --lines) {
        std::string line = random() % 4 ? "" : "% ";
        for (size_t words = pick({1, 3, 5, 6, 7, 8, 10}); words > 0; --words) {
            size_t len = random() % 64 ? pick({1, 2, 3, 7, 8, 9, 15, 16, 17, 31}) : 1000 + random() % 100;
            while (len-- > 0)
                line += word_byte();
            for (size_t white = pick({1, 1, 1, 2, 15, 16, 17}); white > 0; --white)
                line += " \t\v\f "[random() % 5];
        }
        if (size_t target = pick({0, 56, 57, 58, 63, 64}))
            line.resize(target, 'x');
        input += line + (random() % 16 ? "\n" : "");
    }
    return input;
}

// Lines that write as much for their bytes as mode L ever does (an entry
// for 10 bytes, a new book and page for 12), so many that the output
// crosses the end of its buffer again and again, each time elsewhere.
std::string dense_list(std::mt19937& random)
{
    std::string input = "h\n";
    while (input.size() < 300000)
        input += random() % 3 ? "x n 1 a b\n" : random() % 2 ? "% a p i d f\n" : "% b p i d f\n";
    return input;
}

// Keeps a failing input where the fuzz target's replay can run it: the mode
// byte, then standard input.
std::string kept(char mode, const std::string& input)
{
    std::ofstream("both_ways_failure", std::ios::binary) << mode << input;
    return std::string("mode ") + mode + ", input kept in both_ways_failure";
}

TEST(BothWays, FastLongAndStormyRunsWriteTheSameBytes)
{
    const bool built_fast = fast_ways;
    std::mt19937 random(20261209);
    for (int round = 0; round < 2000; ++round) {
        watch("BothWays, round " + std::to_string(round)); // each round, not the whole test
        char mode = "dmlL"[round % 4];
        bool dense = round % 250 == 2 || round % 250 == 3; // modes l and L
        std::string input = dense ? dense_list(random) : shaped_input(random);
        fast_ways = true;
        ToolRun fast = run_tool(mode, input);
        ToolRun stormy = run_with({true, 0, 0, false, false}, mode, input);
        fast_ways = false;
        ToolRun long_way = run_tool(mode, input);
        fast_ways = built_fast;
        ASSERT_TRUE(long_way == fast) << kept(mode, input);
        ASSERT_TRUE(stormy == fast) << kept(mode, input);
    }
}

const char WRITE_FAILED_MESSAGE[] = "Schreibfehler auf der Standardausgabe\r\n";
const char READ_FAILED_MESSAGE[] = "Lesefehler auf der Standardeingabe\r\n";

// 30000 objects: far more input than one read brings, and far more output
// than the buffer holds.
std::string many_objects()
{
    std::string input = "h\n%B #7\n";
    for (int i = 0; i < 30000; ++i)
        input += std::to_string(i) + (i % 9 ? " " : "\n");
    return input;
}

bool starts_with(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

TEST(IoFaults, FailuresAreReportedOnceWithStatusOne)
{
    const std::string input = many_objects();
    const ToolRun clean = run_tool('d', input);
    // Writing fails during the run, then again at the end: one message.
    for (int failing = 1; failing <= 2; ++failing) {
        ToolRun run = run_with({false, 0, failing, false, false}, 'd', input);
        EXPECT_EQ(run.err, WRITE_FAILED_MESSAGE);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(starts_with(clean.out, run.out) && run.out.size() < clean.out.size());
        // Nothing is read after it: with an endless input, the run would
        // never end.
        EXPECT_EQ(reads, reads_before_failed_write) << "write " << failing;
    }
    // Reading fails: what was read before still goes out.
    ToolRun read_failed = run_with({false, 2, 0, false, false}, 'd', input);
    EXPECT_EQ(read_failed.err, READ_FAILED_MESSAGE);
    EXPECT_EQ(read_failed.status, 1);
    EXPECT_TRUE(starts_with(clean.out, read_failed.out) && !read_failed.out.empty());
    // Reading fails after a block that ends inside a line: that part of it
    // is never used, not even for a diagnostic.
    std::string lines = "h\n";
    while (lines.size() < 70000)
        lines += "x n 123 2 3\n";
    ToolRun cut = run_with({false, 2, 0, false, false}, 'l', lines);
    EXPECT_EQ(cut.err, READ_FAILED_MESSAGE);
    std::string rows;
    while (rows.size() < cut.out.size())
        rows += "NGC;123;;Gx;;;ZQ;2;;3;;\r\n";
    EXPECT_EQ(cut.out, rows);
    // Both fail: both are told.
    ToolRun both = run_with({false, 2, 1, false, false}, 'd', "h\n5 6\n");
    EXPECT_EQ(both.err, std::string(READ_FAILED_MESSAGE) + WRITE_FAILED_MESSAGE);
    // Only the close tells of the failure.
    ToolRun close_failed = run_with({false, 0, 0, false, true}, 'd', input);
    EXPECT_EQ(close_failed.out, clean.out);
    EXPECT_EQ(close_failed.err, WRITE_FAILED_MESSAGE);
    EXPECT_EQ(close_failed.status, 1);
}

TEST(IoFaults, NothingIsWrittenAfterAFailedWrite)
{
    // The first diagnostic's flush fails; the next write must notice it
    // before a second diagnostic goes out.
    std::string input = "h\n";
    for (int i = 0; i < 40; ++i)
        input += "x n 1 2 3\n";
    input += "bad\nx n 2 2 3\nworse\n";
    const bool built_fast = fast_ways;
    for (bool fast : {true, false}) {
        fast_ways = fast;
        ToolRun run = run_with({false, 0, 1, false, false}, 'l', input);
        EXPECT_EQ(run.err, std::string("fehlerhafte Normalzeile: bad\r\n") + WRITE_FAILED_MESSAGE);
        EXPECT_EQ(run.status, 1);
    }
    fast_ways = built_fast;
}

TEST(IoFaults, ALostErrorStreamKeepsTheStatus)
{
    const Faults lost = {false, 0, 0, true, false};
    EXPECT_EQ(run_with(lost, 'h', "").status, 255);
    EXPECT_EQ(run_with(lost, 'x', "h\n").status, 255);
    EXPECT_EQ(run_with(lost, '\0', "").status, 1);
    ToolRun diagnostic_lost = run_with(lost, 'l', "h\nx n 1\n");
    EXPECT_EQ(diagnostic_lost.out, "NGC;1;;Gx;;;ZQ;;;;;\r\n");
    EXPECT_EQ(diagnostic_lost.status, 1);
    // A failed write as well: nothing can be told, the status still says it.
    ToolRun all_lost = run_with({false, 0, 1, true, false}, 'd', many_objects());
    EXPECT_EQ(all_lost.err, "");
    EXPECT_EQ(all_lost.status, 1);
}

} // namespace
