// Pieces the program's benchmarks share: a store interface that shows
// nothing, sample message bodies, and running a command to its end.
#pragma once

#include "store/StoreUi.h"

#include "ProcessSupport.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace tegalo::bench {

class NoUi : public StoreUi {
public:
    void Message(std::string_view) override {}
};

// About 5 KB of plain text in CR LF lines, the same for the same `seed`.
inline std::string SampleBody(int seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::string body;
    while (body.size() < 5000) {
        body += "Line " + std::to_string(rng() % 100000) + " of a message body, plain text.\r\n";
    }
    return body;
}

// Where SetAside puts things; removed when the benchmarks end.
inline const std::filesystem::path& AsideDirectory() {
    // Never destroyed: the handler that removes it runs at exit.
    static const std::filesystem::path& aside = *[] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tegalo-bench-aside-XXXXXX").string();
        const char* made = ::mkdtemp(pattern.data());
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(AsideDirectory(), ignored);
        });
        return new std::filesystem::path(made != nullptr ? made : "");
    }();
    return aside;
}

// Moves `path` (a file or a directory, if it exists) out of the way instead
// of deleting it; everything set aside goes when the benchmarks end. ext4
// does not hand out again an inode freed in the last half minute, and
// searches past every such inode of the block group for each file it
// creates: deleting a run's thousand files just before the next run would
// make each of its creations pay for the last run's deletions, a cost no
// user meets (nobody deletes a thousand messages just before receiving).
inline void SetAside(const std::filesystem::path& path) {
    static int counter = 0;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return;
    }
    if (!AsideDirectory().empty()) {
        std::filesystem::rename(path, AsideDirectory() / std::to_string(++counter), error);
    }
    if (AsideDirectory().empty() || error) {
        std::filesystem::remove_all(path, error); // another file system: delete after all
    }
}

} // namespace tegalo::bench
