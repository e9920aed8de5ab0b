// Texts from the server (versions, entry names, reasons built from them) go
// to a terminal: none of their bytes may start an escape sequence there.
#pragma once

#include <string>

namespace launcher {

// `text` with every control character replaced by '?': C0 and DEL, the C1
// controls (U+0080..U+009F in UTF-8) and stray bytes 0x80..0x9F that belong
// to no UTF-8 character. Other text, Chinese included, is kept byte for byte.
std::string PrintableText(const std::string& text);

}  // namespace launcher
