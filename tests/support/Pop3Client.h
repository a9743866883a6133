// Runs one receive session over a plain blocking TCP socket on loopback, the
// way the program's socket adapter runs it: connect, hand every arrival to
// the session, write what it answers, tick once a second.
#pragma once

#include "transfer/Pop3Session.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace tegalo::pop3_test {

struct SessionRun {
    std::vector<std::string> statusTexts;
    std::vector<std::string> notices;
    std::string sent; // every byte the client wrote
    SessionEnd ended = SessionEnd::None;
    bool timedOut = false; // the run's own time limit passed

    std::string LastStatus() const { return statusTexts.empty() ? std::string() : statusTexts.back(); }
};

// `account.serverName` must be a dotted IPv4 address. Arrivals are read in
// pieces of at most `readSize` bytes.
inline SessionRun RunPop3Session(Pop3Session& session, const Pop3Account& account,
                                 std::chrono::seconds limit = std::chrono::seconds(30),
                                 std::size_t readSize = 10'000) {
    SessionRun run;
    int fd = -1;
    bool done = false;
    const auto apply = [&](Pop3Output out) {
        for (std::string& text : out.statusTexts) {
            run.statusTexts.push_back(std::move(text));
        }
        for (std::string& notice : out.notices) {
            run.notices.push_back(std::move(notice));
        }
        std::string_view pending = out.send;
        run.sent += out.send;
        while (!pending.empty() && fd >= 0) {
            const ssize_t n = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break; // the next read reports the broken connection
            }
            pending.remove_prefix(static_cast<std::size_t>(n));
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

    if (!apply(session.StartReceive(account))) {
        return run;
    }
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(account.pop3Port));
    ::inet_pton(AF_INET, account.serverName.c_str(), &address.sin_addr);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        apply(session.OnConnectFailed(std::strerror(errno)));
        if (fd >= 0) {
            ::close(fd);
        }
        return run;
    }
    apply(session.OnServerConnect());

    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto nextTick = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::string buffer(readSize, '\0');
    while (!done) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            run.timedOut = true;
            break;
        }
        if (now >= nextTick) {
            nextTick += std::chrono::seconds(1);
            apply(session.OnTick());
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
            apply(session.ReadArrival(std::string_view(buffer.data(), static_cast<std::size_t>(n))));
        } else if (n == 0) {
            apply(session.OnServerClose());
        } else if (errno != EINTR) {
            apply(session.OnSocketError(std::strerror(errno)));
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return run;
}

} // namespace tegalo::pop3_test
