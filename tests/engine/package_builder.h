// Builds patch packages in memory with real zlib, for engine tests.
#pragma once

#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/package_bytes.h"
#include "transfer/package_format.h"

namespace launcher::test {

using PackageFiles = std::vector<std::pair<std::string, std::string>>;  // stored name, content

inline std::string BuildPackage(const PackageFiles& files) {
    std::string out = EncodePackageHeader(static_cast<std::int32_t>(files.size()));
    for (const auto& [name, content] : files) {
        out += Entry(name, content);
    }
    return out;
}

}  // namespace launcher::test
