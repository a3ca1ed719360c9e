// Runs the whole tool in memory on arbitrary bytes: the first byte is the
// mode letter (0 runs it without an argument), the rest is standard input.
// Besides crashes it checks what must hold for every input, against a small
// model of the input written here independently of the tool, and that the
// long way alone writes the same bytes as the fast ways.
#include "harness.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

bool white(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::vector<std::string> words_of(const std::string& text)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && white(text[i]))
            ++i;
        size_t start = i;
        while (i < text.size() && !white(text[i]))
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

// What the tool should see: the input up to the first Ctrl-Z, without CRs,
// and without its header line.
std::string body_of(const std::string& input)
{
    std::string clean;
    for (char c : input.substr(0, input.find('\x1a')))
        if (c != '\r')
            clean += c;
    size_t lf = clean.find('\n');
    return lf == std::string::npos ? "" : clean.substr(lf + 1);
}

std::vector<std::string> lines_of(const std::string& body)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < body.size()) {
        size_t lf = body.find('\n', start);
        if (lf == std::string::npos)
            lf = body.size();
        lines.push_back(body.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

// Every LF comes as CR LF, and no other CR is written.
void check_line_ends(const std::string& bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r')
            check(i + 1 < bytes.size() && bytes[i + 1] == '\n', "a CR stands only before an LF");
        if (bytes[i] == '\n')
            check(i > 0 && bytes[i - 1] == '\r', "every LF comes as CR LF");
    }
}

size_t count_of(const std::string& bytes, const std::string& what)
{
    size_t count = 0;
    for (size_t at = bytes.find(what); at != std::string::npos; at = bytes.find(what, at + 1))
        ++count;
    return count;
}

void check_raw_list(const ToolRun& run, const std::string& body)
{
    size_t objects = 0;
    for (const std::string& word : words_of(body))
        objects += word[0] != '%' && word[0] != '#';
    check(run.out.size() == objects * (OBJECT_LINE_WIDTH + 2), "one 42-column line per object");
    for (size_t at = 0; at < run.out.size(); at += OBJECT_LINE_WIDTH + 2)
        check(run.out.compare(at + OBJECT_LINE_WIDTH, 2, "\r\n") == 0, "object lines end at column 42");
    check(run.err.empty(), "raw lists have no diagnostics");
}

void check_deep_sky_list(char mode, const ToolRun& run, const std::string& body)
{
    size_t rows = 0;
    size_t line_ends = 0;
    size_t malformed = 0;
    std::string book;
    for (const std::string& line : lines_of(body)) {
        std::vector<std::string> words = words_of(line);
        if (words.empty())
            continue;
        if (words[0] == "%") {
            malformed += words.size() < 6;
            bool new_book = words.size() > 1 && words[1] != book;
            if (new_book)
                book = words[1];
            line_ends += new_book ? 2 : 1;
        } else {
            malformed += words.size() < 5;
            ++rows;
        }
    }
    size_t diagnostics = count_of(run.err, "\r\n");
    check(diagnostics == malformed, "one diagnostic per malformed line");
    check(count_of(run.out, "\r\n") == (mode == MODE_LIST_EXPORT ? rows : line_ends),
          "one row per observation, line ends only at percent lines");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    char mode = static_cast<char>(data[0]);
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    ToolRun run = run_tool(mode, input);
    bool fast = fast_ways;
    fast_ways = !fast;
    ToolRun other_way = run_tool(mode, input);
    fast_ways = fast;
    check(other_way == run, "the fast ways write what the long way writes");
    check_line_ends(run.out);
    check_line_ends(run.err);

    std::string body = body_of(input);
    if (mode == '\0') {
        check(run.status == 1 && run.out.empty(), "usage without an argument");
    } else if (mode == MODE_HELP) {
        check(run.status == 255 && run.out.empty() && count_of(run.err, "\r\n") == 18, "help");
    } else if (mode == MODE_MOON || mode == MODE_DEEP_SKY) {
        check(run.status == 0, "a run ends with status 0");
        check_raw_list(run, body);
    } else if (mode == MODE_LIST_EXPORT || mode == MODE_INDEX_EXPORT) {
        check(run.status == 0, "a run ends with status 0");
        check_deep_sky_list(mode, run, body);
    } else {
        check(run.status == 255 && run.out.empty(), "invalid mode");
    }

    // Nothing after the first Ctrl-Z is read.
    size_t ctrl_z = input.find('\x1a');
    if (ctrl_z != std::string::npos) {
        ToolRun cut = run_tool(mode, input.substr(0, ctrl_z + 1));
        check(cut.out == run.out && cut.err == run.err && cut.status == run.status,
              "input after Ctrl-Z changes nothing");
    }
    return 0;
}
