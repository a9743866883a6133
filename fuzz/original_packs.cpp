// Pack files of originals, as a crash or another program may leave them:
// reading any bytes as a pack neither fails nor gives bytes beyond the
// file; a pack's originals read back as written after any damage before
// them in another pack; the sweep with no records leaves no original and
// no pack read whole; and a line of the noted folder ends, once read, reads
// back the same.
#include "fuzz/FuzzSupport.h"
#include "store/FolderEnds.h"
#include "store/Originals.h"

#include <filesystem>
#include <fstream>
#include <string>

using namespace tegalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    if (const auto parsed = ParseCheckedEndLine(bytes)) {
        const std::string line = FormatCheckedEndLine(parsed->first, parsed->second);
        const auto again = ParseCheckedEndLine(line);
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(again->first == parsed->first);
        FUZZ_CHECK(again->second == parsed->second);
    }

    fuzz::ClearScratch();
    const std::string& dir = fuzz::ScratchDir();
    std::filesystem::remove_all(OriginalsDir(dir));
    FUZZ_CHECK(EnsureOriginalsDir(dir) == 0);
    std::ofstream(OriginalsDir(dir) + "0000000000000000001.pack", std::ios::binary) << bytes;

    // A key the input may well name: the one after the first header word.
    std::string key(64, 'a');
    if (bytes.size() >= 9 + 64) {
        key = std::string(bytes.substr(9, 64));
    }
    const std::string mine(64, 'f');
    {
        OriginalStore store;
        store.Open(dir);
        const int count = store.Count(key);
        FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= size / 75 + 1);
        if (const std::optional<std::string> read = store.Read(key)) {
            FUZZ_CHECK(read->size() <= size);
            FUZZ_CHECK(bytes.find(*read) != std::string_view::npos);
        }
        OriginalStore::Written written;
        FUZZ_CHECK(store.Add(mine, bytes, true, written) == 0);
        FUZZ_CHECK(store.SyncBatch() == 0);
    }
    {
        OriginalStore store;
        store.Open(dir);
        FUZZ_CHECK(store.Read(mine) == std::string(bytes));
        FUZZ_CHECK(store.Sweep({}) == 0);
        FUZZ_CHECK(store.Count(mine) == 0);
    }
    // What the sweep removed stays removed, and my pack (read whole) is gone.
    OriginalStore after;
    after.Open(dir);
    FUZZ_CHECK(after.Count(mine) == 0);
    FUZZ_CHECK(after.Count(key) == 0);
    int packs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(OriginalsDir(dir))) {
        packs += entry.path().string().ends_with(".pack") ? 1 : 0;
    }
    FUZZ_CHECK(packs <= 1);
    std::filesystem::remove_all(OriginalsDir(dir));
    return 0;
}
