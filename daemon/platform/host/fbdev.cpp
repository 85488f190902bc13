// The frame buffer of the platform library on a PC. Each layer is a named shared-memory region
// (veld_framebuffer.h) into which every screen update publishes the surface's pixels and the
// layer's palette as a new, numbered frame under a sequence lock; VELD_HOST_FB_Read is the other
// side of that lock, for tools and tests in any process.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "gal_internal.h"
#include "host_internal.h"
#include "seam.h"
#include "veld_framebuffer.h"
#include "veldcore.h"

namespace {

using Clock = std::chrono::steady_clock;

// A writer that finds the sequence odd for this long assumes the process that made it odd died
// in the middle of a frame and takes the lock over. Copying the largest frame takes far less.
constexpr auto kWriterTakeOver = std::chrono::milliseconds(200);
// Readers wait at least this long for a frame that is being written, whatever their time-out.
constexpr auto kReaderGrace = std::chrono::milliseconds(1000);
constexpr auto kPollInterval = std::chrono::milliseconds(1);

std::string regionName(int32_t layer) {
    return veld::seam::ipcName(VELD_FB_REGION_PREFIX + std::to_string(layer));
}

bool validLayer(int32_t layer) { return layer >= 0 && layer < VELD_FB_LAYERS; }

template <typename T>
std::atomic_ref<T> shared(T& field) {
    return std::atomic_ref<T>(field);
}

template <typename T>
T loadShared(const T& field, std::memory_order order = std::memory_order_acquire) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(order);
}

// Whole 8-byte words, each written or read atomically, so that a concurrent reader's copy is
// free of data races and only the sequence lock decides whether it is consistent. Frame data
// is stored with release and loaded with acquire ordering: a reader that sees any word of a
// newer frame is then bound to see that frame's odd sequence when it checks again. (On the PCs
// this runs on, both are plain moves; no fences are needed.)
void storeWords(uint8_t* destination, const uint8_t* source, size_t bytes) {
    auto* words = reinterpret_cast<uint64_t*>(destination);
    for (size_t i = 0; i < bytes / 8; ++i) {
        uint64_t w;
        std::memcpy(&w, source + i * 8, 8);
        shared(words[i]).store(w, std::memory_order_release);
    }
}

void loadRow(uint8_t* destination, const uint8_t* source, size_t bytes) {
    const auto* words = reinterpret_cast<const uint64_t*>(source);
    size_t done = 0;
    for (size_t i = 0; done < bytes; ++i) {
        const uint64_t w = loadShared(words[i], std::memory_order_acquire);
        const size_t n = bytes - done < 8 ? bytes - done : 8;
        std::memcpy(destination + done, &w, n);
        done += n;
    }
}

enum class OpenResult { kOk, kAbsent, kNotReady, kForeign, kFailed };

// One mapping of a layer's region.
class Region {
public:
    Region() = default;
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;
    ~Region() { reset(); }

