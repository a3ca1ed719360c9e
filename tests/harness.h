// Runs the whole tool in this process on bytes in memory, as the unit tests
// and the fuzz target need it: standard input, output and the error stream
// are memory files, so nothing lands on the disk.
#pragma once

#include "skynote.h"
#include "textstream.h"

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
