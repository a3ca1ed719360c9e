// Runs the fuzz target's checks on saved inputs without libFuzzer, so that
// every ordinary test run replays the seed corpus and the regressions.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replay_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    size_t replayed = 0;
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        DIR* dir = opendir(argv[i]);
        if (!dir) {
            std::fprintf(stderr, "cannot open %s\n", argv[i]);
            return 1;
        }
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            failures += replay_file(std::string(argv[i]) + "/" + entry->d_name);
            ++replayed;
        }
        closedir(dir);
    }
    std::printf("%zu passed, %d failed\n", replayed - static_cast<size_t>(failures), failures);
    return failures == 0 && replayed > 0 ? 0 : 1;
}
