// The recipient list "addr.txt": the lines read hold no line end and none is
// empty; written one per line and read again they are the same lines, from
// memory and from the file.
#include "fuzz/FuzzSupport.h"
#include "store/FileIo.h"
#include "mime/RecipientList.h"

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
    FUZZ_CHECK(RecipientListLines(file) == lines);

    fuzz::ClearScratch();
    const std::string path = fuzz::ScratchDir() + "addr.txt";
    { std::ofstream(path, std::ios::binary) << file; }
    std::string content;
    FUZZ_CHECK(ReadWholeFile(path, content) == 0);
    FUZZ_CHECK(RecipientListLines(content) == lines);
    return 0;
}
