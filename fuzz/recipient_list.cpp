// The recipient list "addr.txt": the lines read hold no line end and none is
// empty; written one per line and read again they are the same lines, from
// memory and from the file. A Shift_JIS line whose bytes happen to be valid
// UTF-8 is read as UTF-8 (a hand-written UTF-8 line wins), so such lines are
// left out of the round trip.
#include "fuzz/FuzzSupport.h"
#include "store/FileIo.h"
#include "mime/Charset.h"
#include "mime/RecipientList.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

using namespace tegalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = RecipientListLines(bytes);
    std::string file;
    std::size_t total = 0;
    for (const std::string& line : lines) {
        FUZZ_CHECK(!line.empty());
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        total += line.size();
        file += line;
        file += "\r\n";
    }
    FUZZ_CHECK(total <= size);
    const auto readAsUtf8 = [](const std::string& line) {
        return IsValidUtf8(line) &&
               std::any_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    };
    if (std::any_of(lines.begin(), lines.end(), readAsUtf8)) {
        return 0;
    }
    FUZZ_CHECK(RecipientListLines(file) == lines);

    fuzz::ClearScratch();
    const std::string path = fuzz::ScratchDir() + "addr.txt";
    { std::ofstream(path, std::ios::binary) << file; }
    std::string content;
    FUZZ_CHECK(ReadWholeFile(path, content) == 0);
    FUZZ_CHECK(RecipientListLines(content) == lines);
    return 0;
}
