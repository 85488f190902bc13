// Video memory of the GPU simulator (see video_memory.h).
#include "video_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "seam.h"

namespace veld::gpusim {

RangeAllocator::RangeAllocator(PoolRange range) : range_(range) {
    blocks_[range.offset] = Block{range.bytes, false};
}

std::optional<uint64_t> RangeAllocator::allocate(uint64_t bytes, uint64_t alignment,
                                                 uint64_t& granted) {
    if (bytes == 0 || bytes > range_.bytes) return std::nullopt;
    if (alignment < kGranule) alignment = kGranule;
    if ((alignment & (alignment - 1)) != 0 || alignment > kMaxAlignment) return std::nullopt;
    const uint64_t size = (bytes + kGranule - 1) & ~(kGranule - 1);
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
        if (it->second.used) continue;
        const uint64_t start = it->first;
        const uint64_t aligned = (start + alignment - 1) & ~(alignment - 1);
        const uint64_t lead = aligned - start;
        if (lead > it->second.bytes || it->second.bytes - lead < size) continue;
        const uint64_t tail = it->second.bytes - lead - size;
        if (lead > 0) {
            it->second.bytes = lead;
            it = blocks_.emplace_hint(std::next(it), aligned, Block{size, true});
        } else {
            it->second = Block{size, true};
        }
        if (tail > 0) blocks_.emplace_hint(std::next(it), aligned + size, Block{tail, false});
        used_ += size;
        granted = size;
        return aligned;
    }
    return std::nullopt;
}

uint64_t RangeAllocator::blockSize(uint64_t offset) const {
    auto it = blocks_.find(offset);
    return it != blocks_.end() && it->second.used ? it->second.bytes : 0;
}

bool RangeAllocator::release(uint64_t offset) {
    auto it = blocks_.find(offset);
    if (it == blocks_.end() || !it->second.used) return false;
    it->second.used = false;
    used_ -= it->second.bytes;
    auto next = std::next(it);
    if (next != blocks_.end() && !next->second.used) {
        it->second.bytes += next->second.bytes;
        blocks_.erase(next);
    }
    if (it != blocks_.begin()) {
        auto prev = std::prev(it);
        if (!prev->second.used) {
            prev->second.bytes += it->second.bytes;
            blocks_.erase(it);
        }
    }
    return true;
}

size_t RangeAllocator::usedBlocks() const {
    size_t n = 0;
    for (const auto& [offset, block] : blocks_) n += block.used ? 1 : 0;
    return n;
}

uint64_t RangeAllocator::largestFree() const {
    uint64_t largest = 0;
    for (const auto& [offset, block] : blocks_)
        if (!block.used && block.bytes > largest) largest = block.bytes;
    return largest;
}

VideoMemory::VideoMemory() : name_(seam::ipcName("/veld-gpu-vidmem")) {}

VideoMemory::~VideoMemory() {
    if (map_) ::munmap(map_, kVideoBytes);
    if (fd_ >= 0) {
        ::close(fd_);
        ::shm_unlink(name_.c_str());
    }
}

bool VideoMemory::create(std::string& error) {
    ::shm_unlink(name_.c_str());  // a simulator that was killed leaves its object behind
    fd_ = ::shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error = "shm_open " + name_ + ": " + std::strerror(errno);
        return false;
    }
    if (::ftruncate(fd_, static_cast<off_t>(kVideoBytes)) != 0) {
        error = "ftruncate " + name_ + ": " + std::strerror(errno);
        return false;
    }
    void* p = ::mmap(nullptr, kVideoBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) {
        error = "mmap " + name_ + ": " + std::strerror(errno);
        return false;
    }
    map_ = static_cast<uint8_t*>(p);
    std::memset(map_, kPoison, kVideoBytes);
    return true;
}

RangeAllocator* VideoMemory::allocatorOf(uint64_t offset) {
    for (RangeAllocator* a : {&internal, &external, &contiguous})
        if (offset - a->range().offset < a->range().bytes) return a;
    return nullptr;
}

bool VideoMemory::release(uint64_t offset) {
    RangeAllocator* a = allocatorOf(offset);
    if (!a) return false;
    const uint64_t bytes = a->blockSize(offset);
    if (bytes == 0 || !a->release(offset)) return false;
    std::memset(map_ + offset, kPoison, bytes);
    return true;
}

}  // namespace veld::gpusim
