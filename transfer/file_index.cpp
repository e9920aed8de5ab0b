#include "transfer/file_index.h"

#include <cstdio>
#include <functional>
#include <limits>
#include <set>

#include "transfer/package_format.h"

namespace launcher {

namespace {

constexpr std::string_view kMagic = "CORVATHEON2-FILES 1";

std::string Level(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%05d", number);
    return text;
}

// Cuts the next space-separated field off `rest`.
std::string_view Field(std::string_view& rest) {
    const std::size_t space = rest.find(' ');
    std::string_view field = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    return field;
}

bool Number(std::string_view text, std::uint64_t most, std::uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (most - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

bool IsHashText(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// Why `name` cannot be a name of the index, or empty.
std::string NameProblem(std::string_view name) {
    if (name.find('\0') != std::string_view::npos || name.find('\r') != std::string_view::npos) {
        return "name holds a zero byte or CR";
    }
    if (name.size() > kMaxNameBytes) return "name longer than a package allows";
    if (!IsSafeEntryName(name)) return "name the applier refuses: " + std::string(name);
    return {};
}

}  // namespace

std::string FormatFileIndex(const FileIndex& index) {
    std::string out;
    out += kMagic;
    out += "\nlatest " + Level(index.latest) + "\n";
    for (const IndexedFile& file : index.files) {
        out += "F " + Level(file.package) + " " + std::to_string(file.offset) + " " +
               std::to_string(file.length) + " " + std::to_string(file.size) + " " + file.sha256 +
               " " + file.name + "\n";
    }
    for (const std::string& name : index.removed) out += "R " + name + "\n";
    return out;
}

bool ParseFileIndex(std::string_view text, FileIndex& index, std::string& why) {
    index = FileIndex{};
    std::set<std::string, std::less<>> names;
    int lineNumber = 0;
    auto fail = [&](const std::string& what) {
        why = std::string(kFileIndexFile) + " line " + std::to_string(lineNumber) + ": " + what;
        index = FileIndex{};
        return false;
    };
    std::size_t start = 0;
    while (start < text.size()) {
        ++lineNumber;
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) return fail("no line end");
        std::string_view line = text.substr(start, end - start);
        start = end + 1;

        if (lineNumber == 1) {
            if (line != kMagic) return fail("not a file index of version 1");
            continue;
        }
        std::string_view rest = line;
        const std::string_view kind = Field(rest);
        std::uint64_t value = 0;
        if (lineNumber == 2) {
            if (kind != "latest" || !Number(rest, std::numeric_limits<int>::max(), value) ||
                value < 1) {
                return fail("expected \"latest <patch level>\"");
            }
            index.latest = static_cast<int>(value);
            continue;
        }
        if (kind == "F") {
            IndexedFile file;
            if (!Number(Field(rest), std::numeric_limits<int>::max(), value)) {
                return fail("bad package number");
            }
            if (value < 1 || value >= static_cast<std::uint64_t>(index.latest)) {
                return fail("package " + std::to_string(value) + " outside 1.." +
                            std::to_string(index.latest - 1));
            }
            file.package = static_cast<int>(value);
            const std::uint64_t most = std::numeric_limits<std::int64_t>::max();
            if (!Number(Field(rest), most, file.offset) || file.offset < 4) {
                return fail("bad offset");
            }
            if (!Number(Field(rest), most, file.length)) return fail("bad length");
            if (!Number(Field(rest), std::numeric_limits<std::uint32_t>::max(), file.size)) {
                return fail("bad size");
            }
            const std::string_view hash = Field(rest);
            if (!IsHashText(hash)) return fail("bad SHA-256 (64 lowercase hex digits)");
            file.sha256 = std::string(hash);
            if (std::string problem = NameProblem(rest); !problem.empty()) return fail(problem);
            if (!names.emplace(rest).second) return fail("duplicate name " + std::string(rest));
            file.name = std::string(rest);
            if (file.length < kEntryFixedBytes + file.name.size() + 1 ||
                file.length > most - file.offset) {
                return fail("length does not fit an entry of that name");
            }
            if (!index.files.empty()) {
                const IndexedFile& last = index.files.back();
                if (file.package < last.package ||
                    (file.package == last.package && file.offset < last.offset + last.length)) {
                    return fail("out of (package, offset) order or overlapping the line before");
                }
            }
            index.files.push_back(std::move(file));
        } else if (kind == "R") {
            if (std::string problem = NameProblem(rest); !problem.empty()) return fail(problem);
            if (!names.emplace(rest).second) return fail("duplicate name " + std::string(rest));
            index.removed.emplace_back(rest);
        } else {
            return fail("unknown line");
        }
    }
    if (lineNumber < 2) {
        ++lineNumber;
        return fail("cut short");
    }
    return true;
}

}  // namespace launcher
