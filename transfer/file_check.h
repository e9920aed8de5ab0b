// What the fetcher needs to check a file that a signed manifest describes: its
// size, and a hash fed with every byte of the local file in order (a kept
// prefix first, then what arrives), so that no second pass over the file is
// needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace launcher {

class IFileCheck {
public:
    virtual ~IFileCheck() = default;
    // The file's size; the fetcher never keeps more than this.
    virtual std::uint64_t Size() const = 0;
    // A new attempt: hashing starts over at byte 0.
    virtual void Begin() = 0;
    virtual void Update(const char* data, std::size_t size) = 0;
    // After Size() bytes were fed: whether they are the announced ones.
    virtual bool Matches() = 0;
};

// Feeds the first `size` bytes of `path` to `check`; false when they cannot be
// read.
bool FeedFilePrefix(const std::string& path, std::uint64_t size, IFileCheck& check);

}  // namespace launcher
