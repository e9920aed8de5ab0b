// apply_bench: the measured steps of bench/apply_bench.sh, each in a process of
// its own so that its peak memory is its own.
//
//   apply_bench list PACKAGE
//       entries=N files-bytes=U packed-bytes=C largest-entry-bytes=E largest-compressed=X
//       largest-uncompressed=Y (E = X + Y, the entry with the largest sum)
//   apply_bench apply PACKAGE DIRECTORY [--sync]
//       creates DIRECTORY, applies the package into it as the launcher does,
//       with --sync followed by the launcher's one SyncInstallation:
//       seconds=S sync-seconds=T peak-rss-kib=K start-rss-kib=B peak-anon-kib=A
//       user-seconds=U system-seconds=Y minor-faults=F
//       (peak-rss counts the pages of files mapped for writing too; peak-anon,
//       sampled every 5 ms, counts only the process's own memory)
//   apply_bench inflate PACKAGE [--from-memory] [--zlib]
//       the reference: the package read from its start to its end and every
//       payload decompressed on one thread, one after the other, into one
//       buffer that is reused; nothing is written. By the launcher's
//       decompressor library, or with --zlib by the system's zlib. With
//       --from-memory the whole package is read into memory first (not
//       timed) and only the decompression is timed:
//       seconds=S bytes=U
//   apply_bench inflate PACKAGE --all-cores
//       the floor for an applier that decompresses: the package in memory and
//       its payloads decompressed by the launcher's decompressor on every core
//       at once, nothing written: seconds=S bytes=U threads=N
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/library.h"
#include "transfer/apply_patch_package.h"
#include "transfer/decompressor.h"
#include "transfer/package_format.h"

namespace launcher {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long PeakRssKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;  // KiB on Linux
}

long AnonKib() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "RssAnon: %ld", &kib) == 1) break;
    }
    std::fclose(status);
    return kib;
}

