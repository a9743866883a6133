#include "mime/Outgoing.h"

#include "mime/WireEncode.h"
#include "mime/WireMessage.h"

#include "text/header_words.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tegalo {

using namespace tegalo::literals;

namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::size_t kChunk = 57;

enum class ReadStatus { ok, cannotOpen, cannotRead };

// Reads a file in blocks whose sizes are multiples of 57 bytes (all but the
// last), handing each to `take`.
template <typename Take>
ReadStatus ReadFileBlocks(const std::string& path, Take take) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return ReadStatus::cannotOpen;
    }
    std::string block(kChunk * 1024, '\0');
    std::size_t filled = 0;
    for (;;) {
        const ssize_t n = ::read(fd, block.data() + filled, block.size() - filled);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return ReadStatus::cannotRead;
        }
        filled += static_cast<std::size_t>(n);
        if (n == 0 || filled == block.size()) {
            take(std::string_view(block.data(), filled));
            if (n == 0) {
                break;
            }
            filled = 0;
        }
    }
    ::close(fd);
    return ReadStatus::ok;
}

std::size_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
}

// The content of an HTML file as the part takes it: read in chunks of 57
// bytes, each chunk ending at its first NUL byte.
std::string HtmlText(std::string_view data) {
    std::string text;
    text.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); i += kChunk) {
        const std::string_view chunk = data.substr(i, kChunk);
        text.append(chunk.substr(0, chunk.find('\0')));
    }
    return text;
}

// True when `jis` holds a double quote outside its ESC $ B ... ESC ( B runs.
bool QuoteOutsideRuns(std::string_view jis) {
    bool inRun = false;
    for (std::size_t i = 0; i < jis.size(); ++i) {
        if (jis.substr(i, 3) == "\x1b$B") {
            inRun = true;
            i += 2;
        } else if (jis.substr(i, 3) == "\x1b(B") {
            inRun = false;
            i += 2;
        } else if (jis[i] == '"' && !inRun) {
            return true;
        }
    }
    return false;
}

std::string_view After(std::string_view text, std::string_view marker) {
    const std::size_t pos = text.find(marker);
    return pos == std::string_view::npos ? std::string_view() : text.substr(pos + marker.size());
}

std::string_view UpToLineEnd(std::string_view text) {
    return text.substr(0, text.find(kCrLf));
}

} // namespace

std::string_view PathExtension(std::string_view path) {
    const std::size_t dot = path.find('.');
    return dot == std::string_view::npos ? std::string_view() : path.substr(dot);
}

std::string_view AttachmentContentType(std::string_view path) {
    const std::string_view ext = PathExtension(path);
    if (ext == ".rmi" || ext == ".mid" || ext == ".wav") {
        return "audio/basic;";
    }
    if (ext == ".gif" || ext == ".bmp" || ext == ".jpg") {
        return "image/basic;";
    }
    if (ext == ".txt") {
        return "text/plain; charset=ISO-2022-JP";
    }
    if (ext == ".html") {
        return "text/html; charset=ISO-2022-JP";
    }
    return "application/octet-stream;";
}

bool IsHtmlPath(std::string_view path) {
    const std::string_view ext = PathExtension(path);
    return ext == ".html" || ext == ".htm";
}

std::string_view PathBaseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string HeaderValueProblem(std::string_view value, std::string_view what, bool quoted) {
    for (char c : value) {
        if (c == '\r' || c == '\n' || c == '\0') {
            return std::string(what) + "に改行や制御文字は使えません"_sjis;
        }
        if (quoted && c == '"') {
            return std::string(what) + "に \" は使えません"_sjis;
        }
    }
    return {};
}

