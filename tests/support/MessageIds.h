// Outgoing messages carry a new Message-ID each time; tests that compare
// whole conversations mask its value.
#pragma once

#include <string>

namespace tegalo::smtp_test {

// The text with the value of every Message-ID line replaced by "<id>".
inline std::string WithMessageIdsMasked(std::string text) {
    for (std::size_t at = text.find("\r\nMessage-ID: <"); at != std::string::npos;
         at = text.find("\r\nMessage-ID: <", at + 1)) {
        const std::size_t start = at + 14;
        const std::size_t end = text.find(">\r\n", start);
        if (end == std::string::npos) {
            break;
        }
        text.replace(start, end + 1 - start, "<id>");
    }
    return text;
}

} // namespace tegalo::smtp_test
