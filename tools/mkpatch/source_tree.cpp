// Walking a release tree and naming its files as packages store them.
#include "tools/mkpatch/source_tree.h"

#include <algorithm>
#include <ostream>

#include "platform/code_page.h"
#include "tools/mkpatch/entry_limits.h"
#include "tools/mkpatch/name_encodings.h"
#include "transfer/package_format.h"

namespace launcher::mkpatch {

namespace fs = std::filesystem;

namespace {

// UTF-8 whatever the system's own encoding of paths.
std::string Utf8Of(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace

bool StoredName(const fs::path& relative, Names names, std::string& stored, std::string& error) {
    for (const auto& part : relative) {
        if (Utf8Of(part).find(kPackageSeparator) != std::string::npos) {
            error = "the name contains a backslash, which packages use to separate directories";
            return false;
        }
    }
    stored = Utf8Of(relative);
    std::replace(stored.begin(), stored.end(), '/', kPackageSeparator);
    if (names == Names::kUnsaid && !IsAscii(stored)) {
        error = "the name is not plain ASCII";
        return false;
    }
    if (names == Names::kGbk) {
        std::string gbk;
        if (!Utf8ToGbk(stored, gbk)) {
            error = "the name has no code page 936 form (--names gbk)";
            return false;
        }
        // The launcher splits names by bytes: a character ending in 0x5C
        // would become a directory there.
        if (std::count(gbk.begin(), gbk.end(), kPackageSeparator) !=
            std::count(stored.begin(), stored.end(), kPackageSeparator)) {
            error =
                "a character of the name ends in byte 0x5C in code page 936, which the "
                "launcher would take for a directory separator";
            return false;
        }
        stored = std::move(gbk);
    }
    error = CheckStorableName(stored);
    return error.empty();
}

bool Collect(const fs::path& root, Names names, std::vector<SourceFile>& files, std::ostream& err) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        err << "mkpatch: " << root.string() << ": not a directory or not readable\n";
        return false;
    }
    bool ok = true;
    bool notAscii = false;
    fs::recursive_directory_iterator it(root, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::directory_entry& item = *it;
        const fs::path relative = item.path().lexically_relative(root);
        std::error_code statError;
        if (item.is_directory(statError)) {
            if (item.is_symlink(statError)) {
                err << "mkpatch: warning: " << item.path().string()
                    << ": link to a directory, not followed\n";
            }
            continue;
        }
        if (!item.is_regular_file(statError)) {
            err << "mkpatch: warning: " << item.path().string()
                << ": not a regular file, left out\n";
            continue;
        }
        const std::uintmax_t size = item.file_size(statError);
        if (statError) {
            err << "mkpatch: " << item.path().string() << ": " << statError.message() << "\n";
            ok = false;
            continue;
        }
        if (size > kMostEntryBytes) {
            err << "mkpatch: " << item.path().string() << " is " << size
                << " bytes; a package entry holds at most " << kMostEntryText << "\n";
            ok = false;
            continue;
        }
        SourceFile file{relative, item.path(), {}, size};
        std::string error;
        if (!StoredName(relative, names, file.stored, error)) {
            err << "mkpatch: " << item.path().string() << ": " << error << "\n";
            ok = false;
            notAscii = notAscii || (names == Names::kUnsaid && !IsAscii(Utf8Of(relative)));
            continue;
        }
        files.push_back(std::move(file));
    }
    if (ec) {
        err << "mkpatch: " << root.string() << ": cannot read the tree: " << ec.message() << "\n";
        return false;
    }
    if (notAscii) {
        err << "mkpatch: names that are not plain ASCII need --names: Windows clients read "
               "names in the system's code page (936 on Chinese systems), Linux clients in "
               "UTF-8, so the same bytes name different files on each. Build with\n"
               "  --names gbk   for Windows clients (code page 936)\n"
               "  --names utf8  for Linux clients\n";
    }
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.stored < b.stored; });
    return ok;
}

}  // namespace launcher::mkpatch
