// Slow, literal transcriptions of the conversion algorithms as first written
// down for Tegalo: each run or encoded word is found by searching the whole
// text from its start, and the text is rebuilt after each one. The library's
// single-pass versions must give the same bytes on every input.
#pragma once

#include "text/header_words.h"
#include "text/jis.h"

#include <string>

namespace tegalo::reference {

inline std::string SjisToJis(std::string text) {
    std::size_t i = 0;
    while (i + 1 < text.size()) { // the walk stops at the last byte
        if (!IsSjisLead(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        std::string run = "\x1b$B";
        do {
            const unsigned pair = (static_cast<unsigned char>(text[i]) << 8) | static_cast<unsigned char>(text[i + 1]);
            const unsigned jis = SjisCharToJis(pair);
            if (jis != 0) {
                run.push_back(static_cast<char>(jis >> 8));
                run.push_back(static_cast<char>(jis & 0xFF));
            }
            i += 2;
        } while (i + 1 < text.size() && IsSjisLead(static_cast<unsigned char>(text[i])));
        run += "\x1b(B";
        text = text.substr(0, start) + run + text.substr(i);
        i = start + run.size();
    }
    return text;
}

inline std::string JisToSjis(std::string text, bool* error) {
    *error = false;
    for (;;) {
        const std::size_t open = text.find("\x1b$B");
        if (open == std::string::npos) {
            return text;
        }
        const std::size_t close = text.find("\x1b(B");
        if (close == std::string::npos || close < open) {
            *error = true;
            return text;
        }
        std::string converted;
        for (std::size_t i = open + 3; i + 1 < close; i += 2) {
            const unsigned pair = (static_cast<unsigned char>(text[i]) << 8) | static_cast<unsigned char>(text[i + 1]);
            const unsigned sjis = JisCharToSjis(pair);
            if (sjis == 0) {
                break;
            }
            converted.push_back(static_cast<char>(sjis >> 8));
            converted.push_back(static_cast<char>(sjis & 0xFF));
        }
        text = text.substr(0, open) + converted + text.substr(close + 3);
    }
}

inline std::string DecodeHeaderWords(std::string text) {
    for (;;) {
        std::size_t p = text.find("=?iso-2022-jp?B?");
        if (p == std::string::npos) {
            p = text.find("=?ISO-2022-JP?B?");
        }
        if (p == std::string::npos) {
            return text;
        }
        const std::size_t e = text.find("?=", p + 16);
        if (e == std::string::npos) {
            return text;
        }
        const std::string encoded = text.substr(p + 16, e - p - 16);
        std::string decoded;
        for (std::size_t i = 0; i + 4 <= encoded.size(); i += 4) {
            const int w = Base64Value(static_cast<unsigned char>(encoded[i]));
            const int x = Base64Value(static_cast<unsigned char>(encoded[i + 1]));
            const int y = Base64Value(static_cast<unsigned char>(encoded[i + 2]));
            const int z = Base64Value(static_cast<unsigned char>(encoded[i + 3]));
            decoded.push_back(static_cast<char>((w * 4 + x / 16) % 256));
            decoded.push_back(static_cast<char>(((x % 16) * 16 + y / 4) % 256));
            decoded.push_back(static_cast<char>(((y % 4) * 64 + z) % 256));
        }
        decoded = decoded.substr(0, decoded.find('\0'));
        text = text.substr(0, p) + decoded + text.substr(e + 2);
    }
}

} // namespace tegalo::reference
