// Entry names travel in packages as bytes. Windows clients take them in the
// system's code page (936 on a Chinese system), as the launcher always has;
// elsewhere they are UTF-8. Inside the program every name is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace launcher {

// UTF-8 to code page 936 (GBK), for packages meant for Chinese Windows
// clients; false when a character has no form there.
bool Utf8ToGbk(std::string_view utf8, std::string& gbk);
// The other way, on every system; false when the bytes are not code page 936 text.
bool GbkToUtf8(std::string_view gbk, std::string& utf8);

// A name's bytes as stored in a package, as this system's (UTF-8) name; false
// when they are not text in the code page packages use here.
bool PackageNameToUtf8(std::string_view stored, std::string& utf8);

}  // namespace launcher
