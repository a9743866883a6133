// The settings file "comconfig": settings read from any bytes and saved
// (when every value can be saved) read back the same, from memory and from
// the file the store writes.
#include "config/AccountSettings.h"
#include "fuzz/FuzzSupport.h"
#include "store/StoreUi.h"

#include <fstream>
#include <string>

using namespace tegalo;

namespace {

class SilentUi final : public StoreUi {
public:
    void Message(std::string_view) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    AccountSettings settings;
    const int lines = ParseAccountSettings(bytes, settings);
    FUZZ_CHECK(lines >= 0 && lines <= kSettingsLinesAll);
    if (FindUnsavableLine(settings) != 0) {
        return 0;
    }
    const std::string file = FormatAccountSettings(settings);
    AccountSettings again;
    again.checkInterval = "other";
    FUZZ_CHECK(ParseAccountSettings(file, again) >= kSettingsLines);
    FUZZ_CHECK(again == settings);

    fuzz::ClearScratch();
    { std::ofstream(fuzz::ScratchDir() + std::string(kSettingsFileName), std::ios::binary) << "old\r\n"; }
    SilentUi ui;
    FUZZ_CHECK(SaveAccountSettings(fuzz::ScratchDir(), settings, ui) == SettingsStatus::kOk);
    AccountSettings read;
    FUZZ_CHECK(ReadAccountSettings(fuzz::ScratchDir(), read, ui) == SettingsStatus::kOk);
    FUZZ_CHECK(read == settings);
    return 0;
}
