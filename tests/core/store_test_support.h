// Shared pieces of the store and settings tests: a scripted user interface,
// a temporary mailbox directory, golden files and a file-size limit that
// stands in for a full disk.
#pragma once

#include "store/StoreUi.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <vector>

namespace tegalo::testing_support {

// Records what the store shows, instead of showing it.
class ScriptedUi : public StoreUi {
public:
    void Message(std::string_view sjisText) override { messages.emplace_back(sjisText); }
    void Trace(std::string_view line) override { traces.emplace_back(line); }

    // The messages in UTF-8, one a line, for readable failure output.
    std::string Shown() const {
        std::string all;
        for (const std::string& m : messages) {
            all += SjisToUtf8(m) + "\n";
        }
        return all;
    }
    std::string Last() const { return messages.empty() ? std::string() : messages.back(); }

    std::vector<std::string> messages;
    std::vector<std::string> traces;
};

// A fresh directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tegalo-store-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern + "/";
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + std::string(name); }

private:
    std::string path_;
};

// Sets an environment variable while it lives, and puts back what was
// there before.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
            hadOld_ = true;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (hadOld_) {
            ::setenv(name_, old_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::string old_;
    bool hadOld_ = false;
};

// A fresh $XDG_RUNTIME_DIR, so that attachment copies go to a directory of
// the test's own. Path() has no trailing "/".
class RuntimeDir {
public:
    std::string Path() const { return dir_.Path().substr(0, dir_.Path().size() - 1); }

private:
    TempDir dir_;
    ScopedEnv env_{"XDG_RUNTIME_DIR", Path()};
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A file of tests/data/store.
inline std::string Golden(std::string_view name) {
    const std::string path = std::string(TEGALO_TEST_DATA) + "/store/" + std::string(name);
    if (!std::filesystem::exists(path)) {
        ADD_FAILURE() << "missing golden file " << path;
    }
    return ReadFile(path);
}

// A record of a single-part message built from its pieces.
inline std::string MakeRecord(std::string_view subject, std::string_view body = "body\r\n",
                              std::string_view sender = "someone@example.jp") {
    const std::string header = "From: " + std::string(sender) + "\r\n";
    const RecordPieces pieces{subject, sender, "Mon, 3 Jun 2024", header, body, {}};
    return BuildRecord(SizesFor(pieces, 0, 0), JoinPieces(pieces));
}

// The subject of a whole record ("" when it cannot be cut).
inline std::string SubjectOf(std::string_view record) {
    const std::optional<RecordPieces> pieces = SplitRecord(record);
    return pieces ? std::string(pieces->subject) : std::string();
}

inline std::vector<std::string> Subjects(const RecordList& list) {
    std::vector<std::string> subjects;
    for (const std::string_view record : list) {
        subjects.push_back(SubjectOf(record));
    }
    return subjects;
}

// While alive, files of this process cannot grow beyond `bytes`: a write
// past the limit fails with EFBIG, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limited = old_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
};

// A mailbox directory with the four folder files, and a document on it.
struct Mailbox {
    // Writes the folder files and an empty address book, then starts the
    // document.
    StoreStatus Open(std::string_view recv = "     0", std::string_view reserv = "     0",
                     std::string_view sent = "     0", std::string_view recycle = "     0") {
        WriteFile(dir / "recv", recv);
        WriteFile(dir / "reserv", reserv);
        WriteFile(dir / "sent", sent);
        WriteFile(dir / "recycle", recycle);
        if (!std::filesystem::exists(dir / "addr")) {
            WriteFile(dir / "addr", "");
        }
        return doc.Start(dir.Path());
    }

    std::string File(std::string_view name) const { return ReadFile(dir / name); }

    TempDir dir;
    ScriptedUi ui;
    CTegaloDoc doc{ui};
};

class MailboxTest : public ::testing::Test, protected Mailbox {
protected:
    void Open(std::string_view recv = "     0", std::string_view reserv = "     0",
              std::string_view sent = "     0", std::string_view recycle = "     0") {
        ASSERT_TRUE(Loaded(Mailbox::Open(recv, reserv, sent, recycle))) << ui.Shown();
    }

    // Appends a record to a folder the way the program does.
    void Append(std::string_view record, std::string_view folder) {
        const std::optional<PartSizes> sizes = ParseSizeBlock(record);
        ASSERT_TRUE(sizes.has_value());
        ASSERT_EQ(doc.AddReceived(*sizes, record.substr(kSizeBlockLength), folder), StoreStatus::kOk) << ui.Shown();
    }
};

} // namespace tegalo::testing_support
