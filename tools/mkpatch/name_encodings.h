// Which encodings a package's entry names are text in: a Linux client reads
// them as UTF-8, a Windows client in the system's code page (936 on Chinese
// systems), and the same bytes can be text in both, or in neither.
#pragma once

#include <string_view>

namespace launcher::mkpatch {

class NameEncodings {
public:
    void Add(std::string_view name);
    // "ASCII", "valid UTF-8", "valid GBK (code page 936)", both, or neither,
    // for every name added.
    std::string_view Describe() const;
    // No client reads the names as meant.
    bool Neither() const { return !ascii_ && !utf8_ && !gbk_; }

private:
    bool ascii_ = true;
    bool utf8_ = true;
    bool gbk_ = true;
};

bool IsAscii(std::string_view text);
bool IsValidUtf8(std::string_view text);

}  // namespace launcher::mkpatch
