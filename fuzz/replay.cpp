// Runs the fuzz target's checks on saved inputs without libFuzzer, so that
// every ordinary test run replays the seed corpus and the regressions.
#include "harness.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::string replaying; // the line that names the input being replayed

// A broken property aborts: say which input broke it.
void name_the_input(int)
{
    if (write(2, replaying.data(), replaying.size()) < 0) {
        // nothing more can be said
    }
    _exit(134);
}

int replay_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    replaying = "while replaying " + path + "\n";
    watch(path);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    alarm(0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGABRT, name_the_input);
    size_t replayed = 0;
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        DIR* dir = opendir(argv[i]);
        if (!dir) {
            std::fprintf(stderr, "cannot open %s\n", argv[i]);
            return 1;
        }
        // readdir gives null at the end and on a failure; only errno tells.
        errno = 0;
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                failures += replay_file(std::string(argv[i]) + "/" + entry->d_name);
                ++replayed;
            }
            errno = 0;
        }
        if (errno != 0) {
            std::fprintf(stderr, "cannot read %s: %s\n", argv[i], std::strerror(errno));
            return 1;
        }
        closedir(dir);
    }
    std::printf("%zu passed, %d failed\n", replayed - static_cast<size_t>(failures), failures);
    return failures == 0 && replayed > 0 ? 0 : 1;
}
