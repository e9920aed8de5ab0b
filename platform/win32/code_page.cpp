// Names on Windows: package names are in the system's code page (CP_ACP),
// turned into UTF-8 here and into UTF-16 at the file calls.
#include "platform/code_page.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace launcher {

namespace {

bool ToWide(UINT codePage, std::string_view bytes, std::wstring& wide) {
    wide.clear();
    if (bytes.empty()) return true;
    const int size = static_cast<int>(bytes.size());
    const int count =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (count <= 0) return false;
    wide.resize(static_cast<std::size_t>(count));
    return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(),
                                 count) == count;
}

}  // namespace

bool Utf8ToGbk(std::string_view utf8, std::string& gbk) {
    std::wstring wide;
    if (!ToWide(CP_UTF8, utf8, wide)) return false;
    gbk.clear();
    if (wide.empty()) return true;
    const int size = static_cast<int>(wide.size());
    BOOL lossy = FALSE;
    const int count = ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr,
                                            0, nullptr, &lossy);
    if (count <= 0 || lossy) return false;
    gbk.resize(static_cast<std::size_t>(count));
    return ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), size, gbk.data(), count,
                                 nullptr, &lossy) == count &&
           !lossy;
}

bool GbkToUtf8(std::string_view gbk, std::string& utf8) {
    std::wstring wide;
    if (!ToWide(936, gbk, wide)) return false;
    utf8 = win32::Utf8(wide);
    return true;
}

bool PackageNameToUtf8(std::string_view stored, std::string& utf8) {
    std::wstring wide;
    if (!ToWide(CP_ACP, stored, wide)) return false;
    utf8 = win32::Utf8(wide);
    return true;
}

}  // namespace launcher
