// Names on POSIX: stored as UTF-8, used as they are; iconv makes code page
// 936 names for Windows clients.
#include "platform/code_page.h"

#include <iconv.h>

#include <cerrno>

namespace launcher {

bool Utf8ToGbk(std::string_view utf8, std::string& gbk) {
    iconv_t converter = ::iconv_open("GBK", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    // GBK takes at most two bytes for a character UTF-8 writes in one to four.
    gbk.assign(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* out = gbk.data();
    std::size_t outLeft = gbk.size();
    const bool ok =
        ::iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(converter);
    gbk.resize(gbk.size() - outLeft);
    return ok && inLeft == 0;
}

bool PackageNameToUtf8(std::string_view stored, std::string& utf8) {
    utf8.assign(stored);
    return true;
}

}  // namespace launcher
