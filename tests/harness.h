// Runs the whole tool in this process on bytes in memory, as the unit tests
// and the fuzz target need it: standard input, output and the error stream
// are memory files, so nothing lands on the disk.
#pragma once

#include "skynote.h"
#include "textstream.h"

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

// A faulty build that writes without end stops at 64 MiB a file, memory
// files included.
struct FileSizeCap {
    FileSizeCap()
    {
        const rlimit cap = {64 << 20, 64 << 20};
        setrlimit(RLIMIT_FSIZE, &cap);
    }
};
inline FileSizeCap file_size_cap;

// A case that hangs ends the process in seconds, naming itself, instead of
// holding up the suite until the test's timeout.  An emulator needs more
// time: SKYNOTE_CASE_SECONDS.
inline std::string watched_case;

inline void watchdog_fired(int)
{
    if (write(2, watched_case.data(), watched_case.size()) < 0) {
        // nothing more can be said
    }
    _exit(124);
}

inline void watch(const std::string& name)
{
    const char* limit = std::getenv("SKYNOTE_CASE_SECONDS");
    unsigned seconds = limit ? static_cast<unsigned>(std::atoi(limit)) : 5;
    watched_case = "no end within " + std::to_string(seconds) + " s: " + name + "\n";
    std::signal(SIGALRM, watchdog_fired);
    alarm(seconds);
}

struct ToolRun {
    std::string out;
    std::string err;
    int status;
};

inline bool operator==(const ToolRun& a, const ToolRun& b)
{
    return a.out == b.out && a.err == b.err && a.status == b.status;
}

inline int memory_file(const std::string& bytes)
{
    int fd = memfd_create("skynote", 0);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        std::abort();
    lseek(fd, 0, SEEK_SET);
    return fd;
}

inline std::string file_bytes(int fd)
{
    std::string bytes;
    char chunk[65536];
    for (ssize_t n; (n = pread(fd, chunk, sizeof chunk, static_cast<off_t>(bytes.size()))) > 0;)
        bytes.append(chunk, static_cast<size_t>(n));
    close(fd);
    return bytes;
}

// Attaches the layer to memory files; the layer closes standard output at
// the end, so it gets a descriptor of its own.  Returns the output's file.
inline int attach_memory(const std::string& input, int* in, int* err)
{
    *in = memory_file(input);
    *err = memory_file("");
    int out = memory_file("");
    stream_open(*in, dup(out), *err);
    return out;
}

// Runs the tool on attached files; mode '\0' runs it without an argument.
inline ToolRun run_attached(char mode, int in, int out, int err)
{
    char name[] = "skynote";
    char arg[] = {mode, '\0'};
    char* argv[] = {name, arg, nullptr};
    int status = skynote_main(mode == '\0' ? 1 : 2, argv);
    close(in);
    return {file_bytes(out), file_bytes(err), status};
}

inline ToolRun run_tool(char mode, const std::string& input)
{
    int in, err;
    int out = attach_memory(input, &in, &err);
    return run_attached(mode, in, out, err);
}
