#include "transfer/ShownText.h"

#include "text/jis.h"

namespace tegalo {

std::string ShownReply(std::string_view reply) {
    std::string out;
    std::size_t i = 0;
    while (i < reply.size()) {
        const auto c = static_cast<unsigned char>(reply[i]);
        const std::size_t width = (IsSjisLead(c) && i + 1 < reply.size()) ? 2 : 1;
        if (out.size() + width > kMaxReplyShown) {
            out += "...";
            break;
        }
        if (width == 1 && (c < 0x20 || c == 0x7F)) {
            out += '?';
        } else {
            out.append(reply.substr(i, width));
        }
        i += width;
    }
    return out;
}

} // namespace tegalo
