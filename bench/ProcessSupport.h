// Running another program to its end, for the benchmarks that measure whole
// processes: by the clock when it works with servers, by the processor time
// it took when it computes alone.
#pragma once

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tegalo::bench {

// Run, and sets `cpuSeconds` to the processor time (user and system) the
// process took, which the load of other programs on the machine leaves
// alone. The child is started with posix_spawn (a vfork): its start costs
// the same however much memory the benchmark process holds, where a fork
// would copy the page tables of every large folder a benchmark before kept.
inline int RunMeasured(const std::vector<std::string>& argv, const std::string& input, double& cpuSeconds) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (!input.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    cpuSeconds = 0;
    if (spawned != 0) {
        return -1;
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
