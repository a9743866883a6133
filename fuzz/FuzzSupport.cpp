#include "fuzz/FuzzSupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace tegalo::fuzz {
namespace {

std::string MakeScratch() {
    std::string base = "/dev/shm";
    struct stat info {};
    if (stat(base.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || access(base.c_str(), W_OK) != 0) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    std::string name = base + "/tegalo-fuzz-XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        std::perror("tegalo fuzz: mkdtemp");
        std::abort();
    }
    return std::string(buffer.data()) + "/";
}

void RemoveScratch() {
    ClearScratch();
    rmdir(ScratchDir().c_str());
}

} // namespace

const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string made = MakeScratch();
        return made;
    }();
    static const bool registered = std::atexit(RemoveScratch) == 0;
    (void)registered;
    return dir;
}

void ClearScratch() {
    const std::string& dir = ScratchDir();
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(listing);
    for (const std::string& name : names) {
        unlink((dir + name).c_str());
    }
}

} // namespace tegalo::fuzz
