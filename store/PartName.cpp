#include "store/PartName.h"

#include "text/jis.h"

namespace tegalo {

std::string ShownPartName(std::string_view stored) {
    if (stored.find('\x1b') == std::string_view::npos) {
        return std::string(stored);
    }
    bool broken = false;
    std::string sjis = JisToSjis(stored, &broken);
    if (broken || sjis.find('\x1b') != std::string::npos) {
        return std::string(stored);
    }
    return sjis;
}

} // namespace tegalo
