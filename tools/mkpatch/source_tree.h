// The files of a release tree under the names packages store them by.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "tools/mkpatch/mkpatch.h"

namespace launcher::mkpatch {

struct SourceFile {
    std::filesystem::path relative;
    std::filesystem::path path;
    std::string stored;  // relative, backslash-separated, in the encoding `names` asks for
    std::uint64_t size = 0;
};

// The name a package stores for `relative`; false with `error` when it has none.
bool StoredName(const std::filesystem::path& relative, Names names, std::string& stored,
                std::string& error);

// Every regular file under `root`, in the byte order of the stored names, so
// that the same tree always gives the same package. Problems go to `err`;
// false when any file cannot be stored.
bool Collect(const std::filesystem::path& root, Names names, std::vector<SourceFile>& files,
             std::ostream& err);

}  // namespace launcher::mkpatch
