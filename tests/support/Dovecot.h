// A private Dovecot POP3 server for one test: its own configuration, users
// and maildirs in a temporary directory, listening on 127.0.0.1 on a free
// port, no system service involved. Stop() (or the destructor) ends every
// process it started and removes the directory.
//
// With Options it also offers TLS (STLS on the POP3 port and POP3S on a
// second port, with the certificate given), APOP (its greeting then carries
// a timestamp) and SASL logins.
//
// Run as root (as in CI), the mail is owned by "nobody" and the login and
// internal processes run as Dovecot's own users when they exist; run as
// another user, everything runs as that user.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tegalo::pop3_test {

class DovecotServer {
public:
    struct User {
        std::string name;
        std::string password;
    };

    struct Options {
        std::string certPath; // PEM; TLS is offered when set
        std::string keyPath;
        // Dovecot's auth_mechanisms: "plain" (USER/PASS), "apop", "login",
        // "cram-md5", "scram-sha-256"... SASL offers all but apop.
        std::string mechanisms = "plain";
        int port = 0;    // the POP3 port; 0 for a free one
        int tlsPort = 0; // the POP3S port (with a certificate); 0 for a free one
    };

    DovecotServer() = default;
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;
    ~DovecotServer() { Stop(); }

    // The dovecot binary from PATH, /usr/sbin or /usr/local/sbin; empty when
    // there is none.
    static std::string FindBinary() {
        std::vector<std::string> dirs;
        if (const char* path = std::getenv("PATH")) {
            std::stringstream list(path);
            for (std::string dir; std::getline(list, dir, ':');) {
                dirs.push_back(dir);
            }
        }
        dirs.insert(dirs.end(), {"/usr/sbin", "/usr/local/sbin"});
        for (const std::string& dir : dirs) {
            const std::string candidate = dir + "/dovecot";
            if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        return {};
    }

    // Starts the server for these users. Returns an empty string on success,
    // else what went wrong (with the server's log).
    std::string Start(const std::vector<User>& users) { return Start(users, Options{}); }

    std::string Start(const std::vector<User>& users, const Options& options) {
        options_ = options;
        const std::string binary = FindBinary();
        if (binary.empty()) {
            return "no dovecot binary in PATH, /usr/sbin or /usr/local/sbin (Debian package dovecot-pop3d)";
        }
        char pattern[] = "/tmp/tegalo-dovecot-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            return std::string("mkdtemp: ") + std::strerror(errno);
        }
        dir_ = pattern;
        ::chmod(dir_.c_str(), 0755); // the mail user must reach the maildirs
        if (std::string error = ChooseAccounts(); !error.empty()) {
            return error;
        }
        std::ofstream passwd(dir_ + "/passwd");
        for (const User& user : users) {
            passwd << user.name << ":{PLAIN}" << user.password << "\n";
            for (const char* sub : {"cur", "new", "tmp"}) {
                std::filesystem::create_directories(Maildir(user.name) + "/" + sub);
            }
            ChownTree(dir_ + "/home/" + user.name);
        }
        passwd.close();

        std::string lastError;
        for (int attempt = 0; attempt < 5; ++attempt) { // the free port may be taken meanwhile
            port_ = options_.port != 0 ? options_.port : FreePort();
            tlsPort_ = options_.certPath.empty() ? 0 : options_.tlsPort != 0 ? options_.tlsPort : FreePort();
            if (port_ == 0 || (!options_.certPath.empty() && (tlsPort_ == 0 || tlsPort_ == port_))) {
                return "no free port on 127.0.0.1";
            }
            WriteConfig();
            lastError = Launch(binary);
            if (lastError.empty()) {
                return {};
            }
        }
        return lastError;
    }

    int Port() const { return port_; }
    int TlsPort() const { return tlsPort_; } // POP3S; 0 without a certificate
    const std::string& Directory() const { return dir_; }
    std::string Log() const { return ReadFile(dir_ + "/dovecot.log"); }

    // Puts a message (CR LF line ends) into the user's maildir. Messages are
    // numbered by the server in delivery order.
    void Deliver(const std::string& user, std::string_view message) {
        char name[64];
        std::snprintf(name, sizeof name, "/new/%010d.M%dP%d.tegalo", 1'000'000 + delivered_, delivered_,
                      static_cast<int>(::getpid()));
        ++delivered_;
        const std::string path = Maildir(user) + name;
        std::ofstream(path, std::ios::binary) << message;
        if (::chown(path.c_str(), mailUid_, mailGid_) != 0 && ::geteuid() == 0) {
            std::abort();
        }
    }

    // Messages in the user's maildir, deleted ones not counted.
    int MessageCount(const std::string& user) const {
        int count = 0;
        for (const char* sub : {"/new", "/cur"}) {
            for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(Maildir(user) + sub)) {
                ++count;
            }
        }
        return count;
    }

    // Ends the server and its children and removes the directory.
    void Stop() {
        if (pid_ > 0) {
            ::kill(-pid_, SIGTERM); // the whole process group: the master need not wait for its children
            WaitGone(std::chrono::seconds(5));
            if (::kill(-pid_, 0) == 0) {
                ::kill(-pid_, SIGKILL);
                WaitGone(std::chrono::seconds(5));
            }
            pid_ = -1;
        }
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
            dir_.clear();
        }
    }

