#include "engine/byte_rate.h"

namespace launcher {

bool ParseByteRate(const std::string& text, std::uint64_t& bytesPerSecond) {
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (UINT64_MAX - 9) / 10) return false;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (i == 0) return false;
    int shift = 0;
    if (i + 1 == text.size()) {
        switch (text[i]) {
            case 'k': case 'K': shift = 10; break;
            case 'm': case 'M': shift = 20; break;
            case 'g': case 'G': shift = 30; break;
            default: return false;
        }
    } else if (i != text.size()) {
        return false;
    }
    if (value == 0 || value > (UINT64_MAX >> shift)) return false;
    bytesPerSecond = value << shift;
    return true;
}

}  // namespace launcher
