#include "tools/mkpatch/name_encodings.h"

#include <algorithm>
#include <string>

#include "platform/code_page.h"

namespace launcher::mkpatch {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Strict: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
        }
        i += length;
    }
    return true;
}

void NameEncodings::Add(std::string_view name) {
    if (IsAscii(name)) return;
    ascii_ = false;
    utf8_ = utf8_ && IsValidUtf8(name);
    std::string ignored;
    gbk_ = gbk_ && GbkToUtf8(name, ignored);
}

std::string_view NameEncodings::Describe() const {
    if (ascii_) return "ASCII (read alike by every client)";
    if (utf8_ && gbk_) {
        return "valid UTF-8 and valid GBK (code page 936), read as different characters by "
               "Linux and Windows clients";
    }
    if (utf8_) return "valid UTF-8 (what Linux clients read)";
    if (gbk_) return "valid GBK (code page 936, what Chinese Windows clients read)";
    return "neither valid UTF-8 nor valid GBK (code page 936)";
}

}  // namespace launcher::mkpatch
