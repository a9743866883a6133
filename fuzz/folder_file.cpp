// Folder files. Reading keeps every byte: the count, the records and the
// unread tail make up the file again (a file that reads whole keeps its own
// count). A folder written from what was read reads back with the same
// records, and a record appended to it reads back too.
#include "fuzz/FuzzSupport.h"
#include "store/FolderFile.h"
#include "store/Record.h"

#include <string>

using namespace tegalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const RecordList list = ParseFolderBytes(bytes, kReceived);

    std::string again(list.Damaged() ? std::string_view() : list.CountField());
    for (const std::string_view record : list) {
        FUZZ_CHECK(CheckWholeRecord(record) == RecordProblem::kNone);
        again += record;
    }
    again += list.UnreadTail();
    if (list.Damaged()) {
        // The count of a damaged file is rewritten: its records and tail
        // follow the count's six bytes (or are all of a shorter file).
        FUZZ_CHECK(bytes.size() < 6 || bytes.substr(6) == again || bytes == again);
    } else {
        FUZZ_CHECK(again == bytes);
    }

    // Written and read back, with one more record.
    std::string record = BuildRecord(PartSizes{65, 1, 1, 1, 0, 0, 1, 1, 0, 0, 0}, "sfdhb");
    fuzz::ClearScratch();
    FileStamp stamp;
    const FolderEdit append{FolderEdit::Kind::kAppend, list.size(), record};
    FUZZ_CHECK(RewriteFolderFile(fuzz::ScratchDir(), list, append, stamp) == 0);
    RecordList read;
    FUZZ_CHECK(ReadFolderFile(fuzz::ScratchDir() + std::string(FolderName(kReceived)), kReceived, read) == 0);
    if (!list.Damaged()) {
        FUZZ_CHECK(!read.Damaged());
        FUZZ_CHECK(read.size() == list.size() + 1);
        for (std::size_t i = 0; i < list.size(); ++i) {
            FUZZ_CHECK(read[i] == list[i]);
        }
        FUZZ_CHECK(read[list.size()] == record);
    } else {
        // The damaged tail stays behind the records, the new record before it.
        FUZZ_CHECK(read.size() == list.size() + 1);
        for (std::size_t i = 0; i < list.size(); ++i) {
            FUZZ_CHECK(read[i] == list[i]);
        }
        FUZZ_CHECK(read[list.size()] == record);
        FUZZ_CHECK(read.UnreadTail() == list.UnreadTail());
    }
    return 0;
}
