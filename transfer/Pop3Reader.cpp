#include "transfer/Pop3Reader.h"

#include "store/Record.h"

#include <algorithm>
#include <cstring>

namespace tegalo {

void Pop3Reader::Feed(std::string_view bytes) {
    recvData.append(bytes);
}

void Pop3Reader::Compact() {
    if (consumed_ == recvData.size()) {
        recvData.clear();
        consumed_ = 0;
        searchedTo_ = 0;
    } else if (consumed_ > 64 * 1024 && consumed_ > recvData.size() / 2) {
        recvData.erase(0, consumed_);
        searchedTo_ -= std::min(searchedTo_, consumed_);
        consumed_ = 0;
    }
}

Pop3Reader::Result Pop3Reader::TakeLine(std::string& line) {
    const std::size_t from = std::max(consumed_, searchedTo_);
    const std::size_t end = recvData.find(kCrLf, from);
    if (end == std::string::npos) {
        // A CR at the very end may be the first half of the line end.
        searchedTo_ = recvData.empty() ? 0 : recvData.size() - 1;
        if (recvData.size() - consumed_ > kMaxStatusLine) {
            return Result::TooLong;
        }
        return Result::NeedMore;
    }
    if (end - consumed_ > kMaxStatusLine) {
        return Result::TooLong;
    }
    line.assign(recvData, consumed_, end - consumed_);
    consumed_ = end + 2;
    searchedTo_ = consumed_;
    Compact();
    return Result::Complete;
}

void Pop3Reader::Emit(std::string_view bytes) {
    if (blockTruncated_) {
        return;
    }
    if (block_.size() + bytes.size() > blockLimit_) {
        block_.append(bytes.substr(0, blockLimit_ - block_.size()));
        blockTruncated_ = true;
        return;
    }
    block_.append(bytes);
}

Pop3Reader::Result Pop3Reader::TakeBlock(std::string& block, bool* truncated) {
    const char* const data = recvData.data();
    std::size_t i = consumed_;
    const std::size_t n = recvData.size();
    bool complete = false;
    while (i < n && !complete) {
        const char c = data[i];
        switch (lineState_) {
        case LineState::Start:
            if (c == '.') {
                lineState_ = LineState::Dot; // held back: a stuffed dot or the end
                ++i;
            } else {
                lineState_ = LineState::Inside;
            }
            break;
        case LineState::Dot:
            if (c == '\r') {
                lineState_ = LineState::DotCr;
                ++i;
            } else {
                lineState_ = LineState::Inside; // the first dot of a line is dropped
            }
            break;
        case LineState::DotCr:
            if (c == '\n') {
                complete = true;
                ++i;
            } else {
                Emit("\r");
                lineState_ = LineState::InsideCr;
            }
            break;
        case LineState::Inside: {
            // Copy up to the next CR in one piece.
            const void* cr = std::memchr(data + i, '\r', n - i);
            const std::size_t stop = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : n;
            Emit(std::string_view(data + i, stop - i));
            i = stop;
            if (i < n) {
                Emit("\r");
                ++i;
                lineState_ = LineState::InsideCr;
            }
            break;
        }
        case LineState::InsideCr:
            if (c == '\n') {
                Emit("\n");
                ++i;
                lineState_ = LineState::Start;
            } else {
                lineState_ = LineState::Inside;
            }
            break;
        }
    }
    consumed_ = i;
    searchedTo_ = std::max(searchedTo_, consumed_);
    Compact();
    if (!complete) {
        return Result::NeedMore;
    }
    // The CR LF before the terminating line ends the data, it is not part of it.
    if (!blockTruncated_ && block_.size() >= 2 && block_.compare(block_.size() - 2, 2, kCrLf) == 0) {
        block_.resize(block_.size() - 2);
    }
    block.swap(block_);
    block_.clear();
    if (truncated) {
        *truncated = blockTruncated_;
    }
    blockTruncated_ = false;
    lineState_ = LineState::Start;
    return Result::Complete;
}

void Pop3Reader::Clear() {
    recvData.clear();
    consumed_ = 0;
    searchedTo_ = 0;
    block_.clear();
    blockTruncated_ = false;
    lineState_ = LineState::Start;
}

} // namespace tegalo
