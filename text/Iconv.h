// The one wrapper around glibc's iconv: a descriptor that converts whole
// texts and lets the caller decide what happens at input it cannot convert.
#pragma once

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <string>
#include <string_view>

namespace tegalo {

// An iconv descriptor, reset before each use.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (Valid()) {
            iconv_close(cd_);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts `in` into `out`. onBad(position, incomplete) is called where
    // the input cannot be converted (incomplete: a sequence cut off by the
    // end) and returns the number of input bytes to skip, 0 to stop there.
    template <typename OnBad>
    void Run(std::string_view in, std::string& out, OnBad onBad) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buffer[8192];
        while (srcLeft > 0) {
            char* dst = buffer;
            std::size_t dstLeft = sizeof buffer;
            const std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            const int error = errno;
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (rc != static_cast<std::size_t>(-1) || error == E2BIG) {
                continue;
            }
            const std::size_t skip = std::min(onBad(in.size() - srcLeft, error == EINVAL), srcLeft);
            if (skip == 0) {
                break;
            }
            src += skip;
            srcLeft -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
    }

private:
    iconv_t cd_;
};

} // namespace tegalo
