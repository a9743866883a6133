// Cuts what an SMTP server sends into replies (RFC 5321 4.2), whatever the
// sizes of the arrivals: a reply is one or more lines, every line but the
// last "NNN-text", the last "NNN text" or "NNN" alone. Pure: bytes in,
// replies out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

struct SmtpReply {
    // The code of the last line; 0 when that line does not start with three
    // digits followed by a blank, a hyphen or its end.
    int code = 0;
    // The lines, without their line ends.
    std::vector<std::string> lines;

    // The lines joined by a blank, for a status text.
    std::string Text() const;
};

class SmtpReader {
public:
    // Longest reply taken. RFC 5321 allows 512 bytes a line; a server that
    // sends this much without ending its reply is not answering.
    static constexpr std::size_t kMaxReply = 64 * 1024;

    enum class Result {
        NeedMore, // the reply is not complete yet; feed more bytes
        Complete, // the reply was taken
        TooLong,  // more than kMaxReply bytes without an end: the reply cannot be read
    };

    // Adds bytes as they arrived. Nothing is interpreted until TakeReply.
    void Feed(std::string_view bytes);

    // Takes the next whole reply. A line ends at LF; a CR before it is not
    // part of the line. Bytes after the reply stay for the next call.
    Result TakeReply(SmtpReply& reply);

    // Forgets every byte and any reply begun.
    void Clear();

    // Bytes fed and not yet taken.
    std::size_t Pending() const { return recvData.size(); }

    // Every byte fed since the reader was made, counted across Clear: the
    // place in the server's stream where the next arrival will begin.
    std::uint64_t Fed() const { return fed_; }
    // Where in that stream the reply last taken began.
    std::uint64_t LastReplyStart() const { return lastReplyStart_; }

private:
    std::string recvData;       // bytes fed and not taken; the reply being read starts at 0
    std::size_t lineStart_ = 0; // where the line being read starts
    std::size_t searchedTo_ = 0; // no LF stands before this offset in recvData
    std::vector<std::string> lines_; // the lines of the reply so far
    std::uint64_t fed_ = 0;            // bytes fed in all
    std::uint64_t dropped_ = 0;        // bytes taken or cleared in all: recvData starts here
    std::uint64_t lastReplyStart_ = 0;
};

// The code of one reply line as SmtpReply::code defines it.
int SmtpReplyCode(std::string_view line);

} // namespace tegalo
