// Runs one mail session (receive or send) over a plain blocking TCP socket on
// loopback, the way the program's socket adapter runs it: connect when the
// session asks, hand every arrival to it, write what it answers, tick once a
// second.
#pragma once

#include "transfer/SessionEnd.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace tegalo::session_test {

struct SessionRun {
    std::vector<std::string> statusTexts;
    std::vector<std::string> notices;
    std::string sent;      // every byte the client wrote
    bool connected = false; // the session asked for a connection and got it
    std::string host;      // the server a send session asked for
    int port = 0;
    SessionEnd ended = SessionEnd::None;
    bool timedOut = false; // the run's own time limit passed

    std::string LastStatus() const { return statusTexts.empty() ? std::string() : statusTexts.back(); }
};

struct LoopOptions {
    std::chrono::seconds limit = std::chrono::seconds(30);
    std::size_t readSize = 10'000;         // arrivals are read in pieces of at most this
    std::size_t writeSize = std::size_t(-1); // what is to be sent goes out in pieces of at most this
};

// `first` is what the request that starts the session answered. When it
// asks for a connection, the loop connects to `ipv4` (a dotted address) at
// `port`, whatever host the session named.
template <class Session, class Output>
SessionRun RunSession(Session& session, Output first, const std::string& ipv4, int port,
                      const LoopOptions& options = {}) {
    SessionRun run;
    int fd = -1;
    bool done = false;
    std::vector<Output> pending; // outputs still to carry out, in order
    const auto apply = [&](Output out) {
        if constexpr (requires { out.host; }) {
            if (out.connect) {
                run.host = out.host;
                run.port = out.port;
            }
        }
        for (std::string& text : out.statusTexts) {
            run.statusTexts.push_back(std::move(text));
        }
        for (std::string& notice : out.notices) {
            run.notices.push_back(std::move(notice));
        }
        std::string_view rest = out.send;
        run.sent += out.send;
        while (!rest.empty() && fd >= 0) {
            const ssize_t n = ::send(fd, rest.data(), std::min(rest.size(), options.writeSize), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break; // the next read reports the broken connection
            }
            rest.remove_prefix(static_cast<std::size_t>(n));
            if constexpr (requires { session.OnBytesWritten(); }) {
                pending.push_back(session.OnBytesWritten());
            }
        }
        if (out.ended != SessionEnd::None) {
            run.ended = out.ended;
        }
        if (out.close) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
            done = true;
        }
        return out.connect;
    };
    const auto applyAll = [&](Output out) {
        const bool connect = apply(std::move(out));
        while (!pending.empty()) {
            Output next = std::move(pending.front());
            pending.erase(pending.begin());
            apply(std::move(next));
        }
        return connect;
    };

    if (!applyAll(std::move(first))) {
        return run;
    }
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, ipv4.c_str(), &address.sin_addr);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        applyAll(session.OnConnectFailed(std::strerror(errno)));
        if (fd >= 0) {
            ::close(fd);
        }
        return run;
    }
    run.connected = true;
    applyAll(session.OnServerConnect());

    const auto deadline = std::chrono::steady_clock::now() + options.limit;
    auto nextTick = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::string buffer(options.readSize, '\0');
    while (!done) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            run.timedOut = true;
            break;
        }
        if (now >= nextTick) {
            nextTick += std::chrono::seconds(1);
            applyAll(session.OnTick());
            continue;
        }
        pollfd wait{fd, POLLIN, 0};
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now).count();
        const int ready = ::poll(&wait, 1, static_cast<int>(ms) + 1);
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n > 0) {
            applyAll(session.ReadArrival(std::string_view(buffer.data(), static_cast<std::size_t>(n))));
        } else if (n == 0) {
            applyAll(session.OnServerClose());
        } else if (errno != EINTR) {
            applyAll(session.OnSocketError(std::strerror(errno)));
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return run;
}

} // namespace tegalo::session_test
