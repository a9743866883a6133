// What every fuzz target shares: a check that stops the run with a message
// (a failed property is a finding, like a crash), a private scratch
// directory, and a small reader that takes option bytes off the front of an
// input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace tegalo::fuzz {

// A directory of this process, ending with "/", on a memory file system when
// there is one (the targets write folder files for every input). Emptied and
// removed when the process ends.
const std::string& ScratchDir();

// Removes every file in ScratchDir() (not the directory).
void ClearScratch();

// The input as bytes, with option bytes taken from its front.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}
    // The next byte, 0 when none is left.
    unsigned Byte() {
        if (rest_.empty()) {
            return 0;
        }
        const auto byte = static_cast<unsigned char>(rest_.front());
        rest_.remove_prefix(1);
        return byte;
    }
    // The next `n` bytes, fewer at the end.
    std::string_view Take(std::size_t n) {
        const std::string_view piece = rest_.substr(0, n);
        rest_.remove_prefix(piece.size());
        return piece;
    }
    std::string_view Rest() const { return rest_; }
    bool empty() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

} // namespace tegalo::fuzz