    // The writer's side: creates the region when needed and sets up its header.
    OpenResult openForWriting(const std::string& name, int32_t layer) {
        reset();
        const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            VELD_HOST_LOG(1, "frame buffer %s: %s\n", name.c_str(), strerror(errno));
            return OpenResult::kFailed;
        }
        struct stat st{};
        const bool sized = fstat(fd, &st) == 0 &&
                           (st.st_size >= static_cast<off_t>(VELD_FB_REGION_BYTES) ||
                            ftruncate(fd, VELD_FB_REGION_BYTES) == 0);
        void* address = sized ? mmap(nullptr, VELD_FB_REGION_BYTES, PROT_READ | PROT_WRITE,
                                     MAP_SHARED, fd, 0)
                              : MAP_FAILED;
        close(fd);
        if (address == MAP_FAILED) {
            VELD_HOST_LOG(1, "frame buffer %s map: %s\n", name.c_str(), strerror(errno));
            return OpenResult::kFailed;
        }
        base_ = static_cast<uint8_t*>(address);
        name_ = name;
        if (!headerKnown()) setUpHeader(layer);
        return OpenResult::kOk;
    }

    // A reader's side: read-only, never creates anything.
    OpenResult openForReading(const std::string& name) {
        reset();
        const int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (fd < 0) return errno == ENOENT ? OpenResult::kAbsent : OpenResult::kFailed;
        struct stat st{};
        if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(VELD_FB_REGION_BYTES)) {
            close(fd);
            return OpenResult::kNotReady;  // its writer has not sized it yet
        }
        void* address = mmap(nullptr, VELD_FB_REGION_BYTES, PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        if (address == MAP_FAILED) return OpenResult::kFailed;
        base_ = static_cast<uint8_t*>(address);
        name_ = name;
        if (loadShared(header()->magic, std::memory_order_acquire) == 0) {
            reset();
            return OpenResult::kNotReady;
        }
        if (!headerKnown()) {
            reset();
            return OpenResult::kForeign;
        }
        return OpenResult::kOk;
    }

    void reset() {
        if (base_) munmap(base_, VELD_FB_REGION_BYTES);
        base_ = nullptr;
        name_.clear();
    }

    bool mapped() const { return base_ != nullptr; }
    const std::string& name() const { return name_; }
    VELD_FB_HEADER* header() const { return reinterpret_cast<VELD_FB_HEADER*>(base_); }
    uint8_t* pixels() const { return base_ + VELD_FB_HEADER_BYTES; }

private:
    bool headerKnown() const {
        const VELD_FB_HEADER* h = header();
        return loadShared(h->magic, std::memory_order_acquire) == VELD_FB_MAGIC &&
               loadShared(h->version) == VELD_FB_VERSION &&
               loadShared(h->headerBytes) == VELD_FB_HEADER_BYTES &&
               loadShared(h->capacity) == VELD_FB_PIXEL_CAPACITY;
    }

    // A new region, or one left by an incompatible library, starts afresh with no frame.
    void setUpHeader(int32_t layer) {
        VELD_FB_HEADER* h = header();
        shared(h->magic).store(0, std::memory_order_relaxed);
        shared(h->version).store(VELD_FB_VERSION, std::memory_order_relaxed);
        shared(h->headerBytes).store(VELD_FB_HEADER_BYTES, std::memory_order_relaxed);
        shared(h->capacity).store(VELD_FB_PIXEL_CAPACITY, std::memory_order_relaxed);
        shared(h->layer).store(static_cast<uint32_t>(layer), std::memory_order_relaxed);
        shared(h->sequence).store(0, std::memory_order_relaxed);
        shared(h->frame).store(0, std::memory_order_relaxed);
        shared(h->magic).store(VELD_FB_MAGIC, std::memory_order_release);
    }

    uint8_t* base_ = nullptr;
    std::string name_;
};

// What this process knows about a layer: its mapping and the palette set on it.
struct Layer {
    std::mutex mutex;  // writers of this process, one frame at a time
    Region region;
    bool paletteSet = false;
    uint32_t palette[256] = {};
};

Layer gLayers[VELD_FB_LAYERS];
std::atomic<uint32_t> gComposer{0};

// The layer's region in the current namespace, mapped for writing. Called with the layer's
// mutex held. VELD_NS may change between calls (tests), so the name is checked every time.
VELD_FB_HEADER* writableHeader(int32_t layer) {
    Layer& l = gLayers[layer];
    const std::string name = regionName(layer);
    if (!l.region.mapped() || l.region.name() != name) {
        if (l.region.openForWriting(name, layer) != OpenResult::kOk) return nullptr;
        shared(l.region.header()->composer).store(gComposer.load(), std::memory_order_relaxed);
    }
    return l.region.header();
}

