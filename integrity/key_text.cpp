#include "integrity/key_text.h"

#include <cstdint>
#include <vector>

#include "integrity/ed25519.h"

namespace launcher::integrity {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::string ToBase64(const unsigned char* bytes, std::size_t size) {
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t left = size - i;
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (left > 1) group |= std::uint32_t{bytes[i + 1]} << 8;
        if (left > 2) group |= bytes[i + 2];
        text += kAlphabet[(group >> 18) & 63];
        text += kAlphabet[(group >> 12) & 63];
        text += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        text += left > 2 ? kAlphabet[group & 63] : '=';
    }
    return text;
}

bool FromBase64(const std::string& input, unsigned char* bytes, std::size_t size) {
    const std::string text = Trimmed(input);
    if (text.size() % 4 != 0) return false;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    if (text.size() / 4 * 3 - padding != size) return false;
    std::size_t out = 0;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int value = ValueOf(text[i]);
        if (value < 0) return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes[out++] = static_cast<unsigned char>(bits >> count);
            bits &= (1u << count) - 1;
        }
    }
    // The bits the padding leaves over must be zero: one key, one text.
    return bits == 0;
}

std::vector<std::string> SplitKeyList(const std::string& list) {
    std::vector<std::string> keys;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        std::string key = Trimmed(list.substr(start, end - start));
        if (!key.empty()) keys.push_back(key);
        start = end + 1;
    }
    return keys;
}

}  // namespace launcher::integrity
