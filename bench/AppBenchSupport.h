// Pieces the program's benchmarks share: a store interface that shows
// nothing, sample message bodies, and running a command to its end.
#pragma once

#include "store/StoreUi.h"

#include <cstdio>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

// Runs `argv` with standard output thrown away (and standard input from
// `input` when given); returns its exit status, or -1.
inline int Run(const std::vector<std::string>& argv, const std::string& input = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        if (!input.empty()) {
            std::freopen(input.c_str(), "r", stdin);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace tegalo::bench