// The highest anonymous resident memory seen while it lives.
class AnonSampler {
public:
    AnonSampler() : thread_([this] { Run(); }) {}
    ~AnonSampler() { Stop(); }
    long Stop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
        return std::max(peak_, AnonKib());
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            peak_ = std::max(peak_, AnonKib());
            wake_.wait_for(lock, std::chrono::milliseconds(5));
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    long peak_ = 0;
    std::thread thread_;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

struct Listed {
    std::uint64_t offset = 0;  // of the payload
    std::uint32_t compressed = 0;
    std::uint32_t uncompressed = 0;
};

bool ListPackage(const std::string& path, std::vector<Listed>& entries) {
    File file;
    if (!file.Open(path, File::Mode::kRead)) {
        std::fprintf(stderr, "apply_bench: cannot open %s\n", path.c_str());
        return false;
    }
    PackageReader reader(file);
    std::int32_t count = 0;
    if (reader.ReadHeader(count) != ReadStatus::kOk || count < 0) {
        std::fprintf(stderr, "apply_bench: %s: %s\n", path.c_str(), reader.Problem().c_str());
        return false;
    }
    PackageEntry entry;
    for (std::int32_t i = 0; i < count; ++i) {
        if (reader.ReadEntry(entry) != ReadStatus::kOk ||
            reader.SkipPayload(entry.compressedSize) != ReadStatus::kOk) {
            std::fprintf(stderr, "apply_bench: %s: %s\n", path.c_str(), reader.Problem().c_str());
            return false;
        }
        entries.push_back(
            {reader.Offset() - entry.compressedSize, entry.compressedSize, entry.uncompressedSize});
    }
    return true;
}

bool LoadTheDecompressor() {
    g_pfnUncompress = reinterpret_cast<UncompressFunction>(
        LoadLibrarySymbol(SharedLibraryFileName(kDecompressorLibrary), kDecompressorEntry));
    if (!g_pfnUncompress) std::fprintf(stderr, "apply_bench: no decompressor library found\n");
    return g_pfnUncompress != nullptr;
}

int List(const std::string& path) {
    std::vector<Listed> entries;
    if (!ListPackage(path, entries)) return 1;
    std::uint64_t files = 0, packed = 0;
    Listed largest;
    for (const Listed& e : entries) {
        files += e.uncompressed;
        packed += e.compressed;
        if (std::uint64_t{e.compressed} + e.uncompressed >
            std::uint64_t{largest.compressed} + largest.uncompressed) {
            largest = e;
        }
    }
    std::printf(
        "entries=%zu files-bytes=%llu packed-bytes=%llu largest-entry-bytes=%llu "
        "largest-compressed=%u largest-uncompressed=%u\n",
        entries.size(), static_cast<unsigned long long>(files),
        static_cast<unsigned long long>(packed),
        static_cast<unsigned long long>(std::uint64_t{largest.compressed} + largest.uncompressed),
        largest.compressed, largest.uncompressed);
    return 0;
}

int Apply(const std::string& packagePath, const std::string& directory, bool sync) {
    if (!LoadTheDecompressor()) return 1;
    const long startRss = PeakRssKib();
    File package;
    if (!package.Open(packagePath, File::Mode::kRead)) {
        std::fprintf(stderr, "apply_bench: cannot open %s\n", packagePath.c_str());
        return 1;
    }
    if (::mkdir(directory.c_str(), 0755) != 0 || ::chdir(directory.c_str()) != 0) {
        std::fprintf(stderr, "apply_bench: cannot make and enter %s\n", directory.c_str());
        return 1;
    }
    AnonSampler sampler;
    const auto start = Clock::now();
    std::string problem;
    const ApplyResult result = ApplyPatchPackageWithResult(package, &problem);
    const double seconds = Since(start);
    const long peakAnon = sampler.Stop();
    if (result != ApplyResult::kApplied) {
        std::fprintf(stderr, "apply_bench: not applied: %s\n", problem.c_str());
        return 1;
    }
    double syncSeconds = 0;
    if (sync) {
        const auto syncStart = Clock::now();
        if (!SyncInstallation()) {
            std::fprintf(stderr, "apply_bench: the sync failed\n");
            return 1;
        }
        syncSeconds = Since(syncStart);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "seconds=%.4f sync-seconds=%.4f peak-rss-kib=%ld start-rss-kib=%ld peak-anon-kib=%ld "
        "user-seconds=%.3f system-seconds=%.3f minor-faults=%ld\n",
        seconds, syncSeconds, PeakRssKib(), startRss, peakAnon, Seconds(usage.ru_utime),
        Seconds(usage.ru_stime), usage.ru_minflt);
    return 0;
}

int SystemZlib(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
               unsigned long sourceLen) {
    return ::uncompress(dest, destLen, source, sourceLen);
}

int Inflate(const std::string& path, bool fromMemory, bool zlib) {
    if (zlib) {
        g_pfnUncompress = &SystemZlib;
    } else if (!LoadTheDecompressor()) {
        return 1;
    }
    std::vector<Listed> entries;
    if (!ListPackage(path, entries)) return 1;
    std::uint32_t largestOut = 1, largestIn = 1;
    for (const Listed& e : entries) {
        largestOut = std::max(largestOut, e.uncompressed);
        largestIn = std::max(largestIn, e.compressed);
    }
    // Touched before the clock starts, so the reference pays no page faults.
    std::vector<unsigned char> output(largestOut, 1);
    std::string bytes;
    if (fromMemory && !ReadWholeFile(path, bytes)) {
        std::fprintf(stderr, "apply_bench: cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<unsigned char> input(fromMemory ? 1 : largestIn, 1);
    File file;
    if (!file.Open(path, File::Mode::kRead)) return 1;

    std::uint64_t produced = 0;
    const auto start = Clock::now();
    PackageReader reader(file);
    std::int32_t count = 0;
    if (!fromMemory && reader.ReadHeader(count) != ReadStatus::kOk) return 1;
    PackageEntry entry;
    for (const Listed& e : entries) {
        const unsigned char* payload = nullptr;
        if (fromMemory) {
            payload = reinterpret_cast<const unsigned char*>(bytes.data()) + e.offset;
        } else {
            if (reader.ReadEntry(entry) != ReadStatus::kOk ||
                reader.ReadPayload(input.data(), entry.compressedSize) != ReadStatus::kOk) {
                std::fprintf(stderr, "apply_bench: %s\n", reader.Problem().c_str());
                return 1;
            }
            payload = input.data();
        }
        unsigned long size = e.uncompressed;
        if (g_pfnUncompress(output.data(), &size, payload, e.compressed) != 0) {
            std::fprintf(stderr, "apply_bench: a payload does not decompress\n");
            return 1;
        }
        produced += size;
    }
    const double seconds = Since(start);
    std::printf("seconds=%.4f bytes=%llu\n", seconds, static_cast<unsigned long long>(produced));
    return 0;
}

// The floor for any applier that decompresses: the package in memory (read
// before the clock starts) and its payloads decompressed on every core at
// once, each thread taking the next entry; nothing is written.
int InflateOnAllCores(const std::string& path) {
    if (!LoadTheDecompressor()) return 1;
    std::vector<Listed> entries;
    if (!ListPackage(path, entries)) return 1;
    std::uint32_t largestOut = 1;
    for (const Listed& e : entries) largestOut = std::max(largestOut, e.uncompressed);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        std::fprintf(stderr, "apply_bench: cannot read %s\n", path.c_str());
        return 1;
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::vector<unsigned char>> outputs(cores,
                                                    std::vector<unsigned char>(largestOut, 1));
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> produced{0};
    std::atomic<bool> failed{false};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < cores; ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t i = next++; i < entries.size(); i = next++) {
                const Listed& e = entries[i];
                unsigned long size = e.uncompressed;
                if (g_pfnUncompress(outputs[t].data(), &size,
                                    reinterpret_cast<const unsigned char*>(bytes.data()) + e.offset,
                                    e.compressed) != 0) {
                    failed = true;
                }
                produced += size;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    const double seconds = Since(start);
    if (failed) {
        std::fprintf(stderr, "apply_bench: a payload does not decompress\n");
        return 1;
    }
    std::printf("seconds=%.4f bytes=%llu threads=%u\n", seconds,
                static_cast<unsigned long long>(produced.load()), cores);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: apply_bench list PACKAGE\n"
                 "       apply_bench apply PACKAGE DIRECTORY [--sync]\n"
                 "       apply_bench inflate PACKAGE [--from-memory] [--zlib]\n"
                 "       apply_bench inflate PACKAGE --all-cores\n");
    return 2;
}

}  // namespace
}  // namespace launcher

int main(int argc, char** argv) {
    using namespace launcher;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "list") return List(args[1]);
    if (args.size() == 3 && args[0] == "inflate" && args[2] == "--all-cores") {
        return InflateOnAllCores(args[1]);
    }
    if (args.size() >= 2 && args.size() <= 4 && args[0] == "inflate") {
        bool fromMemory = false, zlib = false;
        for (std::size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "--from-memory") {
                fromMemory = true;
            } else if (args[i] == "--zlib") {
                zlib = true;
            } else {
                return Usage();
            }
        }
        return Inflate(args[1], fromMemory, zlib);
    }
    if ((args.size() == 3 || (args.size() == 4 && args[3] == "--sync")) && args[0] == "apply") {
        return Apply(args[1], args[2], args.size() == 4);
    }
    return Usage();
}