private:
    std::string Maildir(const std::string& user) const { return dir_ + "/home/" + user + "/Maildir"; }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string ChooseAccounts() {
        if (::geteuid() != 0) {
            const passwd* me = ::getpwuid(::geteuid());
            if (me == nullptr) {
                return "cannot find the current user";
            }
            mailUid_ = me->pw_uid;
            mailGid_ = me->pw_gid;
            loginUser_ = internalUser_ = me->pw_name;
            return InternalGroup();
        }
        // Dovecot runs no mail process as root, and no login process either.
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr) {
            return "no user nobody to own the test mail";
        }
        mailUid_ = nobody->pw_uid;
        mailGid_ = nobody->pw_gid;
        loginUser_ = ::getpwnam("dovenull") ? "dovenull" : "nobody";
        internalUser_ = ::getpwnam("dovecot") ? "dovecot" : "nobody";
        return InternalGroup();
    }

    // The name of the internal user's own group.
    std::string InternalGroup() {
        const passwd* user = ::getpwnam(internalUser_.c_str());
        const group* own = user ? ::getgrgid(user->pw_gid) : nullptr;
        if (own == nullptr) {
            return "no group for " + internalUser_;
        }
        internalGroup_ = own->gr_name;
        return {};
    }

    void ChownTree(const std::string& root) const {
        if (::geteuid() != 0) {
            return;
        }
        if (::chown(root.c_str(), mailUid_, mailGid_) != 0) {
            std::abort();
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (::chown(entry.path().c_str(), mailUid_, mailGid_) != 0) {
                std::abort();
            }
        }
    }

    static int FreePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
        ::close(fd);
        return port;
    }

    void WriteConfig() const {
        std::ofstream conf(dir_ + "/dovecot.conf");
        conf << "base_dir = " << dir_ << "/run\n"
             << "state_dir = " << dir_ << "/state\n"
             << "instance_name = tegalo-test-" << port_ << "\n"
             << "protocols = pop3\n"
             << "listen = 127.0.0.1\n"
             << (options_.certPath.empty() ? std::string("ssl = no\n")
                                            : "ssl = yes\nssl_cert = <" + options_.certPath + "\nssl_key = <" +
                                                  options_.keyPath + "\nssl_min_protocol = TLSv1.2\n")
             << "disable_plaintext_auth = no\n"
             << "auth_mechanisms = " << options_.mechanisms << "\n"
             << "auth_failure_delay = 0\n"
             << "log_path = " << dir_ << "/dovecot.log\n"
             << "info_log_path = " << dir_ << "/dovecot.log\n"
             << "default_login_user = " << loginUser_ << "\n"
             << "default_internal_user = " << internalUser_ << "\n"
             << "default_internal_group = " << internalGroup_ << "\n"
             << "first_valid_uid = " << mailUid_ << "\n"
             << "first_valid_gid = " << mailGid_ << "\n"
             << "mail_location = maildir:~/Maildir\n"
             << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " << dir_ << "/passwd\n}\n"
             << "userdb {\n  driver = static\n  args = uid=" << mailUid_ << " gid=" << mailGid_ << " home=" << dir_
             << "/home/%u\n}\n"
             << "service pop3-login {\n  chroot =\n  inet_listener pop3 {\n    address = 127.0.0.1\n    port = "
             << port_ << "\n  }\n"
             << (tlsPort_ == 0 ? std::string()
                               : "  inet_listener pop3s {\n    address = 127.0.0.1\n    port = " +
                                     std::to_string(tlsPort_) + "\n    ssl = yes\n  }\n")
             << "}\n"
             << "service anvil {\n  chroot =\n}\n"
             << "service stats {\n  chroot =\n}\n";
    }

    std::string Launch(const std::string& binary) {
        std::filesystem::create_directories(dir_ + "/state");
        const std::string conf = dir_ + "/dovecot.conf";
        const std::string log = dir_ + "/dovecot.stderr";
        const pid_t pid = ::fork();
        if (pid < 0) {
            return std::string("fork: ") + std::strerror(errno);
        }
        if (pid == 0) {
            ::setsid(); // its own process group, so that Stop() reaches every child
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            ::execl(binary.c_str(), "dovecot", "-F", "-c", conf.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        pid_ = pid;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                ::kill(-pid_, SIGTERM);
                pid_ = -1;
                return "dovecot exited at start:\n" + ReadFile(log) + Log();
            }
            if (Listening()) {
                return {};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(-pid_, SIGKILL);
        WaitGone(std::chrono::seconds(5));
        pid_ = -1;
        return "dovecot did not listen within 10 seconds:\n" + Log();
    }

    bool Listening() const { return Listening(port_) && (tlsPort_ == 0 || Listening(tlsPort_)); }

    static bool Listening(int port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

    void WaitGone(std::chrono::seconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            ::waitpid(pid_, nullptr, WNOHANG);
            if (::kill(-pid_, 0) != 0 && errno == ESRCH) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::string dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    int tlsPort_ = 0;
    Options options_;
    int delivered_ = 0;
    uid_t mailUid_ = 0;
    gid_t mailGid_ = 0;
    std::string loginUser_;
    std::string internalUser_;
    std::string internalGroup_;
};

} // namespace tegalo::pop3_test
