// The unique ids (POP3 UIDL, RFC 1939) of the messages already received, so
// that a mailbox kept on the server is not fetched again and again.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace tegalo {

enum class UidlMark {
    Stored, // stored whole; may be deleted from the server
    Kept,   // not stored whole (refused, parts left out): never deleted, not fetched again
};

struct UidlList {
    std::string account; // whose mailbox the ids belong to; ids of another account mean nothing
    std::map<std::string, UidlMark, std::less<>> marks;

    bool operator==(const UidlList&) const = default;
};

// The file text: "account <account>", then one line per id, "stored <id>"
// or "kept <id>", in id order, each line ending in CR LF.
std::string FormatUidlList(const UidlList& list);

// Reads what FormatUidlList wrote. Lines it does not understand are skipped,
// so a damaged file loses only its damaged lines.
UidlList ParseUidlList(std::string_view text);

// An id as RFC 1939 allows it: 1 to 70 characters from 0x21 to 0x7E.
bool IsValidUidl(std::string_view uid);

struct [[nodiscard]] UidlLoad {
    bool ok = false;   // false: the list exists but cannot be read
    UidlList list;     // empty when there was none yet
    std::string error; // why not, when !ok
};

// Where the receive session keeps the list between sessions.
class UidlStore {
public:
    virtual ~UidlStore() = default;
    virtual UidlLoad Load() = 0;
    // Replaces the kept list as a whole. Returns an empty string on success,
    // else what went wrong; the old list then stays as it was.
    [[nodiscard]] virtual std::string Save(const UidlList& list) = 0;

    // For a store that commits the list together with its messages: writes
    // the list, synced, as the file StagedName() + ".pending" beside the kept
    // one, for the store to put in place (see ReceiveStore::CommitWith).
    // Returns an empty string on success, else what went wrong.
    [[nodiscard]] virtual std::string Stage(const UidlList& list) {
        static_cast<void>(list);
        return "staging not supported";
    }
    // The kept file's name in the mailbox; empty when Stage is not supported.
    virtual std::string StagedName() const { return {}; }
};

// The list as the file "recv.uidl" of the working directory. Saving writes a
// new file beside it, flushes it to disk and renames it over the old one.
class UidlFile final : public UidlStore {
public:
    static constexpr std::string_view kFileName = "recv.uidl";
    // The digests (SHA-256, hex) of messages received from a server without
    // UIDL, kept in the same form under this name.
    static constexpr std::string_view kDigestFileName = "recv.digest";

    explicit UidlFile(std::string directory, std::string_view fileName = kFileName);

    UidlLoad Load() override;
    [[nodiscard]] std::string Save(const UidlList& list) override;
    [[nodiscard]] std::string Stage(const UidlList& list) override;
    std::string StagedName() const override { return fileName_; }

    const std::string& Path() const { return path_; }

private:
    [[nodiscard]] std::string Write(const UidlList& list, const std::string& name);

    std::string directory_;
    std::string fileName_;
    std::string path_;
};

} // namespace tegalo
