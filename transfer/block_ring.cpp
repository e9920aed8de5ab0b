#include "transfer/block_ring.h"

#include <new>

namespace launcher {

BlockRing::BlockRing(std::size_t size) : block_(new (std::nothrow) unsigned char[size]) {
    if (block_) size_ = size;
}

unsigned char* BlockRing::Take(std::size_t bytes) {
    if (bytes > size_) return nullptr;
    std::size_t start = 0;
    if (!regions_.empty()) {
        const std::size_t oldest = regions_.front().start;
        const std::size_t head = regions_.back().end;
        if (head >= oldest) {
            // In use: [oldest, head). After it, else from the block's start.
            if (size_ - head >= bytes) {
                start = head;
            } else if (oldest > bytes) {
                start = 0;
            } else {
                return nullptr;
            }
        } else if (oldest - head > bytes) {
            // Wrapped: in use from oldest to the end and from 0 to head.
            start = head;
        } else {
            return nullptr;
        }
    }
    regions_.push_back({start, start + bytes});
    return block_.get() + start;
}

void BlockRing::GiveBackOldest() { regions_.pop_front(); }

void BlockRing::GiveBackNewest() { regions_.pop_back(); }

}  // namespace launcher
