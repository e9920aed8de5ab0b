#include "window/window_settings.h"

#include <sstream>

#include "engine/byte_rate.h"
#include "platform/files.h"

namespace launcher::ui {

std::uint64_t MaxRateSetting(const std::string& contents) {
    std::istringstream lines(contents);
    std::string line;
    std::uint64_t rate = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        constexpr const char kKey[] = "max-rate=";
        if (line.rfind(kKey, 0) != 0) continue;
        std::uint64_t value = 0;
        rate = ParseByteRate(line.substr(sizeof kKey - 1), value) ? value : 0;
    }
    return rate;
}

std::uint64_t ReadMaxRateSetting(const std::string& path) {
    std::string contents;
    return ReadWholeFile(path, contents) ? MaxRateSetting(contents) : 0;
}

}  // namespace launcher::ui
