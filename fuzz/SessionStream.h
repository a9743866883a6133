// How the session targets read their input: option bytes first, then the
// server's stream as pieces, each a length byte and that many bytes. A
// length of 255 stands for a silent minute instead (60 ticks), 254 for the
// server closing the connection. Whatever is left when the input ends is
// followed by the server closing the connection.
#pragma once

#include "fuzz/FuzzSupport.h"

#include <string>
#include <string_view>
#include <vector>

namespace tegalo::fuzz {

// Checks what a session gives the adapter after one event and collects the
// commands it sent, one per line without the CR LF.
struct CommandLog {
    std::vector<std::string> commands;
    std::string partial; // message text of the send session, in pieces
    int quits = 0;

    // `out` is a Pop3Output or SmtpOutput.
    template <typename Output>
    void Take(const Output& out, std::size_t maxSend) {
        FUZZ_CHECK(out.send.size() <= maxSend);
        FUZZ_CHECK(out.statusTexts.size() <= 8);
        for (const std::string& text : out.statusTexts) {
            FUZZ_CHECK(text.size() <= 400);
        }
        FUZZ_CHECK(out.notices.size() <= 16);
        for (const std::string& text : out.notices) {
            FUZZ_CHECK(text.size() <= 2000);
        }
        std::string_view sent = out.send;
        while (!sent.empty()) {
            // Nothing goes out after QUIT.
            FUZZ_CHECK(quits == 0);
            const std::size_t end = sent.find("\r\n");
            FUZZ_CHECK(end != std::string_view::npos);
            const std::string line(sent.substr(0, end));
            FUZZ_CHECK(line.find('\r') == std::string::npos && line.find('\n') == std::string::npos);
            commands.push_back(line);
            if (line == "QUIT") {
                ++quits;
            }
            sent.remove_prefix(end + 2);
        }
    }
};

enum class StreamEvent { kBytes, kSilentMinute, kClose };

struct StreamPiece {
    StreamEvent event;
    std::string_view bytes;
};

inline std::vector<StreamPiece> ServerStream(Input& input) {
    std::vector<StreamPiece> pieces;
    while (!input.empty()) {
        const unsigned length = input.Byte();
        if (length == 255) {
            pieces.push_back({StreamEvent::kSilentMinute, {}});
        } else if (length == 254) {
            pieces.push_back({StreamEvent::kClose, {}});
        } else {
            pieces.push_back({StreamEvent::kBytes, input.Take(length)});
        }
    }
    pieces.push_back({StreamEvent::kClose, {}});
    return pieces;
}

} // namespace tegalo::fuzz
