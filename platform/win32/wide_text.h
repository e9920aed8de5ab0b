// Text at the Win32 boundary: UTF-8 inside the program, UTF-16 at every call.
#pragma once

#include <string>
#include <string_view>

namespace launcher::win32 {

// UTF-8 to UTF-16; '/' becomes '\' so that our relative paths are Windows paths.
std::wstring WidePath(std::string_view utf8);
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

}  // namespace launcher::win32
