#include "support/TestMailbox.h"

#include "config/NewMailbox.h"
#include "mime/Outgoing.h"
#include "store/Record.h"
#include "store/StoreUi.h"

#include <QFile>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tegalo::testing_support {

namespace {

class SilentUi : public StoreUi {
public:
    void Message(std::string_view) override {}
};

} // namespace

std::string MakeRecord(const TestMessage& m) {
    RecordPieces pieces;
    pieces.subject = m.subject;
    pieces.sender = m.sender;
    pieces.date = m.date;
    pieces.header = m.header;
    std::string body;
    std::vector<std::string> parts;
    int partCount = 0;
    if (m.attachments.empty()) {
        body = m.body;
    } else {
        body = PartHeader("Content-Transfer-Encoding: ", "") + m.body;
        for (const TestMessage::Attachment& a : m.attachments) {
            parts.push_back(PartHeader(a.name, a.encoding) + a.content);
        }
        partCount = static_cast<int>(m.attachments.size()) + 1;
    }
    pieces.body = body;
    for (std::size_t i = 0; i < parts.size() && i < 3; ++i) {
        pieces.attachments[i] = parts[i];
    }
    const PartSizes sizes = SizesFor(pieces, partCount, m.read ? 1 : 0);
    return BuildRecord(sizes, JoinPieces(pieces));
}

TestMailbox::TestMailbox() {
    SilentUi ui;
    if (!dir_.isValid() || !config_.isValid() || CreateMailbox(dir_.path().toStdString(), ui) != StoreStatus::kOk) {
        throw std::runtime_error("cannot create a test mailbox");
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
}

std::string TestMailbox::Dir() const {
    return dir_.path().toStdString() + "/";
}

std::string TestMailbox::Read(std::string_view file) const {
    std::ifstream in(Dir() + std::string(file), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void TestMailbox::Write(std::string_view file, std::string_view bytes) {
    std::ofstream(Dir() + std::string(file), std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void TestMailbox::Remove(std::string_view file) {
    QFile::remove(QString::fromStdString(Dir() + std::string(file)));
}

void TestMailbox::Add(std::string_view folder, const std::vector<TestMessage>& messages) {
    std::string content = Read(folder);
    int count = std::stoi(content.substr(0, 6));
    for (const TestMessage& m : messages) {
        content += MakeRecord(m);
        ++count;
    }
    Write(folder, FormatField(count) + content.substr(6));
}

} // namespace tegalo::testing_support
