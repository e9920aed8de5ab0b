// A hash of file contents (SHA-256 in this launcher), handed in by whoever
// links a cryptography library, so that this layer needs none.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace launcher {

class IContentHash {
public:
    virtual ~IContentHash() = default;
    virtual void Update(const void* data, std::size_t size) = 0;
    // Lower-case hex of everything fed so far.
    virtual std::string FinishHex() = 0;
};

using ContentHashMaker = std::function<std::unique_ptr<IContentHash>()>;

// SHA-256 of this build's cryptography library; empty when it was built
// without one (defined by launcher_built_in_hash).
ContentHashMaker BuiltInContentHash();

}  // namespace launcher
