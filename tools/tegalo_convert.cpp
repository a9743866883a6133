// tegalo-convert: runs one of Tegalo's text conversions on standard input and
// writes the result to standard output. Handy for trying the conversions by
// hand and for scripts that compare them with other converters.
#include "text/header_words.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

namespace {

int Usage() {
    std::fputs("usage: tegalo-convert MODE < input > output\n"
               "modes: sjis-to-jis, jis-to-sjis, decode-header, encode-header,\n"
               "       utf8-to-sjis, sjis-to-utf8, qp-encode, qp-decode, base64-encode\n"
               "example: echo 'こんにちは' | tegalo-convert utf8-to-sjis | tegalo-convert sjis-to-jis\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return Usage();
    }
    std::ios::sync_with_stdio(false);
    const std::string in((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    const std::string mode = argv[1];
    std::string out;
    int status = 0;
    if (mode == "sjis-to-jis") {
        out = tegalo::SjisToJis(in);
    } else if (mode == "jis-to-sjis") {
        bool error = false;
        out = tegalo::JisToSjis(in, &error);
        if (error) {
            std::fputs("JIS code Error\n", stderr);
            status = 1;
        }
    } else if (mode == "decode-header") {
        out = tegalo::DecodeHeaderWords(in);
    } else if (mode == "encode-header") {
        out = tegalo::EncodeHeaderWords(in);
    } else if (mode == "utf8-to-sjis") {
        tegalo::SjisConversion c = tegalo::Utf8ToSjis(in);
        for (const std::string& ch : c.unmapped) {
            std::fprintf(stderr, "no Shift_JIS form: %s\n", ch.c_str());
            status = 1;
        }
        out = std::move(c.text);
    } else if (mode == "sjis-to-utf8") {
        out = tegalo::SjisToUtf8(in);
    } else if (mode == "qp-encode") {
        out = tegalo::EncodeQuotedPrintable(in);
    } else if (mode == "qp-decode") {
        out = tegalo::DecodeQuotedPrintable(in);
    } else if (mode == "base64-encode") {
        out = tegalo::EncodeBase64Lines(in);
    } else {
        return Usage();
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return status;
}
