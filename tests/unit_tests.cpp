// Unit tests of the pure functions and of the text-stream layer.
#include "harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Every case runs under the watchdog.
class Watchdog : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& test) override
    {
        watch(std::string(test.test_suite_name()) + "." + test.name());
    }
    void OnTestEnd(const testing::TestInfo&) override
    {
        alarm(0);
    }
};
const bool watchdog_added = (testing::UnitTest::GetInstance()->listeners().Append(new Watchdog), true);

std::string expanded(std::string token)
{
    size_t len = token.size();
    token.resize(len + EXPANSION_ROOM, '\x7f');
    expand_deep_sky_name(&token[0], &len);
    token.resize(len);
    return token;
}

std::string moon(std::string name)
{
    normalize_moon_name(&name[0], name.size());
    return name;
}

std::string object_line(const std::string& name, const std::string& book, const std::string& page)
{
    char line[OBJECT_LINE_WIDTH];
    layout_object_line(line, {name.data(), name.size()}, {book.data(), book.size()},
                       {page.data(), page.size()});
    return std::string(line, sizeof line);
}

TEST(ExpandDeepSkyName, FieldWidthsAndOverflow)
{
    EXPECT_EQ(expanded("12"), "NGC  12");
    EXPECT_EQ(expanded("0"), "NGC   0");
    EXPECT_EQ(expanded("12345"), "NGC12345");
    EXPECT_EQ(expanded("m3"), "M  3 ");
    EXPECT_EQ(expanded("m1234"), "M1234");
    EXPECT_EQ(expanded("i5"), "IC   5");
    EXPECT_EQ(expanded("i12345"), "IC12345");
}

TEST(ExpandDeepSkyName, FallThroughAndPlainTokens)
{
    EXPECT_EQ(expanded("b33"), "B33");
    EXPECT_EQ(expanded("bx"), "bx");
    EXPECT_EQ(expanded("\"1~Del"), "1 Del");
    EXPECT_EQ(expanded("\"x"), "\"x");
    EXPECT_EQ(expanded("p12"), "PGC12");
    EXPECT_EQ(expanded("u5"), "UGC5");
    EXPECT_EQ(expanded("M31"), "M31");
    EXPECT_EQ(expanded("m"), "m");
    EXPECT_EQ(expanded("~a~"), " a ");
}

TEST(ExpandDeepSkyName, NulIsAnOrdinaryByte)
{
    EXPECT_EQ(expanded(std::string("1\0", 2)), std::string("NGC  1\0", 7));
    EXPECT_EQ(expanded(std::string("m1\0", 3)), std::string("M 1\0 ", 5));
}

TEST(ExpandDeepSkyName, LongestTokenFitsItsBuffer)
{
    std::string digits(TOKEN_CAP - 1, '9');
    EXPECT_EQ(expanded(digits), "NGC" + digits);
    EXPECT_EQ(expanded("i" + digits.substr(1)), "IC" + digits.substr(1));
}

TEST(NormalizeMoonName, Underscores)
{
    EXPECT_EQ(moon("mare_imbrium"), "Mare Imbrium");
    EXPECT_EQ(moon("_x"), " X");
    EXPECT_EQ(moon("x_"), "X ");
    EXPECT_EQ(moon("a__b"), "A  B");
    EXPECT_EQ(moon("_"), " ");
}

TEST(NormalizeMoonName, OnlyAsciiLettersChange)
{
    EXPECT_EQ(moon("mOnS"), "MOnS");
    EXPECT_EQ(moon("\xe4gypten_\xfc"), "\xe4gypten \xfc");
    EXPECT_EQ(moon("a~b"), "A~b");
    EXPECT_EQ(moon("1_2"), "1 2");
    EXPECT_EQ(moon(std::string("x_\0y", 4)), std::string("X \0y", 4));
}

TEST(LayoutObjectLine, Columns)
{
    EXPECT_EQ(object_line("NGC  31", "Atlas", "12"), "NGC  31                       Atlas     12");
    EXPECT_EQ(object_line("", "", ""), std::string(42, ' '));
    EXPECT_EQ(object_line("", "", "7"), std::string(41, ' ') + "7");
}

