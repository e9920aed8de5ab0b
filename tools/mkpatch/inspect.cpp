// mkpatch list and verify: reading a package the way the launcher does.
#include <zlib.h>

#include <algorithm>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <vector>

#include "tools/mkpatch/entry_limits.h"
#include "tools/mkpatch/inflate_entry.h"
#include "tools/mkpatch/mkpatch.h"
#include "tools/mkpatch/name_encodings.h"
#include "transfer/package_format.h"

namespace launcher::mkpatch {

namespace {

// Opens the package and reads its entry count with `reader`; reports and
// returns false when that is not possible.
bool ReadHeader(const std::string& path, File& file, PackageReader& reader, std::int32_t& count,
                std::ostream& err) {
    if (!file.IsOpen()) {
        err << "mkpatch: " << path << ": cannot open\n";
        return false;
    }
    if (reader.ReadHeader(count) != ReadStatus::kOk) {
        err << "mkpatch: " << path << ": " << reader.Problem() << "\n";
        return false;
    }
    if (count < 0) {
        err << "mkpatch: " << path << ": byte 0: negative entry count " << count
            << "; the launcher refuses the package\n";
        return false;
    }
    return true;
}

File OpenForReading(const std::string& path) {
    File file;
    file.Open(path, File::Mode::kReadThroughLinks);
    return file;
}

std::string Describe(std::int32_t index, const PackageEntry& entry) {
    return "entry " + std::to_string(index + 1) + " '" + entry.name + "'";
}

}  // namespace

int List(const std::string& package, std::ostream& out, std::ostream& err) {
    File file = OpenForReading(package);
    PackageReader reader(file);
    std::int32_t count = 0;
    if (!ReadHeader(package, file, reader, count, err)) return kFailed;
    out << package << ": " << count << " entries\n";
    out << std::setw(12) << "offset" << std::setw(14) << "uncompressed" << std::setw(12)
        << "compressed"
        << "  name\n";
    PackageEntry entry;
    NameEncodings names;
    for (std::int32_t index = 0; index < count; ++index) {
        if (reader.ReadEntry(entry) != ReadStatus::kOk ||
            reader.SkipPayload(entry.compressedSize) != ReadStatus::kOk) {
            err << "mkpatch: " << package << ": entry " << index + 1 << ", " << reader.Problem()
                << "\n";
            return kFailed;
        }
        out << std::setw(12) << entry.offset << std::setw(14) << entry.uncompressedSize
            << std::setw(12) << entry.compressedSize << "  " << entry.name << "\n";
        names.Add(entry.name);
    }
    out << "names: " << names.Describe() << "\n";
    if (reader.Left() > 0) {
        out << reader.Left() << " bytes after the last entry (the launcher ignores them)\n";
    }
    return kOk;
}

int Verify(const std::string& package, std::ostream& out, std::ostream& err) {
    File file = OpenForReading(package);
    PackageReader reader(file);
    std::int32_t count = 0;
    if (!ReadHeader(package, file, reader, count, err)) return kFailed;
    auto problem = [&](std::uint64_t at, const std::string& what) {
        err << "mkpatch: " << package << ": byte " << at << ": " << what << "\n";
        return kFailed;
    };
    // What the launcher applies all the same: said, but not a failure.
    int warnings = 0;
    auto warning = [&](std::uint64_t at, const std::string& what) {
        err << "mkpatch: " << package << ": warning: byte " << at << ": " << what << "\n";
        ++warnings;
    };
    std::uint64_t unpacked = 0;
    std::uint64_t largest = 0;
    std::string largestName;
    NameEncodings names;
    PackageEntry entry;
    for (std::int32_t index = 0; index < count; ++index) {
        if (reader.ReadEntry(entry) != ReadStatus::kOk) {
            err << "mkpatch: " << package << ": entry " << index + 1 << ", " << reader.Problem()
                << "\n";
            return kFailed;
        }
        if (std::string reason = CheckStorableName(entry.name); !reason.empty()) {
            return problem(entry.offset, Describe(index, entry) + ": " + reason);
        }
        names.Add(entry.name);
        const std::uint64_t payloadAt = reader.Offset();
        if (!FitsCompressedSize(entry.uncompressedSize, entry.compressedSize)) {
            return problem(entry.offset,
                           Describe(index, entry) + ": " +
                               ExceedsCompressedSize(entry.uncompressedSize,
                                                     entry.compressedSize) +
                               "; the launcher refuses the package");
        }
        std::uint64_t produced = 0;
        ReadStatus read = ReadStatus::kOk;
        const int rc = InflateLikeUncompress(reader, entry.compressedSize,
                                             entry.uncompressedSize, produced, read);
        if (read != ReadStatus::kOk) {
            err << "mkpatch: " << package << ": " << Describe(index, entry) << ", "
                << reader.Problem() << "\n";
            return kFailed;
        }
        if (rc != Z_OK) {
            return problem(payloadAt, Describe(index, entry) + ": the payload does not decompress (" +
                                          zError(rc) + ")");
        }
        if (produced != entry.uncompressedSize) {
            warning(payloadAt, Describe(index, entry) + ": declares " +
                                   std::to_string(entry.uncompressedSize) + " bytes but holds " +
                                   std::to_string(produced) + " (the launcher writes those)");
        }
        unpacked += produced;
        // The launcher holds the payload and the declared capacity at once.
        const std::uint64_t memory = std::uint64_t{entry.compressedSize} + entry.uncompressedSize;
        if (memory > largest || largestName.empty()) {
            largest = memory;
            largestName = entry.name;
        }
    }
    if (reader.Left() > 0) {
        warning(reader.Offset(), std::to_string(reader.Left()) +
                                     " bytes after the last entry (wrong entry count?); the "
                                     "launcher ignores them");
    }
    if (names.Neither()) {
        err << "mkpatch: " << package << ": warning: the entry names are neither valid UTF-8 "
            << "nor valid GBK (code page 936); no client reads them as meant\n";
        ++warnings;
    }
    std::ostringstream memory;
    if (ReportApplyMemory(package, largestName, largest, memory, err)) ++warnings;
    out << package << ": " << (warnings ? "applicable, with warnings" : "sound") << ", " << count
        << " entries, " << unpacked << " bytes of files\n"
        << memory.str() << "names: " << names.Describe() << "\n";
    return kOk;
}

}  // namespace launcher::mkpatch
