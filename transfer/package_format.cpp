#include "transfer/package_format.h"

#include <cstring>
#include <new>

#include "platform/code_page.h"
#include "platform/file_mapping.h"

namespace launcher {

void PutUint32(unsigned char* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t GetUint32(const unsigned char* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

namespace {

void AppendUint32(std::string& out, std::uint32_t value) {
    unsigned char bytes[4];
    PutUint32(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), 4);
}

// Why the launcher would refuse `name`, or nullptr.
const char* UnsafeReason(std::string_view name) {
    if (name.empty()) return "empty name";
    if (name.front() == '\\') return "absolute name";
    if (name.find('/') != std::string_view::npos) return "name contains '/'";
    if (name.find(':') != std::string_view::npos) return "name contains ':' (drive prefix)";
    std::size_t start = 0;
    for (;;) {
        std::size_t end = name.find(kPackageSeparator, start);
        std::string_view part =
            name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part == "..") return "name has a '..' part";
        if (part == kTemporaryFileName) return "name uses the applier's temporary file name";
        if (end == std::string_view::npos) {
            if (part.empty() || part == ".") return "name does not end in a file name";
            return nullptr;
        }
        start = end + 1;
    }
}

}  // namespace

std::string EncodePackageHeader(std::int32_t entryCount) {
    std::string out;
    AppendUint32(out, static_cast<std::uint32_t>(entryCount));
    return out;
}

std::string EncodeEntryHeader(std::string_view name, std::uint32_t uncompressedSize,
                              std::uint32_t compressedSize) {
    std::string out;
    out.reserve(kEntryFixedBytes + name.size() + 1);
    AppendUint32(out, static_cast<std::uint32_t>(name.size() + 1));
    out.append(name);
    out.push_back('\0');
    AppendUint32(out, uncompressedSize);
    AppendUint32(out, compressedSize);
    return out;
}

std::string CheckStorableName(std::string_view name) {
    if (name.size() > kMaxNameBytes) {
        return "name of " + std::to_string(name.size()) + " bytes (at most " +
               std::to_string(kMaxNameBytes) + " fit)";
    }
    if (name.find('\0') != std::string_view::npos) return "name contains a zero byte";
    if (const char* reason = UnsafeReason(name)) {
        return std::string(reason) + ": the launcher refuses it";
    }
    return {};
}

namespace {
constexpr std::uint64_t kMostInflation = 1032;
constexpr std::uint64_t kStreamOverhead = 64;
}  // namespace

std::uint64_t MostInflatedSize(std::uint32_t compressedSize) {
    return kMostInflation * compressedSize + kStreamOverhead;
}

std::uint32_t OutputCapacity(std::uint32_t uncompressedSize, std::uint32_t compressedSize) {
    const std::uint64_t most = MostInflatedSize(compressedSize);
    return uncompressedSize < most ? uncompressedSize : static_cast<std::uint32_t>(most);
}

bool FitsCompressedSize(std::uint32_t uncompressedSize, std::uint32_t compressedSize) {
    return uncompressedSize <= MostInflatedSize(compressedSize);
}

std::string ExceedsCompressedSize(std::uint32_t uncompressedSize, std::uint32_t compressedSize) {
    return "uncompressed size " + std::to_string(uncompressedSize) + " is more than " +
           std::to_string(compressedSize) + " compressed bytes can hold";
}

bool IsSafeEntryName(std::string_view name) { return UnsafeReason(name) == nullptr; }

std::string ToLocalPath(std::string_view name) {
    // Split by bytes first, as the launcher always has: a 0x5C that ends a
    // double-byte character still separates.
    std::string path;
    std::string part;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find(kPackageSeparator, start);
        if (!PackageNameToUtf8(name.substr(start, end - start), part)) return {};
        path += part;
        if (end == std::string_view::npos) return path;
        path += kPathSeparator;
        start = end + 1;
    }
}

PackageReader::PackageReader(File& file) : file_(file), left_(file.Remaining()) {}

ReadStatus PackageReader::Fail(ReadStatus status, std::uint64_t at, std::string what) {
    problem_ = "byte " + std::to_string(at) + ": " + what;
    return status;
}

namespace {
constexpr std::size_t kReadAhead = std::size_t{256} << 10;
}  // namespace

