// Attachments: a base64 attachment decodes to the bytes that were encoded,
// its lines ending in a blank or not; a part header holds any name in its 98
// bytes, whole when it fits; any name from a message becomes one safe file
// name.
#include "fuzz/FuzzSupport.h"
#include "mime/RecordLayout.h"
#include "store/Attachments.h"
#include "text/transfer_encoding.h"

#include <string>

using namespace tegalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string lines = EncodeBase64Lines(bytes);
    FUZZ_CHECK(DecodeAttachment(lines, "base64") == bytes);
    std::string blanked;
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = lines.find("\r\n", at);
        blanked.append(lines, at, end - at);
        blanked += " \r\n";
        at = end + 2;
    }
    FUZZ_CHECK(DecodeAttachment(blanked, "base64") == bytes);

    const std::string_view partName = bytes.substr(0, 200);
    const std::string header = PartHeader(partName, "base64\r\n");
    FUZZ_CHECK(header.size() == kPartHeaderSize);
    if (partName.size() <= kPartNameSize && !partName.ends_with(' ')) {
        FUZZ_CHECK(PartRecordName(header) == partName);
    }

    const std::string name = SafeAttachmentName(bytes.substr(0, 400));
    FUZZ_CHECK(!name.empty() && name.size() <= 255);
    FUZZ_CHECK(name != "." && name != "..");
    for (const char c : name) {
        FUZZ_CHECK(c != '/' && c != '\\' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
    return 0;
}
