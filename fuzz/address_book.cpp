// The address book "addr": every line read comes back as the line it was
// (apart from its line end), and entries written to the file read back the
// same.
#include "fuzz/FuzzSupport.h"
#include "store/AddressBook.h"

#include <string>
#include <vector>

using namespace tegalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<AddressEntry> entries = ParseAddressBook(bytes);
    FUZZ_CHECK(entries.size() <= size + 1);
    bool storable = true;
    for (const AddressEntry& entry : entries) {
        storable = storable && StorableAddressEntry(entry);
    }
    const std::string formatted = FormatAddressBook(entries);
    if (!storable) {
        return 0;
    }
    FUZZ_CHECK(ParseAddressBook(formatted) == entries);

    fuzz::ClearScratch();
    FUZZ_CHECK(WriteAddressBook(fuzz::ScratchDir(), "addr", entries) == 0);
    std::vector<AddressEntry> read;
    FUZZ_CHECK(ReadAddressBook(fuzz::ScratchDir(), "addr", read) == 0);
    FUZZ_CHECK(FormatAddressBook(read) == formatted);
    return 0;
}