ReadStatus PackageReader::Read(void* buffer, std::size_t size, const char* what) {
    if (left_ < 0) return Fail(ReadStatus::kReadError, offset_, "cannot take the package's size");
    if (static_cast<unsigned long long>(left_) < size) {
        return Fail(ReadStatus::kDamaged, offset_,
                    std::string(what) + " cut short (" + std::to_string(size) + " bytes needed, " +
                        std::to_string(left_) + " left)");
    }
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t wanted = size;
    const std::size_t held = aheadEnd_ - aheadAt_;
    const std::size_t first = held < wanted ? held : wanted;
    if (first > 0) std::memcpy(out, ahead_.get() + aheadAt_, first);
    aheadAt_ += first;
    out += first;
    wanted -= first;
    if (wanted > 0) {
        // Whatever the file still holds of the package beyond what was needed
        // is read ahead, up to kReadAhead; a large read goes straight to its
        // destination.
        const auto inFile = static_cast<unsigned long long>(left_) - first;
        bool read;
        if (wanted >= kReadAhead) {
            read = file_.ReadExact(out, wanted);
        } else {
            if (!ahead_) ahead_.reset(new (std::nothrow) unsigned char[kReadAhead]);
            const std::size_t fill =
                !ahead_ ? wanted : static_cast<std::size_t>(inFile < kReadAhead ? inFile : kReadAhead);
            if (!ahead_) {
                read = file_.ReadExact(out, wanted);
            } else {
                read = file_.ReadExact(ahead_.get(), fill);
                if (read) {
                    std::memcpy(out, ahead_.get(), wanted);
                    aheadAt_ = wanted;
                    aheadEnd_ = fill;
                }
            }
        }
        if (!read) {
            aheadAt_ = aheadEnd_ = 0;
            return Fail(ReadStatus::kReadError, offset_, std::string("cannot read ") + what);
        }
    }
    offset_ += size;
    left_ -= static_cast<long long>(size);
    return ReadStatus::kOk;
}

ReadStatus PackageReader::ReadHeader(std::int32_t& entryCount) {
    unsigned char bytes[4];
    ReadStatus status = Read(bytes, sizeof bytes, "entry count");
    if (status == ReadStatus::kOk) entryCount = static_cast<std::int32_t>(GetUint32(bytes));
    return status;
}

ReadStatus PackageReader::ReadEntry(PackageEntry& entry) {
    entry.offset = offset_;
    unsigned char field[4];
    if (ReadStatus status = Read(field, sizeof field, "name length"); status != ReadStatus::kOk) {
        return status;
    }
    std::uint32_t nameLength = GetUint32(field);
    if (nameLength == 0 || nameLength > kMaxNameLength) {
        return Fail(ReadStatus::kDamaged, entry.offset,
                    "name length " + std::to_string(nameLength) + " outside 1.." +
                        std::to_string(kMaxNameLength));
    }
    // The name and both sizes in one read.
    unsigned char buffer[kMaxNameLength + 8];
    if (ReadStatus status = Read(buffer, nameLength + 8, "name and sizes");
        status != ReadStatus::kOk) {
        return status;
    }
    const char* name = reinterpret_cast<const char*>(buffer);
    std::string_view stored(name, nameLength);
    std::size_t zero = stored.find('\0');
    if (zero == std::string_view::npos) {
        return Fail(ReadStatus::kDamaged, entry.offset + 4, "name without its zero byte");
    }
    entry.name.assign(name, zero);
    entry.uncompressedSize = GetUint32(buffer + nameLength);
    entry.compressedSize = GetUint32(buffer + nameLength + 4);
    if (static_cast<unsigned long long>(left_) < entry.compressedSize) {
        return Fail(ReadStatus::kDamaged, offset_,
                    "payload of " + std::to_string(entry.compressedSize) + " bytes, only " +
                        std::to_string(left_) + " left in the package");
    }
    return ReadStatus::kOk;
}

ReadStatus PackageReader::ReadPayload(unsigned char* buffer, std::uint32_t size) {
    return Read(buffer, size, "payload");
}

ReadStatus PackageReader::PassPayload(std::uint32_t size, std::uint64_t& at) {
    if (left_ < 0) return Fail(ReadStatus::kReadError, offset_, "cannot take the package's size");
    if (static_cast<unsigned long long>(left_) < size) {
        return Fail(ReadStatus::kDamaged, offset_,
                    "payload cut short (" + std::to_string(size) + " bytes needed, " +
                        std::to_string(left_) + " left)");
    }
    // The file stands `held` bytes past the payload's start.
    const std::size_t held = aheadEnd_ - aheadAt_;
    const std::size_t inHand = held < size ? held : size;
    std::uint64_t filePosition = 0;
    if (!MappedFileRegion::Skip(file_, size - inHand, filePosition)) {
        return Fail(ReadStatus::kReadError, offset_, "cannot pass over the payload");
    }
    at = filePosition - held;
    aheadAt_ += inHand;
    offset_ += size;
    left_ -= static_cast<long long>(size);
    return ReadStatus::kOk;
}

ReadStatus PackageReader::SkipPayload(std::uint32_t size) {
    unsigned char chunk[65536];
    while (size > 0) {
        std::uint32_t step = size < sizeof chunk ? size : static_cast<std::uint32_t>(sizeof chunk);
        if (ReadStatus status = Read(chunk, step, "payload"); status != ReadStatus::kOk) {
            return status;
        }
        size -= step;
    }
    return ReadStatus::kOk;
}

}  // namespace launcher
