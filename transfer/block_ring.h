// The memory entries pass through while a package is applied: one block taken
// once and handed out in turn, so that every entry writes into memory the
// process has already touched. Fresh memory costs a page fault per page, and
// on a virtual machine that hands free memory back to its host, a fault in the
// host as well: more than decompressing into it.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>

namespace launcher {

// Regions are given back in the order they were taken (entries are written in
// package order), so the block is used as a ring. Not synchronised.
class BlockRing {
public:
    // Takes `size` bytes now; Size() is 0 when they cannot be had.
    explicit BlockRing(std::size_t size);

    std::size_t Size() const { return size_; }
    // A region of `bytes` (at most Size()) after every region in use, or null
    // while it does not fit between them.
    unsigned char* Take(std::size_t bytes);
    // Gives back the oldest region in use.
    void GiveBackOldest();
    // Gives back the newest region in use.
    void GiveBackNewest();

private:
    struct Region {
        std::size_t start;
        std::size_t end;
    };
    std::unique_ptr<unsigned char[]> block_;
    std::size_t size_ = 0;
    std::deque<Region> regions_;  // in use, oldest first
};

}  // namespace launcher