TEST(LayoutObjectLine, LaterFieldsOverwriteAndEverythingIsCut)
{
    std::string name(45, 'n');
    EXPECT_EQ(object_line(name, "", ""), std::string(42, 'n'));
    EXPECT_EQ(object_line(name, "B", "7"), std::string(30, 'n') + "B" + std::string(10, 'n') + "7");
    EXPECT_EQ(object_line("", "bookbookbookbook", "12"), std::string(30, ' ') + "bookbookbo12");
    std::string page = "0123456789" + std::string(32, 'p') + "END";
    EXPECT_EQ(object_line("x", "b", page), page.substr(3));
}

TEST(CodeTables, WholeWordsCaseSensitiveSeparateTables)
{
    auto type = [](const char* text) {
        Word word = {text, std::char_traits<char>::length(text)};
        map_type_code(&word);
        return std::string(word.data, word.len);
    };
    auto catalogue = [](const char* text) {
        Word word = {text, std::char_traits<char>::length(text)};
        map_catalogue_code(&word);
        return std::string(word.data, word.len);
    };
    EXPECT_EQ(type("d") + type("g") + type("p") + type("b") + type("o") + type("x"), "DNGbPNNbOCGx");
    EXPECT_EQ(catalogue("m") + catalogue("n") + catalogue("i"), "MNGCIC");
    EXPECT_EQ(type("D"), "D");
    EXPECT_EQ(type("dn"), "dn");
    EXPECT_EQ(type("m"), "m");
    EXPECT_EQ(type(""), "");
    EXPECT_EQ(catalogue("b"), "b");
    EXPECT_EQ(catalogue("ugc"), "ugc");
    EXPECT_EQ(catalogue("N"), "N");
}

// The layer on memory files, standard output and the error stream in one
// of them, as with 2>&1.
struct StreamFiles {
    int in;
    int shared;
};

StreamFiles open_streams(const std::string& input)
{
    StreamFiles files = {memory_file(input), memory_file("")};
    stream_open(files.in, dup(files.shared), files.shared);
    return files;
}

std::string close_streams(StreamFiles files)
{
    out_finish();
    close(files.in);
    return file_bytes(files.shared);
}

// Writes data of the given size (after CR LF translation), a message, more
// data, then ends the run; returns what the shared file got.
std::string shared_file_after(size_t data_before)
{
    StreamFiles files = open_streams("");
    std::string data(data_before - 2, 'a');
    out_bytes(data.data(), data.size());
    out_line_end();
    err_text("E\n");
    out_bytes("z", 1);
    EXPECT_TRUE(out_finish());
    return close_streams(files);
}

TEST(TextStreams, MessageStandsAfterTheWholeBlocks)
{
    std::string small = shared_file_after(100);
    EXPECT_EQ(small.substr(0, 3), "E\r\n");
    EXPECT_EQ(small.size(), 104u);

    std::string block = shared_file_after(512);
    EXPECT_EQ(block.substr(510, 5), "\r\nE\r\n");
    EXPECT_EQ(block.substr(515), "z");

    std::string blocks = shared_file_after(1300);
    EXPECT_EQ(blocks.substr(1024, 3), "E\r\n");
    EXPECT_EQ(blocks.substr(1027, 276), std::string(274, 'a') + "\r\n");
    EXPECT_EQ(blocks.back(), 'z');
}

TEST(TextStreams, OnlyWholeBlocksGoOutBeforeTheBufferIsFull)
{
    StreamFiles files = open_streams("");
    const size_t lines = 2000; // far more than the buffer holds
    for (size_t i = 0; i < lines; ++i) {
        std::memset(out_claim(OBJECT_LINE_WIDTH), 'a' + i % 26, OBJECT_LINE_WIDTH);
        out_line_end();
    }
    err_text("E\n");
    EXPECT_TRUE(out_finish());
    std::string bytes = close_streams(files);
    size_t data = lines * (OBJECT_LINE_WIDTH + 2);
    ASSERT_EQ(bytes.size(), data + 3);
    EXPECT_EQ(bytes.substr(data - data % 512, 3), "E\r\n");
    EXPECT_EQ(bytes.substr(0, 44), std::string(42, 'a') + "\r\n");
    EXPECT_EQ(bytes.substr(bytes.size() - 44), std::string(42, 'a' + (lines - 1) % 26) + "\r\n");
}

// What arrives at the terminal's other end, waiting up to a second for
// `want` bytes.
std::string seen_on(int terminal, size_t want)
{
    std::string seen;
    char chunk[256];
    for (int tries = 0; seen.size() < want && tries < 100; ++tries) {
        ssize_t n = read(terminal, chunk, sizeof chunk);
        if (n > 0)
            seen.append(chunk, static_cast<size_t>(n));
        else
            usleep(10000);
    }
    return seen;
}

