// Saves a message into the waiting folder the way the compose dialog does:
// parts built with CSbodyMsgA (attachments read from files), the header
// block of the waiting folder, StoreComposedMessage into "reserv".
#pragma once

#include "mime/Outgoing.h"
#include "store/TegaloDoc.h"

#include <string>
#include <vector>

namespace tegalo::smtp_test {

struct Draft {
    std::string subject;                  // Shift_JIS
    std::string to;                       // Shift_JIS, as typed
    std::string cc;                       // empty when there is none
    std::string text;                     // Shift_JIS, CR LF line ends
    std::vector<std::string> attachments; // file paths (UTF-8), at most three
};

inline constexpr const char* kComposeDate = "Mon, Dec 07, 2026";

inline StoreStatus SaveWaiting(CTegaloDoc& doc, const std::string& mailAccount, const Draft& draft) {
    BodyParts parts = NewBodyParts();
    const int count = static_cast<int>(draft.attachments.size());
    if (doc.CSbodyMsgA(parts, draft.text, "", 0, count == 0 ? plainText : textPart) != PartError::none) {
        return StoreStatus::kInvalidArgument;
    }
    for (int i = 0; i < count; ++i) {
        const std::string& path = draft.attachments[static_cast<std::size_t>(i)];
        if (doc.CSbodyMsgA(parts, "", path, i + 1, IsHtmlPath(path) ? htmlFile : base64File) != PartError::none) {
            return StoreStatus::kCannotOpen;
        }
    }
    const std::string to = draft.cc.empty() ? draft.to : draft.to + ",\r\nCc: " + draft.cc;
    std::string header = "Subject: " + EncodeHeaderValue(draft.subject) + "\r\nFrom: " + mailAccount + "\r\nTo: " +
                         to + "\r\nDate: " + kComposeDate + "\r\nMIME-Version: 1.0\r\n";
    header += count == 0 ? "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n"
                         : "Content-Type: multipart/mixed;\r\n  boundary=\"" + std::string(kBoundary) + "\"\r\n";
    header += "\r\n";
    PartSizes sizes{};
    sizes[kSubjectLength] = static_cast<int>(draft.subject.size());
    sizes[kSenderLength] = static_cast<int>(mailAccount.size());
    sizes[kDateLength] = static_cast<int>(std::string_view(kComposeDate).size());
    sizes[kHeaderLength] = static_cast<int>(header.size());
    return doc.StoreComposedMessage(parts, sizes, draft.subject + mailAccount + kComposeDate + header, "reserv");
}

} // namespace tegalo::smtp_test
