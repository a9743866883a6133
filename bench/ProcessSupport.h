// Running another program to its end, for the benchmarks that measure whole
// processes.
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tegalo::bench {

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
