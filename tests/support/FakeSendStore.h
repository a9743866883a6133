// A waiting folder and a sent folder in memory for the send session's tests.
// Each waiting message carries a made-up record that identifies it; the
// store can be told to fail any of its operations.
#pragma once

#include "mime/Outgoing.h"
#include "transfer/SendStore.h"

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo::smtp_test {

// A message as the compose path leaves it: `recipients` as typed ("To list"
// or "To list,\r\nCc: Cc list"), split into the envelope the way the store
// splits it, and the text with up to three attachments of encoded content.
inline OutgoingMessage Composed(const std::string& subject, const std::string& recipients, const std::string& text,
                                const std::vector<std::pair<std::string, std::string>>& attachments = {}) {
    OutgoingMessage message;
    std::vector<std::string> pieces;
    std::size_t at = 0;
    for (std::size_t comma = recipients.find(','); comma != std::string::npos && comma > at;
         comma = recipients.find(',', at)) {
        pieces.push_back(recipients.substr(at, comma - at));
        at = comma + 1;
    }
    pieces.push_back(recipients.substr(at));
    message.sendEnvelope = {std::to_string(pieces.size() - 1), subject, "Mon, Dec 07, 2026"};
    for (const std::string& piece : pieces) {
        const std::size_t blank = piece.find(' ');
        message.sendEnvelope.push_back(pieces.size() > 1 && blank != std::string::npos ? piece.substr(blank + 1)
                                                                                         : piece);
    }
    message.recipientText = recipients;
    message.bodyParts.assign(10, std::string());
    message.bodyParts.emplace_back("0");
    message.bodyParts[0] = std::to_string(attachments.size());
    message.bodyParts[1] = BuildBodyPart(text, "", 0, attachments.empty() ? plainText : textPart).part;
    for (std::size_t i = 0; i < attachments.size(); ++i) {
        message.bodyParts[i + 2] =
            BuildBodyPart(attachments[i].second, attachments[i].first, static_cast<int>(i) + 1, encodedContent).part;
    }
    return message;
}

struct FiledCopy {
    PartSizes sizes{};
    std::string header; // subject, sender piece, date piece, header block
    std::vector<std::string> bodyParts;
};

class FakeSendStore final : public SendStore {
public:
    std::vector<WaitingMessage> waiting;
    std::vector<FiledCopy> sent;

    // Failures on request.
    bool countFails = false;
    std::set<int> prepareFails;               // indexes whose PrepareWaiting fails
    StoreStatus fileAnswer = StoreStatus::kOk;
    StoreStatus removeAnswer = StoreStatus::kOk;

    int removeCalls = 0;

    // Adds a waiting message; its record is "record:" + the subject.
    void Wait(OutgoingMessage message) {
        const std::string record = "record:" + message.sendEnvelope[1];
        waiting.push_back({std::move(message), record});
    }

    std::vector<std::string> WaitingSubjects() const {
        std::vector<std::string> subjects;
        for (const WaitingMessage& w : waiting) {
            subjects.push_back(w.message.sendEnvelope[1]);
        }
        return subjects;
    }
    std::vector<std::string> SentSubjects() const {
        std::vector<std::string> subjects;
        for (const FiledCopy& copy : sent) {
            subjects.push_back(copy.header.substr(0, static_cast<std::size_t>(copy.sizes[kSubjectLength])));
        }
        return subjects;
    }

    int CountWaiting() override { return countFails ? -1 : static_cast<int>(waiting.size()); }

    StoreStatus PrepareWaiting(int index, WaitingMessage& out) override {
        if (prepareFails.count(index) != 0) {
            return StoreStatus::kBadRecord;
        }
        if (index < 0 || index >= static_cast<int>(waiting.size())) {
            return StoreStatus::kBadIndex;
        }
        out = waiting[static_cast<std::size_t>(index)];
        return StoreStatus::kOk;
    }

    StoreStatus FileSent(const PartSizes& sizes, std::string_view header, const std::vector<std::string>& bodyParts,
                         std::string_view) override {
        if (fileAnswer == StoreStatus::kOk) {
            sent.push_back({sizes, std::string(header), bodyParts});
        }
        return fileAnswer;
    }

    StoreStatus RemoveWaiting(std::string_view record) override {
        ++removeCalls;
        if (removeAnswer != StoreStatus::kOk) {
            return removeAnswer;
        }
        const auto found = std::find_if(waiting.begin(), waiting.end(),
                                        [&](const WaitingMessage& w) { return w.record == record; });
        if (found == waiting.end()) {
            return StoreStatus::kBadIndex;
        }
        waiting.erase(found);
        return StoreStatus::kOk;
    }
};

} // namespace tegalo::smtp_test