BuiltPart BuildBodyPart(std::string_view text, std::string_view path, int index, BodyPartMode mode,
                        std::string_view encoding) {
    BuiltPart result;
    std::string& part = result.part;
    if (index == 0) {
        if (mode == plainText) {
            part.assign(text);
        } else {
            part.append(kDelimiterLine);
            part.append("Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n");
            part.append(text);
            part.append(kCrLf);
        }
        return result;
    }

    const bool html = IsHtmlPath(path);
    // The name goes into the part header in Shift_JIS: a file's path is in
    // the file system's encoding, a supplied attachment's name already is.
    // A supplied attachment's stored name has no directory, and its
    // ISO-2022-JP bytes may hold a "/" that is half of a character.
    std::string name(mode == encodedContent ? path : PathBaseName(path));
    if (mode != encodedContent) {
        SjisConversion converted = Utf8ToSjis(name);
        if (!converted.Complete()) {
            result.error = PartError::badName;
            result.message = "ファイル名に送れない文字があります: "_sjis + name;
            result.part.clear();
            return result;
        }
        name = std::move(converted.text);
    }
    // The name goes into the part header as ISO-2022-JP between double
    // quotes. A line break would end the header line, and a double quote
    // outside a double-byte run would end the name early; inside a run it is
    // half of a character.
    // A name with characters ISO-2022-JP lacks stays Shift_JIS, whole.
    const std::string jisName = FitsIso2022Jp(name) ? SjisToJis(name) : name;
    if (!html) {
        std::string problem = HeaderValueProblem(jisName, "ファイル名"_sjis);
        if (problem.empty() && QuoteOutsideRuns(jisName)) {
            problem = HeaderValueProblem(jisName, "ファイル名"_sjis, true);
        }
        if (!problem.empty()) {
            result.error = PartError::badName;
            result.message = std::move(problem);
            return result;
        }
    }

    // Supplied content keeps the label it was stored under (the part record
    // cuts "quoted-printable" to nine characters).
    std::string transferEncoding(html ? "quoted-printable" : "base64");
    if (mode == encodedContent && !encoding.empty() && HeaderValueProblem(encoding, {}).empty()) {
        transferEncoding = encoding == "quoted-pr" ? "quoted-printable" : std::string(encoding);
    }
    part.append(kDelimiterLine);
    if (html) {
        part.append("Content-Type: text/html; charset=ISO-2022-JP\r\n"
                    "Content-Transfer-Encoding: ").append(transferEncoding).append("\r\n\r\n");
    } else {
        part.append("Content-Type: ");
        part.append(AttachmentContentType(path));
        part.append("\r\n         name=\"");
        part.append(jisName);
        part.append("\"\r\nContent-Transfer-Encoding: ").append(transferEncoding).append("\r\n\r\n");
    }

    if (mode == encodedContent) {
        part.append(text);
        part.append(kDelimiterLine);
        return result;
    }

    const std::string filePath(path);
    std::string data; // the whole file, for HTML
    const std::size_t size = FileSize(filePath);
    if (mode == htmlFile) {
        data.reserve(size);
    } else {
        part.reserve(part.size() + size / kChunk * 78 + 80 + kDelimiterLine.size());
    }
    const ReadStatus status = ReadFileBlocks(filePath, [&](std::string_view block) {
        if (mode == htmlFile) {
            data.append(block);
        } else {
            AppendBase64Lines(part, block);
        }
    });
    switch (status) {
    case ReadStatus::ok:
        break;
    case ReadStatus::cannotOpen:
        result = BuiltPart{{}, PartError::cannotOpen, "ファイルが開けません7 CSbodyMsgA"_sjis};
        return result;
    case ReadStatus::cannotRead:
        result = BuiltPart{{}, PartError::cannotRead, "ファイルが開けません CSbodyMsgA"_sjis};
        return result;
    }

    if (mode == htmlFile) {
        const std::string encoded = EncodeQuotedPrintable(SjisToJis(HtmlText(data)));
        part.append(encoded);
        // The delimiter must start a line even when the file has no final line end.
        if (!encoded.empty() && !encoded.ends_with(kCrLf)) {
            part.append(kCrLf);
        }
    }
    part.append(kDelimiterLine);
    return result;
}

