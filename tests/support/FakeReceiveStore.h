// A received folder in memory for the receive session's tests: it keeps the
// records it is handed and can write them out as a folder file would hold
// them, and it can be told to refuse.
#pragma once

#include "transfer/ReceiveStore.h"
#include "transfer/UidlFile.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo::pop3_test {

struct StoredRecord {
    PartSizes sizes{};
    std::string text;

    // The pieces by the sizes: 0 subject, 1 sender, 2 date, 3 header,
    // 4 body, 5..7 attachments.
    std::vector<std::string> Pieces() const {
        const int lengths[] = {sizes[1], sizes[2], sizes[3], sizes[6], sizes[7], sizes[8], sizes[9], sizes[10]};
        std::vector<std::string> pieces;
        std::size_t at = 0;
        for (const int length : lengths) {
            pieces.push_back(text.substr(at, static_cast<std::size_t>(length)));
            at += static_cast<std::size_t>(length);
        }
        return pieces;
    }
    std::string Subject() const { return Pieces()[0]; }
    std::string From() const { return Pieces()[1]; }
    std::string Date() const { return Pieces()[2]; }
    std::string Header() const { return Pieces()[3]; }
    std::string Body() const { return Pieces()[4]; }
    std::string Attachment(int i) const { return Pieces()[5 + static_cast<std::size_t>(i)]; }
};

inline std::string SixDigits(long value) {
    char field[24];
    std::snprintf(field, sizeof field, "%6ld", value);
    return field;
}

class FakeReceiveStore final : public ReceiveStore {
public:
    std::vector<StoredRecord> records;
    // Answers for the next calls, in order; Stored once they run out.
    std::vector<StoreResult> answers;

    StoreResult AddReceived(const PartSizes& sizes, std::string_view recordText) override {
        ++calls;
        StoreResult answer = StoreResult::Stored;
        if (!answers.empty()) {
            answer = answers.front();
            answers.erase(answers.begin());
        }
        if (answer == StoreResult::Stored) {
            records.push_back({sizes, std::string(recordText)});
        }
        return answer;
    }

    // With keepOriginals the store takes each message's original too, as
    // the mail store does; originals[i] belongs to records[i].
    bool keepOriginals = false;
    std::vector<std::string> originals;
    bool KeepsOriginals() const override { return keepOriginals; }
    StoreResult AddReceivedWithOriginal(const PartSizes& sizes, std::string_view recordText,
                                        std::string_view original) override {
        const StoreResult answer = AddReceived(sizes, recordText);
        if (answer == StoreResult::Stored) {
            originals.emplace_back(original);
        }
        return answer;
    }

    // The bytes of a folder file holding the stored records.
    std::string FolderFile() const {
        std::string file = SixDigits(static_cast<long>(records.size()));
        for (const StoredRecord& record : records) {
            for (const int size : record.sizes) {
                file += SixDigits(size);
            }
            file += record.text;
        }
        return file;
    }

    int calls = 0;
};

class FakeUidlStore final : public UidlStore {
public:
    std::optional<UidlList> list; // nullopt: no file yet
    std::string loadError;        // when set, Load fails with it
    std::string saveError;        // when set, Save fails with it
    int saves = 0;

    UidlLoad Load() override {
        if (!loadError.empty()) {
            return {false, {}, loadError};
        }
        return {true, list.value_or(UidlList{}), {}};
    }
    std::string Save(const UidlList& newList) override {
        ++saves;
        if (!saveError.empty()) {
            return saveError;
        }
        list = newList;
        return {};
    }
};

} // namespace tegalo::pop3_test
