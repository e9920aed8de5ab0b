#include "engine/installation_scan.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/files.h"
#include "transfer/package_format.h"

namespace launcher {

namespace {

constexpr std::size_t kHashBlock = 1 << 20;
constexpr std::string_view kStateMagic = "CORVATHEON2-STATE 1";

bool Matches(const IndexedFile& file, const ContentHashMaker& newHash, std::vector<char>& block) {
    const std::string path = ToLocalPath(file.name);
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    if (path.empty() || !FileStamp(path, size, modified) || size != file.size) return false;
    File in;
    if (!in.Open(path, File::Mode::kRead)) return false;
    std::unique_ptr<IContentHash> hash = newHash();
    std::uint64_t read = 0;
    for (;;) {
        const long long got = in.ReadSome(block.data(), block.size());
        if (got < 0) return false;
        if (got == 0) break;
        hash->Update(block.data(), static_cast<std::size_t>(got));
        read += static_cast<std::uint64_t>(got);
    }
    return read == file.size && hash->FinishHex() == file.sha256;
}

}  // namespace

std::vector<std::size_t> FindDamagedFiles(const std::vector<IndexedFile>& files,
                                          const std::vector<std::size_t>& which,
                                          const ContentHashMaker& newHash) {
    std::vector<char> damaged(which.size(), 0);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        std::vector<char> block(kHashBlock);
        for (std::size_t i; (i = next++) < which.size();)
            damaged[i] = !Matches(files[which[i]], newHash, block);
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < cores && i < which.size(); ++i) helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers) helper.join();
    std::vector<std::size_t> result;
    for (std::size_t i = 0; i < which.size(); ++i)
        if (damaged[i]) result.push_back(which[i]);
    return result;
}

bool WriteInstallationState(const FileIndex& index) {
    std::string text(kStateMagic);
    text += "\n";
    for (const IndexedFile& file : index.files) {
        std::uint64_t size = 0;
        std::int64_t modified = 0;
        if (!FileStamp(ToLocalPath(file.name), size, modified)) continue;
        text += std::to_string(size) + " " + std::to_string(modified) + " " + file.name + "\n";
    }
    return ReplaceFileAtomically(kIndexStateFile, text.data(), text.size());
}

bool ReadInstallationState(InstallationState& state) {
    std::string text;
    if (!ReadWholeFile(kIndexStateFile, text)) return false;
    state.clear();
    std::size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) return false;
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (first) {
            if (line != kStateMagic) return false;
            first = false;
            continue;
        }
        const std::size_t a = line.find(' ');
        const std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
        if (b == std::string::npos) return false;
        try {
            state[line.substr(b + 1)] = {std::stoull(line.substr(0, a)),
                                         std::stoll(line.substr(a + 1, b - a - 1))};
        } catch (...) {
            return false;
        }
    }
    return !first;
}

std::vector<std::string> ChangedSinceRecorded(const InstallationState& state) {
    std::vector<std::string> changed;
    for (const auto& [name, stamp] : state) {
        std::uint64_t size = 0;
        std::int64_t modified = 0;
        if (!FileStamp(ToLocalPath(name), size, modified) || size != stamp.first ||
            modified != stamp.second)
            changed.push_back(name);
    }
    return changed;
}

}  // namespace launcher
