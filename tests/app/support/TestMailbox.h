// A mailbox in a temporary directory for GUI tests, with helpers that put
// messages into its folders.
#pragma once

#include <QTemporaryDir>

#include <string>
#include <string_view>
#include <vector>

namespace tegalo::testing_support {

struct TestMessage {
    std::string subject; // Shift_JIS
    std::string sender;
    std::string date;
    std::string header;
    std::string body;
    // Attachments as (name, encoding, content); a message with any is stored
    // as multipart.
    struct Attachment {
        std::string name;
        std::string encoding;
        std::string content;
    };
    std::vector<Attachment> attachments;
    bool read = false;
};

// The whole record (size block and text) of a message.
std::string MakeRecord(const TestMessage& message);

class TestMailbox {
public:
    // A new mailbox with the four folders, settings, and an empty address
    // book. The window's state of the run goes to a configuration directory
    // of its own beside it (XDG_CONFIG_HOME), never to the user's.
    TestMailbox();
    QString ConfigDir() const { return config_.path(); }

    std::string Dir() const; // ends with "/"
    QString QDir() const { return dir_.path(); }

    // Appends records to a folder file ("recv", ...) before the program opens it.
    void Add(std::string_view folder, const std::vector<TestMessage>& messages);
    void Remove(std::string_view file);
    std::string Read(std::string_view file) const;
    void Write(std::string_view file, std::string_view bytes);

private:
    QTemporaryDir dir_;
    QTemporaryDir config_;
};

} // namespace tegalo::testing_support
