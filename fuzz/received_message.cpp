// A received message, split into a record and stored into a mailbox of its
// own through the store the receive session uses. The record's pieces are
// what the split gave, it holds no NUL, and the folder written loads back
// with the record it had before and the new one, byte for byte.
#include "fuzz/FuzzSupport.h"
#include "store/FolderFile.h"
#include "store/Record.h"
#include "store/StoreUi.h"
#include "store/TegaloDoc.h"
#include "transfer/DocReceiveStore.h"
#include "mime/ReceivedMessage.h"

#include <fstream>
#include <string>

using namespace tegalo;

namespace {

class SilentUi final : public StoreUi {
public:
    void Message(std::string_view) override {}
};

void Write(const std::string& name, std::string_view bytes) {
    std::ofstream(fuzz::ScratchDir() + name, std::ios::binary) << bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ReceivedMessage message = SplitReceivedMessage(bytes);
    FUZZ_CHECK(message.attachments.size() <= kAttachmentSlots);
    for (const std::string& part : message.attachments) {
        FUZZ_CHECK(part.size() >= kPartHeaderSize);
    }
    if (!message.DropAttachmentsToFit()) {
        return 0;
    }
    const PartSizes sizes = message.Sizes();
    const std::string text = message.RecordText();
    FUZZ_CHECK(CheckRecord(sizes, text) == RecordProblem::kNone);
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    const std::string record = BuildRecord(sizes, text);
    const std::optional<RecordPieces> pieces = SplitRecord(record);
    FUZZ_CHECK(pieces.has_value());
    FUZZ_CHECK(pieces->subject == message.subject && pieces->sender == message.from && pieces->date == message.date &&
               pieces->header == message.header && pieces->body == message.body);
    for (std::size_t i = 0; i < message.attachments.size(); ++i) {
        FUZZ_CHECK(pieces->attachments[i] == message.attachments[i]);
    }

    // Stored after a record that was there before.
    fuzz::ClearScratch();
    const std::string before = BuildRecord(PartSizes{65, 1, 1, 1, 0, 0, 1, 1, 0, 0, 0}, "sfdhb");
    Write("recv", "     1" + before);
    for (const char* name : {"reserv", "sent", "recycle"}) {
        Write(name, "     0");
    }
    Write("addr", "");
    {
        SilentUi ui;
        CTegaloDoc doc(ui);
        FUZZ_CHECK(doc.Start(fuzz::ScratchDir()) == StoreStatus::kOk);
        DocReceiveStore store(doc);
        FUZZ_CHECK(store.AddReceived(sizes, text) == StoreResult::Stored);
        FUZZ_CHECK(store.Commit());
    }
    RecordList read;
    FUZZ_CHECK(ReadFolderFile(fuzz::ScratchDir() + "recv", kReceived, read) == 0);
    FUZZ_CHECK(!read.Damaged());
    FUZZ_CHECK(read.size() == 2);
    FUZZ_CHECK(read[0] == before);
    FUZZ_CHECK(read[1] == record);
    return 0;
}
