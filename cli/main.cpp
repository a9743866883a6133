// tegalo [--dir DIR] [--init | --receive | --send-waiting | --repair]
//
// The commands without a window run here, with Qt's core and network
// libraries only; for the window this program hands over to
// `tegalo-window` beside it, which loads the libraries of the screen.
#include "cli/Headless.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// The directory of this program's own file, with a trailing "/"; empty
// when the system cannot tell.
std::string OwnDirectory() {
    std::string path(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) {
        return {};
    }
    path.resize(static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

} // namespace

int main(int argc, char** argv) {
    tegalo::StartOptions options;
    if (const std::optional<int> status = tegalo::RunUnlessWindow(argc, argv, options)) {
        return *status;
    }
    const std::string dir = OwnDirectory();
    const std::string window = dir + "tegalo-window"; // looked for on PATH when the directory is unknown
    argv[0] = const_cast<char*>(window.c_str());
    ::execvp(window.c_str(), argv);
    std::fprintf(stderr, "tegalo: cannot start %s: %s\n", window.c_str(), std::strerror(errno));
    return 1;
}
