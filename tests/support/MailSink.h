// A real SMTP server for the send tests: tests/support/smtp_sink.py (on
// Debian's python3-aiosmtpd) listening on 127.0.0.1 on a free port, keeping
// every command and every message it was sent in a temporary directory.
// Stop() (or the destructor) ends it and removes the directory. Options make
// it a server that wants STARTTLS or TLS from the start and a login.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tegalo::smtp_test {

// One message as the sink kept it. Decoded values are UTF-8.
struct SinkMessage {
    std::string helo;
    std::string mailFrom;
    std::vector<std::string> rcptTos;
    std::string data;   // the raw message, dots unstuffed
    std::string answer; // what the sink answered to it
    std::string subject;
    std::string fromName;
    std::string fromAddress;
    std::string to;
    std::string cc;
    std::string text;   // the text part
    std::vector<std::pair<std::string, std::string>> attachments; // name, bytes
    std::string decodeError; // empty when Python's email package read it
};

struct SinkOptions {
    std::string certPath; // PEM, with keyPath: the certificate for TLS
    std::string keyPath;
    std::string tls;      // "", "starttls" or "smtps"
    std::string auth;     // "user:password": mail only after that login
    bool authInClear = false; // the login is offered without TLS too
    bool light = false;       // every message answered 250 and nothing kept (benchmarks)
};

class MailSink {
public:
    MailSink() = default;
    MailSink(const MailSink&) = delete;
    MailSink& operator=(const MailSink&) = delete;
    ~MailSink() { Stop(); }

    // A Python 3 that has aiosmtpd: $TEGALO_PYTHON, /usr/bin/python3 (where
    // Debian's package puts it) or python3 from PATH. Empty when none has.
    static std::string FindPython() {
        std::vector<std::string> candidates;
        if (const char* chosen = std::getenv("TEGALO_PYTHON")) {
            candidates.emplace_back(chosen);
        }
        candidates.insert(candidates.end(), {"/usr/bin/python3", "python3"});
        for (const std::string& python : candidates) {
            const std::string probe = "'" + python + "' -c 'import aiosmtpd' >/dev/null 2>&1";
            if (std::system(probe.c_str()) == 0) {
                return python;
            }
        }
        return {};
    }

    // Starts the sink. Returns an empty string on success, else what went
    // wrong (with the sink's error output).
    std::string Start(const SinkOptions& options = {}) {
        const std::string python = FindPython();
        if (python.empty()) {
            return "no python3 with aiosmtpd (Debian package python3-aiosmtpd)";
        }
        char pattern[] = "/tmp/tegalo-smtp-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            return std::string("mkdtemp: ") + std::strerror(errno);
        }
        dir_ = pattern;
        std::filesystem::create_directory(Out());
        const std::string script = std::string(TEGALO_TEST_DATA) + "/../support/smtp_sink.py";
        const std::string errors = dir_ + "/sink.stderr";
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            return std::string("pipe: ") + std::strerror(errno);
        }
        // The arguments are ready before the fork: the child only execs.
        std::vector<std::string> args = {python, script, Out()};
        if (!options.certPath.empty()) {
            args.insert(args.end(), {"--cert", options.certPath, "--key", options.keyPath});
        }
        if (!options.tls.empty()) {
            args.insert(args.end(), {"--tls", options.tls});
        }
        if (!options.auth.empty()) {
            args.insert(args.end(), {"--auth", options.auth});
        }
        if (options.authInClear) {
            args.emplace_back("--auth-in-clear");
        }
        if (options.light) {
            args.emplace_back("--light");
        }
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid < 0) {
            return std::string("fork: ") + std::strerror(errno);
        }
        if (pid == 0) {
            ::dup2(pipeFds[1], 1);
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0) {
                ::dup2(err, 2);
            }
            ::execvp(python.c_str(), argv.data());
            ::_exit(127);
        }
        pid_ = pid;
        ::close(pipeFds[1]);
        std::string said;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (said.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd wait{pipeFds[0], POLLIN, 0};
            if (::poll(&wait, 1, 100) > 0) {
                char buffer[64];
                const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
                if (n <= 0) {
                    break; // the sink exited
                }
                said.append(buffer, static_cast<std::size_t>(n));
            }
        }
        ::close(pipeFds[0]);
        if (said.rfind("PORT ", 0) == 0) {
            port_ = std::atoi(said.c_str() + 5);
        }
        if (port_ <= 0) {
            const std::string why = "the sink did not start (" + python + " " + script + "): " + said + ReadFile(errors);
            Stop();
            return why;
        }
        return {};
    }

    int Port() const { return port_; }

    // Forgets every command and message received so far.
    void Clear() const {
        for (const auto& entry : std::filesystem::directory_iterator(Out())) {
            std::filesystem::remove_all(entry.path());
        }
    }

    // The commands received, one a line as the sink logged them ("EHLO x",
    // "MAIL FROM:<a>", "RCPT TO:<b>", "RSET", "DATA <answer>", "DATA
    // refused", "QUIT").
    std::vector<std::string> Commands() const {
        std::vector<std::string> lines;
        std::stringstream log(ReadFile(Out() + "/commands.log"));
        for (std::string line; std::getline(log, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // The messages whose data arrived, in order.
    std::vector<SinkMessage> Messages() const {
        std::vector<std::string> dirs;
        for (const auto& entry : std::filesystem::directory_iterator(Out())) {
            if (entry.is_directory()) {
                dirs.push_back(entry.path().string());
            }
        }
        std::sort(dirs.begin(), dirs.end());
        std::vector<SinkMessage> messages;
        for (const std::string& d : dirs) {
            SinkMessage m;
            m.helo = ReadFile(d + "/helo");
            m.mailFrom = ReadFile(d + "/mail_from");
            std::stringstream rcpt(ReadFile(d + "/rcpt_tos"));
            for (std::string line; std::getline(rcpt, line);) {
                m.rcptTos.push_back(line);
            }
            m.data = ReadFile(d + "/data");
            m.answer = ReadFile(d + "/answer");
            m.subject = ReadFile(d + "/subject");
            m.fromName = ReadFile(d + "/from_name");
            m.fromAddress = ReadFile(d + "/from_address");
            m.to = ReadFile(d + "/to");
            m.cc = ReadFile(d + "/cc");
            m.text = ReadFile(d + "/text");
            m.decodeError = ReadFile(d + "/decode_error");
            for (int n = 1; std::filesystem::exists(d + "/part" + std::to_string(n) + ".data"); ++n) {
                const std::string part = d + "/part" + std::to_string(n);
                m.attachments.emplace_back(ReadFile(part + ".name"), ReadFile(part + ".data"));
            }
            messages.push_back(std::move(m));
        }
        return messages;
    }

    // Ends the sink and removes its directory.
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            if (!WaitGone(std::chrono::seconds(5))) {
                ::kill(pid_, SIGKILL);
                WaitGone(std::chrono::seconds(5));
            }
            pid_ = -1;
        }
        port_ = 0;
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
            dir_.clear();
        }
    }

private:
    std::string Out() const { return dir_ + "/out"; }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    bool WaitGone(std::chrono::seconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    std::string dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace tegalo::smtp_test
