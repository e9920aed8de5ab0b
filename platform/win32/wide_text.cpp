#include "platform/win32/wide_text.h"

#include <windows.h>

namespace launcher::win32 {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int count = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), count);
    return wide;
}

std::wstring WidePath(std::string_view utf8) {
    std::wstring wide = Wide(utf8);
    for (wchar_t& ch : wide) {
        if (ch == L'/') ch = L'\\';
    }
    // Entry names may be 999 bytes: joined to the current directory, a long one
    // passes MAX_PATH, past which only the "\\?\" form of the full path reaches
    // the file.
    if (wide.size() < MAX_PATH / 2 || wide.rfind(L"\\\\", 0) == 0) return wide;
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) return wide;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return wide;
    full.resize(length);
    return L"\\\\?\\" + full;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int count =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(count), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), count, nullptr, nullptr);
    return utf8;
}

}  // namespace launcher::win32
