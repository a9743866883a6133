// Attachment copies: a base64 attachment decodes to the bytes that were
// encoded, and any name from a message becomes one safe file name.
#include "fuzz/FuzzSupport.h"
#include "store/Attachments.h"
#include "text/transfer_encoding.h"

#include <string>

using namespace tegalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    FUZZ_CHECK(DecodeAttachment(EncodeBase64Lines(bytes), "base64") == bytes);

    const std::string name = SafeAttachmentName(bytes.substr(0, 400));
    FUZZ_CHECK(!name.empty() && name.size() <= 255);
    FUZZ_CHECK(name != "." && name != "..");
    for (const char c : name) {
        FUZZ_CHECK(c != '/' && c != '\\' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
    return 0;
}
