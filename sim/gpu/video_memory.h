// The simulated GPU's video memory: one namespaced POSIX shared-memory object that every client
// maps, split into pools, each with a first-fit allocator whose freed blocks are poisoned.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "gpu_profile.h"

namespace veld::gpusim {

// First-fit allocation inside one range of offsets. Blocks are kept by offset; neighbouring
// free blocks merge. All arithmetic is in 64 bits and refuses what would wrap.
class RangeAllocator {
public:
    explicit RangeAllocator(PoolRange range);

    // Offset of a new block of at least `bytes` (rounded up to the granule) at an offset that is
    // a multiple of `alignment` (a power of two, at least the granule), or nothing.
    std::optional<uint64_t> allocate(uint64_t bytes, uint64_t alignment, uint64_t& granted);
    // Size of the used block at `offset`, or 0 when there is none.
    uint64_t blockSize(uint64_t offset) const;
    // Frees the used block at `offset`; false when there is none.
    bool release(uint64_t offset);

    PoolRange range() const { return range_; }
    uint64_t usedBytes() const { return used_; }
    size_t usedBlocks() const;
    uint64_t largestFree() const;

private:
    struct Block {
        uint64_t bytes;
        bool used;
    };
    PoolRange range_;
    std::map<uint64_t, Block> blocks_;
    uint64_t used_ = 0;
};

class VideoMemory {
public:
    VideoMemory();
    ~VideoMemory();
    VideoMemory(const VideoMemory&) = delete;
    VideoMemory& operator=(const VideoMemory&) = delete;

    // Creates the shared object (seam::ipcName("/veld-gpu-vidmem")) and maps it.
    bool create(std::string& error);

    int fd() const { return fd_; }
    uint8_t* bytes() const { return map_; }
    const std::string& name() const { return name_; }

    // True when [offset, offset + bytes) lies inside the object (64-bit, no wrap).
    static bool inside(uint64_t offset, uint64_t bytes) {
        return offset <= kVideoBytes && bytes <= kVideoBytes - offset;
    }

    RangeAllocator internal{kInternalPool};
    RangeAllocator external{kExternalPool};
    RangeAllocator contiguous{kContiguousPool};

    // The allocator whose range holds `offset`.
    RangeAllocator* allocatorOf(uint64_t offset);
    // Frees the block at `offset` in whichever pool holds it and poisons its bytes.
    bool release(uint64_t offset);

private:
    std::string name_;
    int fd_ = -1;
    uint8_t* map_ = nullptr;
};

}  // namespace veld::gpusim
