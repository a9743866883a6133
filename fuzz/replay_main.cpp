// Replays saved inputs through a fuzz target without libFuzzer: every file
// named on the command line, and every file in every directory named (not
// recursively), in name order. The ordinary test run uses it to keep the
// seed corpus and every crasher found as regression tests.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Collect(const std::string& path, std::vector<std::string>& files) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return; // a target without kept crashers has no folder for them
    }
    if (!S_ISDIR(info.st_mode)) {
        files.push_back(path);
        return;
    }
    DIR* listing = opendir(path.c_str());
    if (listing == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && name.front() != '.') {
            names.push_back(path + "/" + name);
        }
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
    files.insert(files.end(), names.begin(), names.end());
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        Collect(argv[i], files);
    }
    if (files.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}
