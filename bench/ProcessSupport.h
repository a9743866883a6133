// Running another program to its end, for the benchmarks that measure whole
// processes: by the clock when it works with servers, by the processor time
// it took when it computes alone.
#pragma once

#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tegalo::bench {

// Run, and sets `cpuSeconds` to the processor time (user and system) the
// process took, which the load of other programs on the machine leaves
// alone.
inline int RunMeasured(const std::vector<std::string>& argv, const std::string& input, double& cpuSeconds) {
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
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `argv` with standard output thrown away (and standard input from
// `input` when given); returns its exit status, or -1.
inline int Run(const std::vector<std::string>& argv, const std::string& input = {}) {
    double unused = 0;
    return RunMeasured(argv, input, unused);
}

} // namespace tegalo::bench