// Takes the sequence lock: from even to odd. Returns the odd value.
uint32_t lockFrame(VELD_FB_HEADER& h) {
    auto sequence = shared(h.sequence);
    const auto start = Clock::now();
    for (;;) {
        uint32_t s = sequence.load(std::memory_order_relaxed);
        if ((s & 1u) == 0) {
            if (sequence.compare_exchange_weak(s, s + 1, std::memory_order_acquire,
                                               std::memory_order_relaxed))
                return s + 1;
            continue;
        }
        if (Clock::now() - start > kWriterTakeOver) {
            VELD_HOST_LOG(1, "frame buffer layer %u: taking over a frame left half written\n",
                          loadShared(h.layer));
            return s;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

void publish(VELD_FB_HEADER& h, uint8_t* regionPixels, const veld::host::gal::SurfaceView& view,
             const uint32_t* palette) {
    const uint32_t odd = lockFrame(h);
    shared(h.frame).store(loadShared(h.frame) + 1, std::memory_order_release);
    shared(h.width).store(view.width, std::memory_order_release);
    shared(h.height).store(view.height, std::memory_order_release);
    shared(h.pitch).store(view.pitch, std::memory_order_release);
    shared(h.format).store(view.format, std::memory_order_release);
    shared(h.publishedNs).store(VELD_OSA_ReadNsTicks(), std::memory_order_release);
    shared(h.publisher).store(static_cast<uint32_t>(getpid()), std::memory_order_release);
    for (size_t i = 0; i < 256; ++i) shared(h.palette[i]).store(palette[i], std::memory_order_release);
    storeWords(regionPixels, view.pixels, size_t{view.pitch} * view.height);
    shared(h.sequence).store(odd + 1, std::memory_order_release);
}

enum class CopyResult { kCopied, kBusy, kNoFrameYet, kSpace, kForeign };

// One attempt to copy a consistent frame out of a mapped region.
CopyResult copyFrame(const Region& region, uint32_t minFrame, VELD_FB_FRAME& out,
                     uint8_t* pixels, size_t capacity) {
    const VELD_FB_HEADER& h = *region.header();
    const uint32_t before = loadShared(h.sequence, std::memory_order_acquire);
    if (before & 1u) return CopyResult::kBusy;
    VELD_FB_FRAME frame{};
    frame.frame = loadShared(h.frame);
    frame.layer = loadShared(h.layer);
    frame.width = loadShared(h.width);
    frame.height = loadShared(h.height);
    frame.format = loadShared(h.format);
    frame.visible = loadShared(h.visible);
    frame.publishedNs = loadShared(h.publishedNs);
    frame.publisher = loadShared(h.publisher);
    const uint32_t pitch = loadShared(h.pitch);
    for (size_t i = 0; i < 256; ++i) frame.palette[i] = loadShared(h.palette[i]);
    const bool wanted = frame.frame >= minFrame;
    const bool sane = pitch % 8 == 0 && frame.width <= pitch &&
                      uint64_t{pitch} * frame.height <= VELD_FB_PIXEL_CAPACITY;
    const size_t needed = size_t{frame.width} * frame.height;
    const bool fits = pixels && needed <= capacity;
    if (wanted && sane && fits) {
        for (uint32_t y = 0; y < frame.height; ++y)
            loadRow(pixels + size_t{y} * frame.width, region.pixels() + size_t{y} * pitch,
                    frame.width);
    }
    if (loadShared(h.sequence, std::memory_order_relaxed) != before) return CopyResult::kBusy;
    if (!wanted) return CopyResult::kNoFrameYet;
    if (!sane) return CopyResult::kForeign;
    out = frame;
    return fits ? CopyResult::kCopied : CopyResult::kSpace;
}

}  // namespace

extern "C" {

int32_t VELD_FBDEV_Open(int32_t layer) {
    if (!validLayer(layer)) return -1;
    std::lock_guard lock(gLayers[layer].mutex);
    return writableHeader(layer) ? 0 : -1;
}

int32_t VELD_FBDEV_SetSWComposerCtrl(const uint32_t control[2]) {
    if (!control) return -1;
    gComposer.store(control[0]);
    for (Layer& l : gLayers) {
        std::lock_guard lock(l.mutex);
        if (l.region.mapped())
            shared(l.region.header()->composer).store(control[0], std::memory_order_relaxed);
    }
    return 0;
}

int32_t VELD_FBDEV_SetVisible(int32_t layer, int32_t visible) {
    if (!validLayer(layer)) return -1;
    std::lock_guard lock(gLayers[layer].mutex);
    VELD_FB_HEADER* h = writableHeader(layer);
    if (!h) return -1;
    shared(h->visible).store(visible ? 1u : 0u, std::memory_order_relaxed);
    return 0;
}

// The layer's palette takes effect with the next update of the layer, as a whole frame.
int32_t VELD_FBDEV_SetPalette(int32_t layer, const VELD_FBDEV_PALETTE* palette) {
    if (!validLayer(layer) || !palette || !palette->entries) return -1;
    Layer& l = gLayers[layer];
    std::lock_guard lock(l.mutex);
    const uint32_t count = palette->count < 256 ? palette->count : 256;
    std::memset(l.palette, 0, sizeof l.palette);
    std::memcpy(l.palette, palette->entries, count * sizeof(uint32_t));
    l.paletteSet = true;
    return 0;
}

int32_t VELD_FBDEV_UpdateScreenBySurface(int32_t layer, VELD_GAL_SURFACE* surface) {
    veld::host::gal::SurfaceView view{};
    if (!validLayer(layer) || !veld::host::gal::view(surface, view)) return -1;
    if (view.format != VELD_FB_FORMAT_INDEX8 || view.pitch % 8 != 0 ||
        uint64_t{view.pitch} * view.height > VELD_FB_PIXEL_CAPACITY) {
        VELD_HOST_LOG(1, "surface %ux%u (pitch %u, format %u) does not fit the frame buffer\n",
                      view.width, view.height, view.pitch, view.format);
        return -1;
    }
    Layer& l = gLayers[layer];
    std::lock_guard lock(l.mutex);
    VELD_FB_HEADER* h = writableHeader(layer);
    if (!h) return -1;
    // A layer shows its own palette once one was set; until then, the surface's.
    publish(*h, l.region.pixels(), view, l.paletteSet ? l.palette : view.palette);
    return 0;
}

int32_t VELD_HOST_FB_Read(int32_t layer, uint32_t minFrame, int32_t timeoutMs,
                          VELD_FB_FRAME* frame, uint8_t* pixels, size_t capacity) {
    if (!validLayer(layer) || !frame) return VELD_FB_ERR_ARGUMENT;
    if (minFrame == 0) minFrame = 1;
    const auto start = Clock::now();
    const auto expiredAfter = [&](Clock::duration least) {
        const auto waited = Clock::now() - start;
        if (timeoutMs < 0) return false;
        return waited >= std::max<Clock::duration>(std::chrono::milliseconds(timeoutMs), least);
    };
    const std::string name = regionName(layer);
    Region region;
    for (;;) {
        if (!region.mapped()) {
            switch (region.openForReading(name)) {
            case OpenResult::kOk:
                break;
            case OpenResult::kAbsent:
            case OpenResult::kNotReady:
                if (expiredAfter({})) return VELD_FB_ERR_ABSENT;
                std::this_thread::sleep_for(kPollInterval);
                continue;
            case OpenResult::kForeign:
                return VELD_FB_ERR_FORMAT;
            case OpenResult::kFailed:
                return VELD_FB_ERR_ABSENT;
            }
        }
        switch (copyFrame(region, minFrame, *frame, pixels, capacity)) {
        case CopyResult::kCopied:
            return VELD_FB_OK;
        case CopyResult::kSpace:
            return VELD_FB_ERR_SPACE;
        case CopyResult::kForeign:
            return VELD_FB_ERR_FORMAT;
        case CopyResult::kBusy:
            if (expiredAfter(kReaderGrace)) return VELD_FB_ERR_TIMEOUT;
            std::this_thread::yield();
            break;
        case CopyResult::kNoFrameYet:
            if (expiredAfter({})) {
                const bool none = loadShared(region.header()->frame) == 0;
                return none ? VELD_FB_ERR_ABSENT : VELD_FB_ERR_TIMEOUT;
            }
            std::this_thread::sleep_for(kPollInterval);
            break;
        }
    }
}

int32_t VELD_HOST_FB_Unlink(int32_t layer) {
    if (!validLayer(layer)) return -1;
    Layer& l = gLayers[layer];
    std::lock_guard lock(l.mutex);
    // The mapping would go on feeding a region nobody can open any more.
    l.region.reset();
    l.paletteSet = false;
    return shm_unlink(regionName(layer).c_str()) == 0 ? 0 : -1;
}

}  // extern "C"
