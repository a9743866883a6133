// Pieces the program's benchmarks share: a store interface that shows
// nothing, sample message bodies, and running a command to its end.
#pragma once

#include "store/StoreUi.h"

#include "ProcessSupport.h"

#include <random>
#include <string>

namespace tegalo::bench {

class NoUi : public StoreUi {
public:
    void Message(std::string_view) override {}
};

// About 5 KB of plain text in CR LF lines, the same for the same `seed`.
inline std::string SampleBody(int seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::string body;
    while (body.size() < 5000) {
        body += "Line " + std::to_string(rng() % 100000) + " of a message body, plain text.\r\n";
    }
    return body;
}

} // namespace tegalo::bench
