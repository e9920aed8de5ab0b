#include "tools/mkpatch/package_history.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <ostream>
#include <thread>
#include <vector>

#include "engine/version_records.h"
#include "integrity/sha256.h"
#include "tools/mkpatch/inflate_entry.h"
#include "transfer/package_format.h"

namespace launcher::mkpatch {

namespace fs = std::filesystem;

namespace {

fs::path PackagePath(const fs::path& directory, int package) {
    return directory / (FiveDigits(package) + ".DAT");
}

}  // namespace

bool ReadPackageHistory(const fs::path& directory, int latest, PackageHistory& history,
                        std::ostream& err) {
    history.clear();
    for (int package = 1; package < latest; ++package) {
        const fs::path path = PackagePath(directory, package);
        File file;
        if (!file.Open(path.string(), File::Mode::kReadThroughLinks)) {
            err << "mkpatch: " << path.string() << ": cannot open: " << file.Problem() << "\n";
            return false;
        }
        PackageReader reader(file);
        std::int32_t count = 0;
        PackageEntry entry;
        std::uint64_t payloadAt = 0;
        bool ok = reader.ReadHeader(count) == ReadStatus::kOk && count >= 0;
        for (std::int32_t i = 0; ok && i < count; ++i) {
            ok = reader.ReadEntry(entry) == ReadStatus::kOk &&
                 reader.PassPayload(entry.compressedSize, payloadAt) == ReadStatus::kOk;
            if (ok && !CheckStorableName(entry.name).empty()) {
                err << "mkpatch: " << path.string() << ": byte " << entry.offset << ": '"
                    << entry.name << "': " << CheckStorableName(entry.name) << "\n";
                return false;
            }
            // A later entry of a name replaces the earlier one, as on a client.
            if (ok) history[entry.name] = {package, entry.offset, reader.Offset() - entry.offset};
        }
        if (!ok) {
            err << "mkpatch: " << path.string() << ": "
                << (count < 0 ? "negative entry count" : reader.Problem())
                << "; check it with 'mkpatch verify'\n";
            return false;
        }
    }
    return true;
}

EntryContent ReadEntryAt(const fs::path& directory, const EntryPlace& place) {
    EntryContent content;
    const fs::path path = PackagePath(directory, place.package);
    const std::string where =
        path.filename().string() + " byte " + std::to_string(place.offset) + ": ";
    File file;
    if (!file.Open(path.string(), File::Mode::kReadThroughLinks) || !file.Seek(place.offset)) {
        content.problem = where + "cannot read it";
        return content;
    }
    // The reader counts from where it starts.
    PackageReader reader(file);
    PackageEntry entry;
    if (reader.ReadEntry(entry) != ReadStatus::kOk) {
        content.problem = where + "no entry there (" + reader.Problem() + " from there on)";
        return content;
    }
    content.name = entry.name;
    content.length = reader.Offset() + entry.compressedSize;
    integrity::Sha256 hash;
    ReadStatus read = ReadStatus::kOk;
    const int rc = InflateLikeUncompress(
        reader, entry.compressedSize, OutputCapacity(entry.uncompressedSize, entry.compressedSize),
        content.size, read, [&](const unsigned char* bytes, std::size_t size) {
            hash.Update(bytes, size);
        });
    content.sha256 = hash.FinishHex();
    if (read != ReadStatus::kOk) {
        content.problem = where + "cannot read the entry";
    } else if (rc != Z_OK) {
        content.problem = where + "the entry does not decompress (" + std::string(zError(rc)) +
                          "); the launcher refuses it";
    }
    return content;
}

void ForEachOnCores(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t)>& job) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(count, 1)));
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) job(i);
    };
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < threads; ++i) helpers.emplace_back(work);
    work();
    for (auto& helper : helpers) helper.join();
}

}  // namespace launcher::mkpatch
