// FILES.IDX: where the latest version of every file of a release lies in the
// packages, and the names earlier releases carried that it no longer has.
//
// Text, LF line ends, names last so that they may hold spaces:
//   CORVATHEON2-FILES 1
//   latest 00007
//   F <package> <offset> <length> <size> <sha256> <name>
//   R <name>
// A patch level is the number of the next package to apply: packages
// 00001 .. latest-1 exist.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

inline constexpr const char* kFileIndexFile = "FILES.IDX";  // beside SERVERVER.INI

struct IndexedFile {
    int package = 0;           // the package holding the file's last entry: 1 is 00001.DAT
    std::uint64_t offset = 0;  // of the entry's nameLength field, from the package's start
    std::uint64_t length = 0;  // the whole entry: 12 + nameLength + compressedSize
    std::uint64_t size =
        0;               // bytes the entry inflates to (what the file holds), not the declared size
    std::string sha256;  // 64 lowercase hex digits of the file's content
    std::string name;    // as stored in the package ('\' separated, package encoding, no zero byte)
};

struct FileIndex {
    int latest = 0;                  // the patch level it describes (SERVERVER.INI's b-patch)
    std::vector<IndexedFile> files;  // ordered by (package, offset)
    std::vector<std::string>
        removed;  // names earlier packages carried that the latest release lacks
};

std::string FormatFileIndex(const FileIndex& index);
// False with a reason naming the line ("FILES.IDX line 7: ...") on anything malformed:
// unknown version, bad numbers, package outside 1..latest-1, a name that is not
// IsSafeEntryName, a duplicate name, lines out of (package, offset) order.
bool ParseFileIndex(std::string_view text, FileIndex& index, std::string& why);

}  // namespace launcher
