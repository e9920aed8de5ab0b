// Names on POSIX: stored as UTF-8, used as they are; iconv makes code page
// 936 names for Windows clients.
#include "platform/code_page.h"

#include <iconv.h>

#include <cerrno>

namespace launcher {

namespace {

// All of `text` or nothing; `room` bytes of output per input byte suffice.
bool Convert(const char* to, const char* from, std::string_view text, std::size_t room,
             std::string& result) {
    iconv_t converter = ::iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    result.assign(text.size() * room, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* out = result.data();
    std::size_t outLeft = result.size();
    const bool ok =
        ::iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(converter);
    result.resize(result.size() - outLeft);
    return ok && inLeft == 0;
}

}  // namespace

bool Utf8ToGbk(std::string_view utf8, std::string& gbk) {
    // GBK takes at most two bytes for a character UTF-8 writes in one to four.
    return Convert("GBK", "UTF-8", utf8, 2, gbk);
}

bool GbkToUtf8(std::string_view gbk, std::string& utf8) {
    // Three UTF-8 bytes at most for a GBK character of one or two.
    return Convert("UTF-8", "GBK", gbk, 3, utf8);
}

bool PackageNameToUtf8(std::string_view stored, std::string& utf8) {
    utf8.assign(stored);
    return true;
}

}  // namespace launcher
