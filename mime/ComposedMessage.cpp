#include "mime/ComposedMessage.h"

#include "mime/Outgoing.h"

namespace tegalo {

std::string ComposedRecipients(std::string_view to, std::string_view cc) {
    std::string recipients(to);
    if (!cc.empty()) {
        recipients.append(",\r\nCc: ").append(cc);
    }
    return recipients;
}

std::string ComposedHeaderBlock(std::string_view subject, std::string_view mailAccount,
                                std::string_view recipients, std::string_view date, bool multipart) {
    std::string block;
    block.append("Subject: ").append(EncodeHeaderValue(subject)).append(kCrLf);
    block.append("From: ").append(mailAccount).append(kCrLf);
    block.append("To: ").append(recipients).append(kCrLf);
    block.append("Date: ").append(EncodeHeaderValue(date)).append(kCrLf);
    block.append("MIME-Version: 1.0\r\n");
    if (multipart) {
        block.append("Content-Type: multipart/mixed;\r\n  boundary=\"").append(kBoundary).append("\"\r\n");
    } else {
        block.append("Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n");
    }
    block.append(kCrLf);
    return block;
}

PartSizes ComposedSizes(std::string_view subject, std::string_view mailAccount, std::string_view date,
                        std::string_view headerBlock) {
    PartSizes sizes{};
    sizes[kSubjectLength] = static_cast<int>(subject.size());
    sizes[kSenderLength] = static_cast<int>(mailAccount.size());
    sizes[kDateLength] = static_cast<int>(date.size());
    sizes[kHeaderLength] = static_cast<int>(headerBlock.size());
    return sizes;
}

std::string ComposedHeaderText(std::string_view subject, std::string_view mailAccount, std::string_view date,
                               std::string_view headerBlock) {
    std::string text;
    text.reserve(subject.size() + mailAccount.size() + date.size() + headerBlock.size());
    text.append(subject).append(mailAccount).append(date).append(headerBlock);
    return text;
}

std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue; // the LF that follows writes the line end
        }
        if (c == '\n' || c == '\r') {
            out.append(kCrLf);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace tegalo
