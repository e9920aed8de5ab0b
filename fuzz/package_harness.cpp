// Fuzz target for the package applier: each input is a package applied into a
// scratch installation. Aborts when the applier writes outside it, leaves a
// temporary file behind, decompresses what it should have refused, or leaves
// anything but the package's first entries written whole.
#include <stdlib.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/apply_patch_package.h"
#include "transfer/decompressor.h"
#include "transfer/package_format.h"

namespace {

namespace fs = std::filesystem;

// Declared sizes above this are skipped: they only make the run allocate.
constexpr std::uint32_t kLargestOutput = 16u << 20;

struct Scratch {
    fs::path home;  // the current directory before the first input
    fs::path root;
    fs::path install;
    fs::path package;
};

const Scratch& TheScratch() {
    static const Scratch scratch = [] {
        std::string pattern = (fs::temp_directory_path() / "package-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) ::abort();
        Scratch made{fs::current_path(), pattern, fs::path(pattern) / "install",
                     fs::path(pattern) / "package.dat"};
        static const fs::path root = made.root;
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(root, ec);
        });
        return made;
    }();
    return scratch;
}

void Check(bool condition, const char* what, const std::string& detail = {}) {
    if (condition) return;
    std::fprintf(stderr, "package harness: %s %s\n", what, detail.c_str());
    ::abort();
}

// What the decompressor produced, by (payload, room given): -1 when it failed.
// The applier calls it from several threads and in no fixed order; the same
// payload with the same room always gives the same result.
using CallKey = std::pair<std::string, unsigned long>;
std::mutex g_callsMutex;
std::map<CallKey, long long> g_produced;

int RecordingUncompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                        unsigned long sourceLen) {
    const unsigned long capacity = *destLen;
    int rc = ::uncompress(dest, destLen, source, sourceLen);
    Check(rc != Z_OK || *destLen <= capacity, "decompressor overran its output");
    std::lock_guard lock(g_callsMutex);
    g_produced[{std::string(reinterpret_cast<const char*>(source), sourceLen), capacity}] =
        rc == Z_OK ? static_cast<long long>(*destLen) : -1;
    return rc;
}

std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Entry {
    std::string name;
    std::uint32_t declared;
    std::string payload;
    // What the decompressor is offered: the declared size, bounded by what the
    // payload's length can inflate to.
    unsigned long Capacity() const {
        return launcher::OutputCapacity(declared, static_cast<std::uint32_t>(payload.size()));
    }
};

// A second, independent reading of the layout: the entries up to the first one
// that cannot be read whole.
std::vector<Entry> ReadEntries(const std::uint8_t* data, std::size_t size, std::int32_t& count) {
    std::vector<Entry> entries;
    count = 0;
    if (size < 4) return entries;
    count = static_cast<std::int32_t>(Get32(data));
    std::size_t pos = 4;
    for (std::int32_t i = 0; i < count; ++i) {
        if (size - pos < 4) break;
        const std::uint32_t nameLength = Get32(data + pos);
        if (nameLength == 0 || nameLength > 1000 || size - pos - 4 < nameLength + 8u) break;
        const char* name = reinterpret_cast<const char*>(data + pos + 4);
        std::size_t length = 0;
        while (length < nameLength && name[length] != '\0') ++length;
        if (length == nameLength) break;
        const std::uint32_t declared = Get32(data + pos + 4 + nameLength);
        const std::uint32_t compressed = Get32(data + pos + 8 + nameLength);
        pos += 12 + nameLength;
        if (size - pos < compressed) break;
        entries.push_back({std::string(name, length), declared,
                           std::string(reinterpret_cast<const char*>(data + pos), compressed)});
        pos += compressed;
    }
    return entries;
}

// Where a name lands relative to the installation, or empty when it would
// leave it.
fs::path Landing(const std::string& name) {
    std::string path = name;
    for (char& ch : path) {
        if (ch == '\\') ch = '/';
    }
    fs::path normal = fs::path(path).lexically_normal();
    if (normal.is_absolute() || normal.has_root_name() || normal.empty()) return {};
    if (*normal.begin() == "..") return {};
    return normal;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int32_t count = 0;
    const std::vector<Entry> entries = ReadEntries(data, size, count);
    for (const Entry& entry : entries) {
        if (entry.declared > kLargestOutput) return 0;
    }

    const Scratch& scratch = TheScratch();
    fs::remove_all(scratch.install);
    fs::create_directory(scratch.install);
    {
        std::ofstream out(scratch.package, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    g_produced.clear();
    launcher::g_pfnUncompress = RecordingUncompress;
    fs::current_path(scratch.install);
    launcher::File package;
    Check(package.Open(scratch.package.string(), launcher::File::Mode::kRead), "cannot open input");
    const int result = launcher::ApplyPatchPackage(package);
    // Back home: libFuzzer reads inputs and writes crash files relative to it.
    fs::current_path(scratch.home);

    // Every call was for an entry that can be read and whose name stays inside.
    for (const auto& [key, bytes] : g_produced) {
        bool inside = false;
        for (const Entry& entry : entries) {
            inside = inside || (entry.payload == key.first && entry.Capacity() == key.second &&
                                !Landing(entry.name).empty());
        }
        Check(inside, "decompressed a payload of no readable entry with a safe name");
    }
    // The first entry not decompressed whole is as far as the package can have
    // got; a write may have failed before it.
    std::size_t decompressed = 0;
    while (decompressed < entries.size()) {
        auto call =
            g_produced.find({entries[decompressed].payload, entries[decompressed].Capacity()});
        if (call == g_produced.end() || call->second < 0) break;
        ++decompressed;
    }
    if (result == 1) {
        Check(count <= 0 || (decompressed == entries.size() &&
                             entries.size() == static_cast<std::size_t>(count)),
              "applied without decompressing every entry");
    }
    // What is installed must be a prefix of the package: the entries before
    // some stop, written whole (a later one of the same name winning), and
    // nothing of the entries from the stop on.
    auto writtenUpTo = [&](std::size_t stop) {
        std::map<fs::path, long long> expected;
        for (std::size_t k = 0; k < stop; ++k) {
            expected[Landing(entries[k].name)] =
                g_produced.at({entries[k].payload, entries[k].Capacity()});
        }
        for (const auto& [path, bytes] : expected) {
            std::error_code ec;
            const auto written = static_cast<long long>(fs::file_size(scratch.install / path, ec));
            if (ec || written != bytes) return false;
        }
        for (std::size_t k = stop; k < entries.size(); ++k) {
            const fs::path path = Landing(entries[k].name);
            if (path.empty() || expected.count(path)) continue;
            if (fs::is_regular_file(scratch.install / path)) return false;
        }
        return true;
    };
    bool prefix = writtenUpTo(decompressed);
    for (std::size_t stop = decompressed; !prefix && result != 1 && stop-- > 0;) {
        prefix = writtenUpTo(stop);
    }
    Check(prefix, "the installed files are not the package's first entries, written whole");

    for (const auto& item : fs::directory_iterator(scratch.root)) {
        Check(item.path() == scratch.install || item.path() == scratch.package,
              "written outside the installation:", item.path().string());
    }
    for (const auto& item : fs::recursive_directory_iterator(scratch.install)) {
        Check(item.path().filename() != launcher::kTemporaryFileName,
              "temporary file left behind:", item.path().string());
    }
    return 0;
}
