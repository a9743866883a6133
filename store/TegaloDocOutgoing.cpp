// The document's attachment and outgoing-message operations.
#include "store/TegaloDoc.h"

#include "store/Attachments.h"
#include "store/FileIo.h"
#include "store/FolderFile.h"
#include "store/SentJournal.h"
#include "text/unicode.h"

#include <filesystem>
#include <unordered_set>

namespace tegalo {

using namespace tegalo::literals;

namespace {

// A waiting message that could not be loaded back: nothing but the reason.
PreparedSend NotPrepared(StoreStatus status) {
    return PreparedSend{status, {}, {}};
}

} // namespace

std::optional<StoredAttachment> CTegaloDoc::GetAttachment(int index, int j) const {
    const std::optional<std::string> record = GetRecord(index);
    if (!record || j < 1 || j > kMaxAttachments) {
        return std::nullopt;
    }
    const std::optional<RecordPieces> pieces = SplitRecord(*record);
    if (!pieces) {
        return std::nullopt;
    }
    const std::string_view part = pieces->attachments[static_cast<std::size_t>(j - 1)];
    return StoredAttachment{std::string(PartRecordContent(part)), std::string(PartRecordEncoding(part))};
}

std::optional<std::string> CTegaloDoc::SaveAttachment(int index, int j, std::string_view name) {
    const std::optional<StoredAttachment> attachment = GetAttachment(index, j);
    if (!attachment) {
        ui_.Message("添付ファイルがみつかりません"_sjis);
        return std::nullopt;
    }
    return CTempF(attachment->content, name, attachment->encoding);
}

std::optional<std::string> CTegaloDoc::CTempF(std::string_view content, std::string_view name,
                                              std::string_view encoding) {
    std::string error;
    const std::string dir = AttachmentDirectory(&error);
    std::string path;
    if (!dir.empty()) {
        path = WriteAttachmentCopy(dir, SafeAttachmentName(name), DecodeAttachment(content, encoding), &error);
    }
    if (path.empty()) {
        ui_.Trace("CTempF: " + error + "\n");
        ui_.Message("ファイルが開けません5 CTempF"_sjis);
        return std::nullopt;
    }
    return path;
}

std::optional<std::string> CTegaloDoc::SaveDecodedCopy(std::string_view bytes, std::string_view name) {
    std::string error;
    const std::string dir = AttachmentDirectory(&error);
    std::string path;
    if (!dir.empty()) {
        path = WriteAttachmentCopy(dir, SafeAttachmentName(name), bytes, &error);
    }
    if (path.empty()) {
        ui_.Trace("CTempF: " + error + "\n");
        ui_.Message("ファイルが開けません5 CTempF"_sjis);
        return std::nullopt;
    }
    return path;
}

PartError CTegaloDoc::CSbodyMsgA(BodyParts& bodyParts, std::string_view text, std::string_view path, int index,
                                 BodyPartMode mode, std::string_view encoding) {
    if (index < 0 || index > kMaxAttachments) {
        return PartError::cannotOpen;
    }
    if (bodyParts.size() < 5) {
        bodyParts.resize(5);
    }
    bodyParts[0] = std::to_string(index).substr(0, 1);
    BuiltPart built = BuildBodyPart(text, path, index, mode, encoding);
    if (built.error != PartError::none) {
        ui_.Message(built.message);
    }
    bodyParts[static_cast<std::size_t>(index) + 1] = std::move(built.part);
    return built.error;
}

StoreStatus CTegaloDoc::StoreComposedMessage(const BodyParts& bodyParts, PartSizes sizes, std::string_view header,
                                             std::string_view folderFile) {
    const ComposedRecord record = AssembleComposedRecord(bodyParts, sizes, header);
    if (const StoreStatus status = AddCount(folderFile, 1); status != StoreStatus::kOk) {
        return status;
    }
    return AddData(record.sizes, record.text, folderFile);
}

PreparedSend CTegaloDoc::PrepareSend(int index, std::string_view folder) {
    if (!Started()) {
        return NotPrepared(StoreStatus::kNotStarted);
    }
    if (FolderFromName(folder) != kWaiting) {
        ui_.Message("ファイル名の指定が違います"_sjis);
        return NotPrepared(StoreStatus::kInvalidArgument);
    }
    RecordList aside;
    const RecordList* waiting = &recordList;
    if (currentFolder != kWaiting) {
        if (const StoreStatus status = ReadFolder(kWaiting, aside, Routine::kLoadList); !Loaded(status)) {
            return NotPrepared(status);
        }
        waiting = &aside;
    }
    if (index < 0 || index >= waiting->Count()) {
        return NotPrepared(StoreStatus::kBadIndex);
    }
    return PrepareWaitingRecord((*waiting)[static_cast<std::size_t>(index)]);
}

PreparedSend CTegaloDoc::PrepareWaitingRecord(std::string_view record) {
    if (!Started()) {
        return NotPrepared(StoreStatus::kNotStarted);
    }
    const std::optional<RecordPieces> pieces = SplitRecord(record);
    const std::optional<PartSizes> sizes = ParseSizeBlock(record);
    if (!pieces || !sizes) {
        return NotPrepared(StoreStatus::kBadRecord);
    }
    const int attachments = (*sizes)[kPartCount] != 0 ? std::min((*sizes)[kPartCount] - 1, kMaxAttachments) : 0;
    Envelope envelope = SetRecipients(pieces->subject, pieces->date, RecipientTextFromHeader(pieces->header));
    if (envelope.status != StoreStatus::kOk) {
        return NotPrepared(envelope.status);
    }
    PreparedSend prepared{StoreStatus::kOk, {}, NewBodyParts()};
    BodyParts& parts = prepared.bodyParts;
    if (attachments == 0) {
        static_cast<void>(CSbodyMsgA(parts, pieces->body, "", 0, plainText));
    } else {
        // The stored text keeps the line end that building the text part
        // added after it; it is added again here, so take it off first,
        // or the text would grow by an empty line each time it is loaded.
        std::string_view text = PartRecordContent(pieces->body);
        if (text.ends_with(kCrLf)) {
            text.remove_suffix(kCrLf.size());
        }
        static_cast<void>(CSbodyMsgA(parts, text, "", 0, textPart));
    }
    for (int j = 1; j <= attachments; ++j) {
        const std::string_view part = pieces->attachments[static_cast<std::size_t>(j - 1)];
        static_cast<void>(CSbodyMsgA(parts, PartRecordContent(part), PartRecordName(part), j, encodedContent,
                                     PartRecordEncoding(part)));
    }
    prepared.sendEnvelope = std::move(envelope.sendEnvelope);
    return prepared;
}

StoreStatus CTegaloDoc::NoteSent(std::string_view record) {
    if (!Started()) {
        return StoreStatus::kNotStarted;
    }
    if (const int error = NoteSentRecord(baseDir, record); error != 0) {
        FileMessage(Routine::kDelFileData, kSentJournalFileName, error);
        return StoreStatus::kCannotWrite;
    }
    return StoreStatus::kOk;
}

StoreStatus CTegaloDoc::FileSentCopy(const BodyParts& bodyParts, PartSizes sizes, std::string_view header,
                                     std::string_view waitingRecord) {
    if (waitingRecord.empty()) {
        return StoreComposedMessage(bodyParts, sizes, header, "sent");
    }
    const ComposedRecord record = AssembleComposedRecord(bodyParts, sizes, header);
    return FileNotedCopy(record.sizes, record.text, waitingRecord);
}

StoreStatus CTegaloDoc::FileNotedCopy(const PartSizes& sizes, std::string_view text, std::string_view waitingRecord) {
    if (!Started()) {
        return StoreStatus::kNotStarted;
    }
    if (const StoreStatus status = FinishUnfinished(); status != StoreStatus::kOk) {
        return status;
    }
    if (const int error = StageSentFiled(baseDir, waitingRecord); error != 0) {
        FileMessage(Routine::kAddData, kSentJournalFileName, error);
        return StoreStatus::kCannotWrite;
    }
    // The copy and its "filed" line reach the disk together: a crash leaves
    // neither (the next start files the copy) or both (it does not again).
    BeginBatch("sent");
    StoreStatus status = AddCount("sent", 1);
    if (status == StoreStatus::kOk) {
        status = AddData(sizes, text, "sent");
    }
    if (status == StoreStatus::kOk) {
        return CommitBatch(kSentJournalFileName);
    }
    static_cast<void>(CommitBatch()); // nothing was appended: only ends the batch
    static_cast<void>(RemoveFile(baseDir + std::string(kSentJournalFileName) + std::string(kPendingSuffix)));
    return status;
}

StoreStatus CTegaloDoc::RemoveNoted() {
    if (!Started()) {
        return StoreStatus::kNotStarted;
    }
    SentJournal journal;
    if (const int error = ReadSentJournal(baseDir, journal); error != 0) {
        FileMessage(Routine::kDelFileData, kSentJournalFileName, error);
        return StoreStatus::kCannotOpen;
    }
    if (journal.sent.empty() && !std::filesystem::exists(baseDir + std::string(kSentJournalFileName))) {
        return StoreStatus::kOk;
    }
    if (const StoreStatus status = FinishUnfinished(); status != StoreStatus::kOk) {
        return status;
    }
    RecordList aside;
    RecordList* waiting = &recordList;
    if (currentFolder != kWaiting) {
        if (const StoreStatus status = ReadFolder(kWaiting, aside, Routine::kDelFileData); !Loaded(status)) {
            return status;
        }
        waiting = &aside;
    }
    std::unordered_multiset<std::string> noted(journal.sent.begin(), journal.sent.end());
    std::unordered_multiset<std::string> filed(journal.filed.begin(), journal.filed.end());
    std::vector<std::size_t> removed;
    for (std::size_t i = 0; i < waiting->size() && !noted.empty(); ++i) {
        const std::string key = SentKey((*waiting)[i]);
        const auto at = noted.find(key);
        if (at == noted.end()) {
            continue;
        }
        noted.erase(at);
        removed.push_back(i);
        if (const auto copy = filed.find(key); copy != filed.end()) {
            filed.erase(copy);
            continue;
        }
        // It went out, but a crash or a failure kept its copy from the sent
        // folder: the waiting record is filed there as it is.
        const std::string record((*waiting)[i]);
        const std::optional<PartSizes> sizes = ParseSizeBlock(record);
        if (!sizes) {
            return StoreStatus::kBadRecord;
        }
        if (const StoreStatus status = FileNotedCopy(*sizes, std::string_view(record).substr(kSizeBlockLength), record);
            status != StoreStatus::kOk) {
            return status;
        }
    }
    if (!removed.empty()) {
        const FolderEdit edit{FolderEdit::Kind::kRemoveSome, 0, {}, true, removed};
        if (const StoreStatus status = Rewrite(*waiting, edit, Routine::kDelFileData); status != StoreStatus::kOk) {
            return status;
        }
    }
    if (const int error = RemoveSentJournal(baseDir); error != 0) {
        FileMessage(Routine::kDelFileData, kSentJournalFileName, error);
        return StoreStatus::kCannotWrite;
    }
    return StoreStatus::kOk;
}

} // namespace tegalo