TEST(TextStreams, TerminalGetsEveryWriteAtOnce)
{
    int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0)
        GTEST_SKIP() << "no pseudo-terminal can be opened here";
    int screen = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(screen, 0);
    struct termios raw;
    tcgetattr(screen, &raw);
    cfmakeraw(&raw); // the bytes as written, without the terminal's own CR handling
    tcsetattr(screen, TCSANOW, &raw);
    int in = memory_file("");
    stream_open(in, dup(screen), screen);
    char* line = out_claim(3);
    std::memcpy(line, "abc", 3);
    out_line_end();
    out_bytes("d", 1);
    const Word row[] = {{"x", 1}, {"y", 1}};
    out_joined(row, 2, ';');
    EXPECT_EQ(seen_on(terminal, 9), "abc\r\ndx;y");
    out_finish();
    close(in);

    // An index entry shows before the next line's diagnostic, not at the
    // next percent line.
    in = memory_file("h\n% A 1 b c d\nx n 1 6 3\nx n 2\n");
    stream_open(in, dup(screen), screen);
    char name[] = "skynote";
    char mode[] = "L";
    char* argv[] = {name, mode, nullptr};
    EXPECT_EQ(skynote_main(2, argv), 0);
    const std::string want = "\r\n%A\r\n#1 NGC~1 fehlerhafte Normalzeile: x n 2\r\nNGC~2 ";
    EXPECT_EQ(seen_on(terminal, want.size()), want);
    close(in);
    close(screen);
    close(terminal);
}

// The short ways of modes d and m write what the long way writes: random
// lists of short tokens against expand_deep_sky_name, normalize_moon_name
// and layout_object_line, large enough to cross the input buffer's end.
std::string long_way(char mode, const std::vector<std::string>& tokens)
{
    std::string out, book, page;
    for (std::string token : tokens) {
        if (token[0] == '%' || token[0] == '#') {
            (token[0] == '%' ? book : page) = token.substr(1);
            continue;
        }
        size_t len = token.size();
        token.resize(len + EXPANSION_ROOM);
        if (mode == MODE_MOON)
            normalize_moon_name(&token[0], len);
        else
            expand_deep_sky_name(&token[0], &len);
        out += object_line(token.substr(0, len), book, page) + "\r\n";
    }
    return out;
}

TEST(ShortWays, WriteWhatTheLongWayWrites)
{
    std::mt19937 random(7);
    const std::string letters = "mbpiu\"0123456789~_azAZ%#\xfc\x7f";
    for (char mode : {MODE_DEEP_SKY, MODE_MOON}) {
        std::vector<std::string> tokens;
        std::string input = "header\n";
        for (int i = 0; i < 40000; ++i) {
            std::string token;
            for (size_t n = 1 + random() % 17; token.size() < n;)
                token += letters[random() % letters.size()];
            tokens.push_back(token);
            input += token + (random() % 8 ? " " : "\n");
        }
        ToolRun run = run_tool(mode, input);
        ASSERT_EQ(run.status, 0);
        EXPECT_TRUE(run.out == long_way(mode, tokens)) << "mode " << mode;
    }
}

TEST(TextStreams, LinesLoseCarriageReturnsAndEndAtCtrlZ)
{
    StreamFiles files = open_streams("a\r\nb\rc\n\r\nlast\x1a" "after\n");
    Word line;
    std::string got;
    while (in_read_line(&line))
        got += "[" + std::string(line.data, line.len) + "]";
    EXPECT_EQ(got, "[a][bc][][last]");
    EXPECT_FALSE(in_more());
    close_streams(files);
}

TEST(TextStreams, LongLinesStayWhole)
{
    std::string long_line(200000, 'x');
    StreamFiles files = open_streams("h\n" + long_line + "\nend");
    Word line;
    in_skip_line();
    ASSERT_TRUE(in_read_line(&line));
    EXPECT_EQ(std::string(line.data, line.len), long_line);
    ASSERT_TRUE(in_read_line(&line));
    EXPECT_EQ(std::string(line.data, line.len), "end");
    EXPECT_FALSE(in_read_line(&line));
    close_streams(files);
}

} // namespace
