// Cuts what a POP3 server sends into replies (RFC 1939), whatever the sizes of
// the arrivals: a status line ends at CR LF, a multi-line reply at a line
// holding a single ".". Pure: bytes in, replies out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tegalo {

class Pop3Reader {
public:
    // Longest status line taken; RFC 2449 allows 512 bytes, servers send less.
    static constexpr std::size_t kMaxStatusLine = 64 * 1024;

    enum class Result {
        NeedMore, // the reply is not complete yet; feed more bytes
        Complete, // the reply was taken
        TooLong,  // a status line longer than kMaxStatusLine: the reply cannot be read
    };

    // `blockLimit` caps what TakeBlock keeps of one multi-line reply.
    explicit Pop3Reader(std::size_t blockLimit = 16 * 1024 * 1024) : blockLimit_(blockLimit) {}

    // Adds bytes as they arrived. Nothing is interpreted until a Take call.
    void Feed(std::string_view bytes);

    // Takes one status line, without its CR LF.
    Result TakeLine(std::string& line);

    // Takes the data of a multi-line reply whose status line was already
    // taken: dot-unstuffed, without the terminating "." line and without the
    // CR LF that ends the last data line (an empty reply gives ""). Partial
    // data is kept inside between calls, so the caller just calls again after
    // the next Feed. When the data exceeds the block limit the rest is read
    // and dropped, and *truncated is set.
    Result TakeBlock(std::string& block, bool* truncated = nullptr);

    // Forgets every byte and any reply begun.
    void Clear();

    // Bytes fed and not yet taken.
    std::size_t Pending() const { return recvData.size() - consumed_; }

private:
    enum class LineState { Start, Dot, DotCr, Inside, InsideCr };

    void Emit(std::string_view bytes);
    void Compact();

    std::string recvData;        // bytes fed; those before consumed_ are taken
    std::size_t consumed_ = 0;
    std::size_t searchedTo_ = 0; // no CR LF starts before this offset in recvData
    std::size_t blockLimit_;
    std::string block_;          // the multi-line data collected so far
    bool blockTruncated_ = false;
    LineState lineState_ = LineState::Start;
};

} // namespace tegalo
