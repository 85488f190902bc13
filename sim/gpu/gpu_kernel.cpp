// The simulated GPU kernel driver's requests (see gpu_kernel.h).
#include "gpu_kernel.h"

#include <sys/uio.h>
#include <time.h>

#include <cinttypes>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "gal_request.h"
#include "gal_status.h"

namespace veld::gpusim {

using gal::field;
using gal::setField;

namespace {
// Where a client's addresses lie in its host process: 0, unless the clients run under a
// user-mode emulator whose guest memory starts at a fixed host address (qemu-user's -B), which
// the test runner then passes as VELD_SIM_GUEST_BASE.
uint64_t guestBase() {
    static const uint64_t base = [] {
        const char* text = std::getenv("VELD_SIM_GUEST_BASE");
        return text ? std::strtoull(text, nullptr, 0) : 0;
    }();
    return base;
}
}  // namespace

bool ProcessMemory::read(uint32_t pid, uint64_t address, void* out, size_t bytes) {
    if (bytes == 0) return true;
    if (address == 0 || address + bytes < address) return false;
    iovec local{out, bytes};
    iovec remote{reinterpret_cast<void*>(static_cast<uintptr_t>(address + guestBase())), bytes};
    return ::process_vm_readv(static_cast<pid_t>(pid), &local, 1, &remote, 1, 0) ==
           static_cast<ssize_t>(bytes);
}

bool ProcessMemory::write(uint32_t pid, uint64_t address, const void* in, size_t bytes) {
    if (bytes == 0) return true;
    if (address == 0 || address + bytes < address) return false;
    iovec local{const_cast<void*>(in), bytes};
    iovec remote{reinterpret_cast<void*>(static_cast<uintptr_t>(address + guestBase())), bytes};
    return ::process_vm_writev(static_cast<pid_t>(pid), &local, 1, &remote, 1, 0) ==
           static_cast<ssize_t>(bytes);
}

namespace {

constexpr uint32_t kNodeIndexMask = 0xFFFF;
constexpr uint32_t kReservedHead = 32;  // bytes at the start of a submission kept for the kernel

uint64_t nowMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

// The logical address of `offset` in a client, and back; 0 / false when outside its mapping.
uint64_t logicalOf(const Client& c, uint64_t offset) { return c.mapBase + offset; }
bool offsetOf(const Client& c, uint64_t logical, uint64_t bytes, uint64_t& offset) {
    if (logical < c.mapBase) return false;
    offset = logical - c.mapBase;
    return VideoMemory::inside(offset, bytes);
}

}  // namespace

GpuKernel::GpuKernel(VideoMemory& memory, const ChipProfile& profile)
    : memory_(memory),
      profile_(&profile),
      nodes_(1),
      core_(memory.bytes(), profile,
            [this](uint64_t offset, uint64_t bytes) { return insideNode(offset, bytes); },
            [this](const char* what, uint64_t a, uint64_t b) { fault(what, a, b); }) {
    core_.setUserMemory([this](uint64_t address, uint64_t first, uint64_t bytes) {
        return stageUserMemory(address, first, bytes);
    });
}

uint8_t* GpuKernel::stageUserMemory(uint64_t address, uint64_t first, uint64_t bytes) {
    auto it = userMappings_.upper_bound(std::min(address, first));
    if (it == userMappings_.begin()) return nullptr;
    --it;
    const uint64_t gpu = it->first, end = gpu + it->second.bytes;
    if (address >= end || first + bytes > end || bytes == 0) return nullptr;
    for (StagedMapping& s : staged_)
        if (s.gpu == gpu) return s.pixels.data() + (address - gpu);
    StagedMapping s{gpu, &it->second, std::vector<uint8_t>(it->second.bytes), {}};
    if (!ProcessMemory::read(it->second.pid, it->second.address, s.original.data(), s.original.size())) {
        fault("user memory no longer readable in its process", it->second.address, it->second.bytes);
        return nullptr;
    }
    s.pixels = s.original;
    staged_.push_back(std::move(s));
    return staged_.back().pixels.data() + (address - gpu);
}

void GpuKernel::writeBackUserMemory() {
    for (const StagedMapping& s : staged_) {
        const uint8_t* before = s.original.data();
        const uint8_t* after = s.pixels.data();
        size_t lo = 0, hi = s.pixels.size();
        while (lo < hi && before[lo] == after[lo]) ++lo;
        while (hi > lo && before[hi - 1] == after[hi - 1]) --hi;
        if (lo < hi && !ProcessMemory::write(s.mapping->pid, s.mapping->address + lo, after + lo, hi - lo))
            fault("user memory no longer writable in its process", s.mapping->address + lo, hi - lo);
    }
    staged_.clear();
}

bool GpuKernel::insideNode(uint64_t offset, uint64_t bytes) const {
    for (const Node& n : nodes_)
        if (n.live && !n.released && offset >= n.offset && bytes <= n.bytes &&
            offset - n.offset <= n.bytes - bytes)
            return true;
    return false;
}

// Decodes a committed stream and runs it on the 2D core; a malformed stream is refused whole.
int32_t GpuKernel::runStream(std::span<const uint32_t> words) {
    std::vector<Command> commands;
    DecodeError error;
    if (!decodeStream(words, commands, error)) {
        char what[160];
        std::snprintf(what, sizeof what, "malformed command stream: %s", error.reason.c_str());
        fault(what, error.offset, words.size() * 4);
        return gcvSTATUS_INVALID_DATA;
    }
    lastStream_.assign(words.begin(), words.end());
    core_.execute(commands);
    writeBackUserMemory();
    return gcvSTATUS_OK;
}

void GpuKernel::fault(const char* what, uint64_t a, uint64_t b) {
    ++faults_;
    char text[160];
    std::snprintf(text, sizeof text, "%s (0x%" PRIx64 ", 0x%" PRIx64 ")", what, a, b);
    lastFault_ = text;
    std::fprintf(stderr, "veld_gpu: GPU fault %" PRIu64 ": %s\n", faults_, text);
}

GpuKernel::Outcome GpuKernel::handle(const Client& client, gcsIO_REQUEST& r) {
    ++requests_;
    if (r.command == CMD_USER_SIGNAL && field<uint32_t>(r, 0) == USER_SIGNAL_WAIT) {
        auto it = signals_.find(field<uint32_t>(r, 4));
        if (it == signals_.end()) {
            r.status = gcvSTATUS_INVALID_ARGUMENT;
            return Outcome::Done;
        }
        if (retryWait(r)) return Outcome::Done;
        if (field<uint32_t>(r, 12) == 0) {
            r.status = gcvSTATUS_TIMEOUT;
            return Outcome::Done;
        }
        return Outcome::Wait;
    }
    r.status = dispatch(client, r, false);
    return Outcome::Done;
}

bool GpuKernel::retryWait(gcsIO_REQUEST& r) {
    auto it = signals_.find(field<uint32_t>(r, 4));
    if (it == signals_.end()) {  // destroyed while waited on
        r.status = gcvSTATUS_INVALID_ARGUMENT;
        return true;
    }
    if (!it->second.state) return false;
    if (!it->second.manualReset) it->second.state = false;
    r.status = gcvSTATUS_OK;
    return true;
}

int32_t GpuKernel::dispatch(const Client& c, gcsIO_REQUEST& r, bool deferred) {
    if (r.hardwareType < HW_TYPE_3D || r.hardwareType > HW_TYPE_COMBINED)
        return gcvSTATUS_INVALID_ARGUMENT;
    switch (r.command) {
    case CMD_QUERY_VIDEO_MEMORY:
        setField<uint64_t>(r, 0, kPhysicalBase + kInternalPool.offset);
        setField<uint64_t>(r, 8, kInternalPool.bytes);
        setField<uint64_t>(r, 16, kPhysicalBase + kExternalPool.offset);
        setField<uint64_t>(r, 24, kExternalPool.bytes);
        setField<uint64_t>(r, 32, kPhysicalBase + kContiguousPool.offset);
        setField<uint64_t>(r, 40, kContiguousPool.bytes);
        return gcvSTATUS_OK;
    case CMD_QUERY_CHIP_IDENTITY:
        if (r.hardwareType == HW_TYPE_COMBINED) return gcvSTATUS_NOT_SUPPORTED;
        setField<uint32_t>(r, 0, profile_->model);
        setField<uint32_t>(r, 4, profile_->revision);
        for (size_t i = 0; i < profile_->features.size(); ++i)
            setField<uint32_t>(r, 8 + 4 * i, profile_->features[i]);
        setField<uint32_t>(r, 60, profile_->further[0]);
        setField<uint32_t>(r, 84, profile_->further[1]);
        setField<uint32_t>(r, 88, profile_->further[2]);
        return gcvSTATUS_OK;
    case CMD_ALLOCATE_NON_PAGED_MEMORY:
    case CMD_ALLOCATE_CONTIGUOUS_MEMORY:
    case CMD_ALLOCATE_COMMAND_BUFFER:
        return allocateContiguous(c, r, r.command);
    case CMD_FREE_NON_PAGED_MEMORY:
        return freeContiguous(c, r, CMD_ALLOCATE_NON_PAGED_MEMORY);
    case CMD_FREE_CONTIGUOUS_MEMORY:
        return freeContiguous(c, r, CMD_ALLOCATE_CONTIGUOUS_MEMORY);
    case CMD_FREE_COMMAND_BUFFER:
        return freeContiguous(c, r, CMD_ALLOCATE_COMMAND_BUFFER);
    case CMD_ALLOCATE_VIDEO_MEMORY:
        return allocateNode(c, r);
    case CMD_RELEASE_VIDEO_MEMORY:
        return releaseNode(c.pid, field<uint32_t>(r, 0));
    case CMD_MAP_MEMORY: {
        // Mapping happens in the caller's process; only a range the device cannot map
        // reaches the kernel.
        const uint64_t physical = field<uint64_t>(r, 0), bytes = field<uint64_t>(r, 8);
        fault("map of memory outside video memory", physical, bytes);
        return gcvSTATUS_INVALID_ADDRESS;
    }
    case CMD_UNMAP_MEMORY:
        return gcvSTATUS_OK;
    case CMD_MAP_USER_MEMORY:
        return mapUserMemory(c, r);
    case CMD_UNMAP_USER_MEMORY:
        return unmapUserMemory(c, r);
    case CMD_LOCK_VIDEO_MEMORY:
        return lockNode(c, r);
    case CMD_UNLOCK_VIDEO_MEMORY:
        return unlockNode(c.pid, r, deferred);
    case CMD_EVENT_COMMIT:
        if (deferred) return gcvSTATUS_INVALID_REQUEST;
        return runEvents(c, field<uint64_t>(r, 0), r.hardwareType);
    case CMD_USER_SIGNAL:
        return userSignal(c, r);
    case CMD_SIGNAL:
        // Deferred: the GPU has reached the event. Outside a queue it is a plain signal.
        return setSignal(field<uint32_t>(r, 0), true);
    case CMD_COMMIT:
        if (deferred) return gcvSTATUS_INVALID_REQUEST;
        return commit(c, r);
    case CMD_READ_REGISTER:
    case CMD_WRITE_REGISTER: {
        const uint32_t address = field<uint32_t>(r, 0);
        if (address >= kRegisterSpace || address % 4 != 0) {
            fault("register address out of range", address);
            return gcvSTATUS_INVALID_ADDRESS;
        }
        if (r.command == CMD_READ_REGISTER)
            setField<uint32_t>(r, 4, registers_[address]);
        else
            registers_[address] = field<uint32_t>(r, 4);
        return gcvSTATUS_OK;
    }
    case CMD_SET_PROFILE_SETTING:
    case CMD_SET_TIMEOUT:
    case CMD_CONFIG_POWER_MANAGEMENT:
        return gcvSTATUS_OK;
    case CMD_PROFILE_REGISTERS_2D: {
        // The counters of the 2D core: all zero in the simulator.
        const uint8_t zeros[64] = {};
        if (!ProcessMemory::write(c.pid, field<uint64_t>(r, 0), zeros, sizeof zeros)) {
            fault("profile counters outside the caller's memory", field<uint64_t>(r, 0));
            return gcvSTATUS_INVALID_ADDRESS;
        }
        return gcvSTATUS_OK;
    }
    case CMD_SET_POWER_MANAGEMENT_STATE:
        powerState_ = field<uint32_t>(r, 0);
        return gcvSTATUS_OK;
    case CMD_QUERY_POWER_MANAGEMENT_STATE:
        setField<uint32_t>(r, 0, powerState_);
        return gcvSTATUS_OK;
    case CMD_GET_BASE_ADDRESS:
        setField<uint32_t>(r, 0, static_cast<uint32_t>(kBaseAddress));
        return gcvSTATUS_OK;
    case CMD_CACHE:
        return cache(c, r);
    case CMD_TIMESTAMP:
        setField<uint64_t>(r, 8, nowMicros());
        return gcvSTATUS_OK;
    case CMD_VERSION:
        setField<uint32_t>(r, 0, version_.major);
        setField<uint32_t>(r, 4, version_.minor);
        setField<uint32_t>(r, 8, version_.patch);
        setField<uint32_t>(r, 12, version_.build);
        return gcvSTATUS_OK;
    case CMD_CHIP_INFO:
        setField<uint32_t>(r, 0, profile_->chipCount);
        for (uint32_t i = 0; i < profile_->chipCount; ++i)
            setField<uint32_t>(r, 4 + 4 * i, profile_->chipTypes[i]);
        return gcvSTATUS_OK;
    case CMD_ATTACH:
        contexts_[nextContext_] = c.pid;
        setField<uint32_t>(r, 0, nextContext_++);
        setField<uint64_t>(r, 8, 0);
        return gcvSTATUS_OK;
    case CMD_DETACH:
        return contexts_.erase(field<uint32_t>(r, 0)) ? gcvSTATUS_OK : gcvSTATUS_INVALID_ARGUMENT;
    case CMD_NAME_VIDEO_MEMORY: {
        Node* node = findNode(field<uint32_t>(r, 0));
        if (!node || !node->references.count(c.pid)) return gcvSTATUS_INVALID_OBJECT;
        if (node->name == 0) {
            node->name = nextName_++;
            names_[node->name] = field<uint32_t>(r, 0);
        }
        setField<uint32_t>(r, 4, node->name);
        return gcvSTATUS_OK;
    }
    case CMD_IMPORT_VIDEO_MEMORY: {
        auto it = names_.find(field<uint32_t>(r, 0));
        Node* node = it == names_.end() ? nullptr : findNode(it->second);
        if (!node || node->released) return gcvSTATUS_NOT_FOUND;
        ++node->references[c.pid];
        setField<uint32_t>(r, 4, it->second);
        return gcvSTATUS_OK;
    }
    case CMD_SHBUF:
        return sharedBuffer(c, r);
    default:
        return gcvSTATUS_INVALID_REQUEST;
    }
}

GpuKernel::Node* GpuKernel::findNode(uint32_t handle) {
    const uint32_t index = handle & kNodeIndexMask;
    if (index == 0 || index >= nodes_.size()) return nullptr;
    Node& n = nodes_[index];
    if (!n.live || n.generation != (handle >> 16)) return nullptr;
    return &n;
}

int32_t GpuKernel::allocateNode(const Client& c, gcsIO_REQUEST& r) {
    const uint64_t bytes = field<uint32_t>(r, 0);
    const uint64_t alignment = field<uint32_t>(r, 4);
    const uint32_t pool = field<uint32_t>(r, 16);
    RangeAllocator* allocator = nullptr;
    switch (pool) {
    case GAL_POOL_DEFAULT:
    case GAL_POOL_LOCAL:
    case GAL_POOL_LOCAL_EXTERNAL:
    case GAL_POOL_UNIFIED:
        allocator = &memory_.external;
        break;
    case GAL_POOL_LOCAL_INTERNAL:
        allocator = &memory_.internal;
        break;
    case GAL_POOL_SYSTEM:
    case GAL_POOL_CONTIGUOUS:
    case GAL_POOL_VIRTUAL:
        allocator = &memory_.contiguous;
        break;
    default:
        return gcvSTATUS_INVALID_ARGUMENT;
    }
    if (bytes == 0 || bytes > allocator->range().bytes) {
        fault("video memory size out of range", bytes, pool);
        return gcvSTATUS_INVALID_ARGUMENT;
    }
    if (alignment != 0 && ((alignment & (alignment - 1)) != 0 || alignment > kMaxAlignment))
        return gcvSTATUS_NOT_ALIGNED;
    size_t index = 1;
    while (index < nodes_.size() && nodes_[index].live) ++index;
    if (index > kMaxNodes) return gcvSTATUS_OUT_OF_RESOURCES;
    uint64_t granted = 0;
    const auto offset = allocator->allocate(bytes, alignment, granted);
    if (!offset) return gcvSTATUS_OUT_OF_MEMORY;
    if (index == nodes_.size()) nodes_.emplace_back();
    Node& n = nodes_[index];
    const uint16_t generation = static_cast<uint16_t>(n.generation + 1 == 0 ? 1 : n.generation + 1);
    n = Node{};
    n.generation = generation;
    n.live = true;
    n.offset = *offset;
    n.bytes = granted;
    n.pool = allocator == &memory_.internal ? GAL_POOL_LOCAL_INTERNAL
             : allocator == &memory_.external ? GAL_POOL_LOCAL_EXTERNAL
                                              : GAL_POOL_CONTIGUOUS;
    n.surfaceType = field<uint32_t>(r, 8);
    n.references[c.pid] = 1;
    setField<uint32_t>(r, 0, static_cast<uint32_t>(granted));
    setField<uint32_t>(r, 16, n.pool);
    setField<uint32_t>(r, 20, static_cast<uint32_t>(index) | uint32_t(generation) << 16);
    return gcvSTATUS_OK;
}

void GpuKernel::dropNodeIfUnused(uint32_t index) {
    Node& n = nodes_[index];
    if (!n.live) return;
    if (n.references.empty()) n.released = true;
    if (!n.released || !n.locks.empty()) return;
    if (n.name) names_.erase(n.name);
    memory_.release(n.offset);
    n.live = false;
}

int32_t GpuKernel::releaseNode(uint32_t pid, uint32_t handle) {
    Node* n = findNode(handle);
    if (!n || n->released) return gcvSTATUS_INVALID_OBJECT;
    auto ref = n->references.find(pid);
    if (ref == n->references.end()) return gcvSTATUS_INVALID_OBJECT;  // not this process's node
    if (--ref->second == 0) n->references.erase(ref);
    dropNodeIfUnused(handle & kNodeIndexMask);
    return gcvSTATUS_OK;
}

int32_t GpuKernel::lockNode(const Client& c, gcsIO_REQUEST& r) {
    Node* n = findNode(field<uint32_t>(r, 0));
    if (!n || n->released || !n->references.count(c.pid)) return gcvSTATUS_INVALID_OBJECT;
    ++n->locks[c.pid];
    setField<uint32_t>(r, 8, static_cast<uint32_t>(kGpuBase + n->offset));
    setField<uint64_t>(r, 16, logicalOf(c, n->offset));
    setField<uint32_t>(r, 32, static_cast<uint32_t>(kPhysicalBase + n->offset));
    return gcvSTATUS_OK;
}

int32_t GpuKernel::unlockNode(uint32_t pid, gcsIO_REQUEST& r, bool deferred) {
    Node* n = findNode(field<uint32_t>(r, 0));
    if (!n) return gcvSTATUS_INVALID_OBJECT;
    auto lock = n->locks.find(pid);
    if (lock == n->locks.end()) return gcvSTATUS_MEMORY_UNLOCKED;
    // An asynchronous unlock asked for outside a queue is left to the deferred event that
    // follows it, when the GPU has finished with the memory.
    if (!deferred && field<uint32_t>(r, 12) != 0) return gcvSTATUS_OK;
    if (--lock->second == 0) n->locks.erase(lock);
    setField<uint32_t>(r, 12, 0);
    dropNodeIfUnused(field<uint32_t>(r, 0) & kNodeIndexMask);
    return gcvSTATUS_OK;
}

int32_t GpuKernel::allocateContiguous(const Client& c, gcsIO_REQUEST& r, uint32_t kind) {
    const uint64_t bytes = field<uint32_t>(r, 0);
    if (bytes == 0 || bytes > kContiguousPool.bytes) {
        fault("contiguous size out of range", bytes, kind);
        return gcvSTATUS_INVALID_ARGUMENT;
    }
    uint64_t granted = 0;
    const auto offset = memory_.contiguous.allocate(bytes, 4096, granted);
    if (!offset) return gcvSTATUS_OUT_OF_MEMORY;
    allocations_[*offset] = Allocation{c.pid, kind, granted};
    // Every allocation answers its physical address in the same 64-bit slot.
    setField<uint32_t>(r, 0, static_cast<uint32_t>(granted));
    setField<uint64_t>(r, 8, kPhysicalBase + *offset);
    setField<uint64_t>(r, 16, logicalOf(c, *offset));
    return gcvSTATUS_OK;
}

int32_t GpuKernel::freeContiguous(const Client& c, gcsIO_REQUEST& r, uint32_t kind) {
    const uint64_t physical = field<uint64_t>(r, 8);
    const uint64_t offset = physical - kPhysicalBase;
    auto it = physical >= kPhysicalBase ? allocations_.find(offset) : allocations_.end();
    if (it == allocations_.end() || it->second.kind != kind || it->second.pid != c.pid) {
        fault("free of memory that was not allocated", physical, kind);
        return gcvSTATUS_INVALID_ADDRESS;
    }
    if (field<uint64_t>(r, 16) != logicalOf(c, offset)) {
        fault("free with a logical address that does not match", field<uint64_t>(r, 16), physical);
        return gcvSTATUS_INVALID_ADDRESS;
    }
    memory_.release(offset);
    allocations_.erase(it);
    return gcvSTATUS_OK;
}

int32_t GpuKernel::userSignal(const Client& c, gcsIO_REQUEST& r) {
    const uint32_t id = field<uint32_t>(r, 4);
    switch (field<uint32_t>(r, 0)) {
    case USER_SIGNAL_CREATE:
        signals_[nextSignal_] = Signal{c.pid, field<uint32_t>(r, 8) != 0, false};
        setField<uint32_t>(r, 4, nextSignal_++);
        return gcvSTATUS_OK;
    case USER_SIGNAL_DESTROY:
        if (!signals_.erase(id)) return gcvSTATUS_INVALID_ARGUMENT;
        ++signalEpoch_;  // waiters on it learn that it is gone
        return gcvSTATUS_OK;
    case USER_SIGNAL_SIGNAL:
        return setSignal(id, field<uint32_t>(r, 16) != 0);
    case USER_SIGNAL_MAP:
    case USER_SIGNAL_UNMAP:
        return signals_.count(id) ? gcvSTATUS_OK : gcvSTATUS_INVALID_ARGUMENT;
    default:
        return gcvSTATUS_INVALID_ARGUMENT;
    }
}

int32_t GpuKernel::setSignal(uint32_t id, bool state) {
    auto it = signals_.find(id);
    if (it == signals_.end()) return gcvSTATUS_INVALID_ARGUMENT;
    it->second.state = state;
    if (state) {
        ++signalsFired_;
        ++signalEpoch_;
    }
    return gcvSTATUS_OK;
}

int32_t GpuKernel::mapUserMemory(const Client& c, gcsIO_REQUEST& r) {
    const uint64_t address = field<uint64_t>(r, 0);
    const uint64_t bytes = field<uint64_t>(r, 16);
    if (address == 0 || bytes == 0 || address + bytes < address || bytes > kUserWindowBytes) {
        fault("user memory out of range", address, bytes);
        return gcvSTATUS_INVALID_ARGUMENT;
    }
    uint8_t probe;
    if (!ProcessMemory::read(c.pid, address, &probe, 1) ||
        !ProcessMemory::read(c.pid, address + bytes - 1, &probe, 1)) {
        fault("user memory not mapped in the caller", address, bytes);
        return gcvSTATUS_INVALID_ADDRESS;
    }
    const uint64_t lead = address & 0xFFF;
    uint64_t granted = 0;
    const auto offset = userWindow_.allocate(bytes + lead, 4096, granted);
    if (!offset) return gcvSTATUS_OUT_OF_RESOURCES;
    const uint64_t gpu = kUserWindowBase + *offset + lead;
    userMappings_[gpu] = UserMapping{c.pid, address, bytes, *offset};
    setField<uint32_t>(r, 24, static_cast<uint32_t>(*offset / 4096 + 1));
    setField<uint32_t>(r, 28, static_cast<uint32_t>(gpu));
    return gcvSTATUS_OK;
}

int32_t GpuKernel::unmapUserMemory(const Client& c, gcsIO_REQUEST& r) {
    const uint64_t gpu = field<uint32_t>(r, 20);
    auto it = userMappings_.find(gpu);
    if (it == userMappings_.end() || it->second.pid != c.pid ||
        it->second.address != field<uint64_t>(r, 0) || it->second.bytes != field<uint64_t>(r, 8)) {
        fault("unmap of user memory that was not mapped", gpu, field<uint64_t>(r, 0));
        return gcvSTATUS_INVALID_ADDRESS;
    }
    userWindow_.release(it->second.windowOffset);
    userMappings_.erase(it);
    return gcvSTATUS_OK;
}

int32_t GpuKernel::sharedBuffer(const Client& c, gcsIO_REQUEST& r) {
    const uint32_t id = static_cast<uint32_t>(field<uint64_t>(r, 8));
    const uint64_t data = field<uint64_t>(r, 16);
    const uint64_t bytes = field<uint32_t>(r, 24);
    switch (field<uint32_t>(r, 0)) {
    case SHBUF_ALLOCATE:
        if (bytes == 0 || bytes > kMaxSharedBuffer) {
            fault("shared buffer size out of range", bytes);
            return gcvSTATUS_INVALID_ARGUMENT;
        }
        sharedBuffers_[nextSharedBuffer_].assign(bytes, 0);
        setField<uint64_t>(r, 8, nextSharedBuffer_++);
        return gcvSTATUS_OK;
    case SHBUF_FREE:
        return sharedBuffers_.erase(id) ? gcvSTATUS_OK : gcvSTATUS_INVALID_ARGUMENT;
    case SHBUF_MAP:
        return sharedBuffers_.count(id) ? gcvSTATUS_OK : gcvSTATUS_INVALID_ARGUMENT;
    case SHBUF_WRITE:
    case SHBUF_READ: {
        auto it = sharedBuffers_.find(id);
        if (it == sharedBuffers_.end()) return gcvSTATUS_INVALID_ARGUMENT;
        std::vector<uint8_t>& buffer = it->second;
        if (bytes > buffer.size()) {
            fault("shared buffer access beyond its size", bytes, buffer.size());
            return gcvSTATUS_INVALID_ARGUMENT;
        }
        const bool ok = field<uint32_t>(r, 0) == SHBUF_WRITE
                            ? ProcessMemory::read(c.pid, data, buffer.data(), bytes)
                            : ProcessMemory::write(c.pid, data, buffer.data(), bytes);
        if (!ok) {
            fault("shared buffer data outside the caller's memory", data, bytes);
            return gcvSTATUS_INVALID_ADDRESS;
        }
        if (field<uint32_t>(r, 0) == SHBUF_READ) setField<uint32_t>(r, 24, uint32_t(bytes));
        return gcvSTATUS_OK;
    }
    default:
        return gcvSTATUS_INVALID_ARGUMENT;
    }
}

int32_t GpuKernel::cache(const Client& c, gcsIO_REQUEST& r) {
    const uint32_t operation = field<uint32_t>(r, 0);
    if (operation < 1 || operation > 4) return gcvSTATUS_INVALID_ARGUMENT;
    if (operation == 4) return gcvSTATUS_OK;  // a barrier names no memory
    const uint64_t logical = field<uint64_t>(r, 16), bytes = field<uint64_t>(r, 24);
    uint64_t offset = 0;
    if (!offsetOf(c, logical, bytes, offset)) {
        fault("cache operation outside video memory", logical, bytes);
        return gcvSTATUS_INVALID_ADDRESS;
    }
    return gcvSTATUS_OK;
}

int32_t GpuKernel::commit(const Client& c, gcsIO_REQUEST& r) {
    const uint64_t recordAddress = field<uint64_t>(r, 8);
    if (recordAddress != 0) {
        gcsCMDBUF_RECORD record{};
        if (!ProcessMemory::read(c.pid, recordAddress, &record, sizeof record)) {
            fault("command-buffer record outside the caller's memory", recordAddress);
            return gcvSTATUS_INVALID_ADDRESS;
        }
        uint64_t offset = 0;
        if (record.magic != GAL_CMDBUF_MAGIC || !offsetOf(c, record.logical, record.size, offset) ||
            record.physical != kPhysicalBase + offset) {
            fault("command buffer outside video memory", record.logical, record.size);
            return gcvSTATUS_INVALID_ADDRESS;
        }
        auto it = allocations_.find(offset);
        if (it == allocations_.end() || it->second.kind != CMD_ALLOCATE_COMMAND_BUFFER ||
            it->second.bytes < record.size) {
            fault("commit of memory that is not a command buffer", record.physical, record.size);
            return gcvSTATUS_INVALID_ADDRESS;
        }
        if (record.startOffset > record.offset || record.offset > record.size ||
            record.offset - record.startOffset < kReservedHead ||
            (record.offset - record.startOffset) % 8 != 0 || record.startOffset % 8 != 0) {
            fault("command-buffer offsets out of range", record.startOffset, record.offset);
            return gcvSTATUS_INVALID_ADDRESS;
        }
        // The reserved head belongs to the kernel: the driver's commands follow it.
        const uint64_t first = offset + record.startOffset + kReservedHead;
        const auto* words = reinterpret_cast<const uint32_t*>(memory_.bytes() + first);
        const int32_t status =
            runStream({words, (record.offset - record.startOffset - kReservedHead) / 4});
        if (status < 0) return status;
        ++commits_;
        commitBytes_ += record.offset - record.startOffset - kReservedHead;
    }
    const int32_t status = runEvents(c, field<uint64_t>(r, 24), r.hardwareType);
    if (status < 0) return status;
    // The caller's stall signal, when the events above have set it, is taken for the caller:
    // its wait would return at once.
    auto waited = signals_.find(static_cast<uint32_t>(field<uint64_t>(r, GAL_COMMIT_WAIT_SIGNAL)));
    if (waited != signals_.end() && waited->second.owner == c.pid && waited->second.state) {
        if (!waited->second.manualReset) waited->second.state = false;
        setField<uint32_t>(r, GAL_COMMIT_WAIT_REACHED, 1);
    }
    return gcvSTATUS_OK;
}

// Runs a chain of queued events, as the GPU reaches them after the commands before them.
int32_t GpuKernel::runEvents(const Client& c, uint64_t head, uint32_t hardwareType) {
    uint32_t count = 0;
    for (uint64_t at = head; at != 0;) {
        if (++count > kMaxEventsPerCommit) {
            fault("event chain too long or looped", head, count);
            return gcvSTATUS_INVALID_DATA;
        }
        gcsQUEUE_EVENT event{};
        if (!ProcessMemory::read(c.pid, at, &event, sizeof event)) {
            fault("event record outside the caller's memory", at);
            return gcvSTATUS_INVALID_ADDRESS;
        }
        ++events_;
        // A queued copy was never sent on its own: it runs on the core it was committed to.
        event.request.hardwareType = hardwareType;
        dispatch(c, event.request, true);
        at = event.next;
    }
    return gcvSTATUS_OK;
}

void GpuKernel::processGone(uint32_t pid) {
    for (uint32_t index = 1; index < nodes_.size(); ++index) {
        Node& n = nodes_[index];
        if (!n.live) continue;
        n.locks.erase(pid);
        n.references.erase(pid);
        dropNodeIfUnused(index);
    }
    for (auto it = allocations_.begin(); it != allocations_.end();) {
        if (it->second.pid == pid) {
            memory_.release(it->first);
            it = allocations_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = signals_.begin(); it != signals_.end();)
        it = it->second.owner == pid ? signals_.erase(it) : std::next(it);
    for (auto it = userMappings_.begin(); it != userMappings_.end();) {
        if (it->second.pid == pid) {
            userWindow_.release(it->second.windowOffset);
            it = userMappings_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = contexts_.begin(); it != contexts_.end();)
        it = it->second == pid ? contexts_.erase(it) : std::next(it);
    ++signalEpoch_;
}

}  // namespace veld::gpusim
