#include "transfer/SmtpReader.h"

#include <algorithm>

namespace tegalo {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A line that another line of the same reply follows: "NNN-...".
bool ContinuesReply(std::string_view line) {
    return line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) && line[3] == '-';
}

} // namespace

int SmtpReplyCode(std::string_view line) {
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) {
        return 0;
    }
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-') {
        return 0;
    }
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

std::string SmtpReply::Text() const {
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty()) {
            text += ' ';
        }
        text += line;
    }
    return text;
}

void SmtpReader::Feed(std::string_view bytes) {
    recvData.append(bytes);
    fed_ += bytes.size();
}

SmtpReader::Result SmtpReader::TakeReply(SmtpReply& reply) {
    for (;;) {
        const std::size_t lf = recvData.find('\n', std::max(lineStart_, searchedTo_));
        if (lf == std::string::npos) {
            searchedTo_ = recvData.size();
            return recvData.size() > kMaxReply ? Result::TooLong : Result::NeedMore;
        }
        if (lf > kMaxReply) {
            return Result::TooLong;
        }
        std::string_view line(recvData.data() + lineStart_, lf - lineStart_);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines_.emplace_back(line);
        lineStart_ = lf + 1;
        if (!ContinuesReply(line)) {
            reply.code = SmtpReplyCode(line);
            reply.lines = std::move(lines_);
            lines_.clear();
            lastReplyStart_ = dropped_;
            dropped_ += lineStart_;
            recvData.erase(0, lineStart_);
            lineStart_ = 0;
            searchedTo_ = 0;
            return Result::Complete;
        }
    }
}

void SmtpReader::Clear() {
    dropped_ += recvData.size();
    recvData.clear();
    lineStart_ = 0;
    searchedTo_ = 0;
    lines_.clear();
}

} // namespace tegalo
