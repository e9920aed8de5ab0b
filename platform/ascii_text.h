// Text of ASCII formats (version lists, HTTP heads): white space and letter
// case as ASCII has them, whatever the locale; bytes above 0x7F (the code
// page's characters) are compared as they are.
#pragma once

#include <algorithm>
#include <string_view>

namespace launcher {

inline bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsAsciiSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsAsciiSpace(s.back())) s.remove_suffix(1);
    return s;
}

inline bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace launcher