BodyParts NewBodyParts() {
    BodyParts parts(10);
    parts.emplace_back("0");
    return parts;
}

ComposedRecord AssembleComposedRecord(const BodyParts& bodyParts, PartSizes sizes,
                                      std::string_view header) {
    ComposedRecord record;
    const std::string_view count = bodyParts.empty() ? std::string_view() : std::string_view(bodyParts[0]);
    const int attachments = count.empty() ? 0 : std::atoi(std::string(count).c_str());
    const auto element = [&](std::size_t i) -> std::string_view {
        return i < bodyParts.size() ? std::string_view(bodyParts[i]) : std::string_view();
    };
    record.text.assign(header);
    sizes[kPartCount] = attachments + 1;
    sizes[kReadMark] = 0;
    if (attachments <= 0) {
        sizes[kPartCount] = 0;
        sizes[kBodyLength] = static_cast<int>(element(1).size());
        record.text.append(element(1));
    } else {
        const std::string_view textContent = After(element(1), kBlankLine);
        sizes[kBodyLength] = static_cast<int>(textContent.size() + kPartHeaderSize);
        record.text.append(PartHeader("Content-Transfer-Encoding: ", ""));
        record.text.append(textContent);
        for (int i = 1; i <= attachments && i <= kMaxAttachments; ++i) {
            const std::string_view part = element(static_cast<std::size_t>(i) + 1);
            const std::string_view encoding = UpToLineEnd(After(part, "Content-Transfer-Encoding: "));
            std::string name;
            if (part.find("name=") == std::string_view::npos) {
                name = SjisLiteral(kUnnamedPartUtf8);
            } else {
                std::string_view value = UpToLineEnd(After(part, "name="));
                const std::size_t q1 = value.find('"');
                if (q1 != std::string_view::npos) {
                    const std::size_t q2 = value.find('"', q1 + 1);
                    value = value.substr(q1 + 1, q2 == std::string_view::npos ? std::string_view::npos : q2 - q1 - 1);
                }
                name.assign(value);
            }
            const std::string_view content = After(part, kBlankLine);
            sizes[kBodyLength + static_cast<std::size_t>(i)] = static_cast<int>(content.size() + kPartHeaderSize);
            record.text.append(PartHeader(name, encoding));
            record.text.append(content);
        }
    }
    sizes[kRecordLength] = RecordLengthEntry(sizes);
    record.sizes = sizes;
    return record;
}

std::string RecipientTextFromHeader(std::string_view header) {
    std::size_t pos = 0;
    while (pos < header.size()) {
        const std::size_t eol = header.find(kCrLf, pos);
        const std::string_view line = header.substr(pos, eol == std::string_view::npos ? std::string_view::npos : eol - pos);
        if (line.substr(0, 4) == "To: ") {
            std::string recipients(line.substr(4));
            if (eol != std::string_view::npos) {
                const std::size_t next = eol + 2;
                const std::size_t nextEol = header.find(kCrLf, next);
                const std::string_view nextLine = header.substr(next, nextEol == std::string_view::npos ? std::string_view::npos : nextEol - next);
                if (nextLine.substr(0, 4) == "Cc: ") {
                    recipients.append(kCrLf);
                    recipients.append(nextLine);
                }
            }
            return recipients;
        }
        if (eol == std::string_view::npos) {
            break;
        }
        pos = eol + 2;
    }
    return {};
}

std::string EncodeHeaderValue(std::string_view sjis) {
    return EncodeHeaderWords(SjisToJis(sjis));
}

WireMessage BuildWireMessage(const BodyParts& bodyParts, std::string_view subject,
                             std::string_view recipients, std::string_view displayName,
                             std::string_view mailAccount, std::string_view wireDate, std::string_view messageId) {
    WireText wire = BuildWireText({&bodyParts, kBoundary, subject, recipients, displayName, mailAccount, wireDate,
                                   messageId});
    return {std::move(wire.header), std::move(wire.body)};
}

} // namespace tegalo
