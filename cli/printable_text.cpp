#include "cli/printable_text.h"

#include <cstddef>

namespace launcher {

namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 character at `at`, or 0.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(byte(i))) return 0;
    }
    return length;
}

}  // namespace

std::string PrintableText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
            out += '?';
            ++at;
            continue;
        }
        const std::size_t length = c < 0x80 ? 1 : Utf8Length(text, at);
        if (length == 0) {
            out += text[at++];  // not UTF-8 (a code-page text), but no control either
            continue;
        }
        const bool c1Control =
            length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;
        if (c1Control) {
            out += '?';
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out;
}

}  // namespace launcher
