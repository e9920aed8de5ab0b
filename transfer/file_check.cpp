#include "transfer/file_check.h"

#include <algorithm>
#include <vector>

#include "platform/files.h"

namespace launcher {

bool FeedFilePrefix(const std::string& path, std::uint64_t size, IFileCheck& check) {
    if (size == 0) return true;
    File file;
    if (!file.Open(path, File::Mode::kRead)) return false;
    std::vector<char> block(1 << 20);
    while (size > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size, block.size()));
        const long long got = file.ReadSome(block.data(), want);
        if (got <= 0) return false;
        check.Update(block.data(), static_cast<std::size_t>(got));
        size -= static_cast<std::uint64_t>(got);
    }
    return true;
}

}  // namespace launcher
