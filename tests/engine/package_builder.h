// Builds patch packages in memory with real zlib, for engine tests.
#pragma once

#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include "transfer/package_format.h"

namespace launcher::test {

using PackageFiles = std::vector<std::pair<std::string, std::string>>;  // stored name, content

inline std::string BuildPackage(const PackageFiles& files) {
    std::string out = EncodePackageHeader(static_cast<std::int32_t>(files.size()));
    for (const auto& [name, content] : files) {
        uLongf size = compressBound(static_cast<uLong>(content.size()));
        std::string payload(size, '\0');
        compress2(reinterpret_cast<Bytef*>(payload.data()), &size,
                  reinterpret_cast<const Bytef*>(content.data()), static_cast<uLong>(content.size()),
                  Z_BEST_COMPRESSION);
        payload.resize(size);
        out += EncodeEntryHeader(name, static_cast<std::uint32_t>(content.size()),
                                 static_cast<std::uint32_t>(payload.size()));
        out += payload;
    }
    return out;
}

}  // namespace launcher::test
