// Graphics surfaces of the platform library on a PC. A surface is one POSIX shared-memory
// block: the platform's surface record (what VELD_GAL_AllocSurface returns), the surface's
// palette, then the pixels at a page boundary. The block's name is namespaced (VELD_NS) and
// removed as soon as it is mapped: nothing in the contract lets another process name a
// surface, and the daemon ends by being killed, which must not leave blocks behind. What other
// processes see is the frame buffer (fbdev.cpp).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "gal_internal.h"
#include "host_internal.h"
#include "seam.h"
#include "veld_framebuffer.h"

namespace {

// Words of the surface record. Callers rely on 3 (pitch), 4 (width) and 5 (height).
enum SurfaceWord : size_t {
    kMagicWord = 0,
    kTypeWord = 1,
    kFormatWord = 2,
    kPitchWord = 3,
    kWidthWord = 4,
    kHeightWord = 5,
    kSerialWord = 6,
    kPaletteSetWord = 7,
};

constexpr uint32_t kSurfaceMagic = 0x53414756u;  // "VGAS"
constexpr uint32_t kFormatIndex8 = VELD_FB_FORMAT_INDEX8;
constexpr size_t kPixelOffset = 4096;

struct SurfaceBlock {
    VELD_GAL_SURFACE record;
    uint32_t palette[256];
};
static_assert(sizeof(SurfaceBlock) <= kPixelOffset);
static_assert(offsetof(SurfaceBlock, record) == 0, "the record is the block's address");

std::atomic<uint32_t> gSerial{0};

SurfaceBlock* blockOf(const VELD_GAL_SURFACE* surface) {
    if (!surface || surface->word[kMagicWord] != kSurfaceMagic) return nullptr;
    return reinterpret_cast<SurfaceBlock*>(const_cast<VELD_GAL_SURFACE*>(surface));
}

uint8_t* pixelsOf(SurfaceBlock* block) { return reinterpret_cast<uint8_t*>(block) + kPixelOffset; }

// Maps a fresh shared-memory block of `bytes`, zero-filled.
void* mapFreshBlock(size_t bytes, uint32_t serial) {
    const std::string name = veld::seam::ipcName("/veld-gal." + std::to_string(getpid()) + "." +
                                                 std::to_string(serial));
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        VELD_HOST_LOG(1, "surface %s: %s\n", name.c_str(), strerror(errno));
        return nullptr;
    }
    shm_unlink(name.c_str());
    void* address = MAP_FAILED;
    if (ftruncate(fd, static_cast<off_t>(bytes)) == 0)
        address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    else
        VELD_HOST_LOG(1, "surface %s size: %s\n", name.c_str(), strerror(errno));
    close(fd);
    return address == MAP_FAILED ? nullptr : address;
}

}  // namespace

namespace veld::host::gal {

bool view(const VELD_GAL_SURFACE* surface, SurfaceView& out) {
    SurfaceBlock* block = blockOf(surface);
    if (!block) return false;
    out.pixels = pixelsOf(block);
    out.pitch = surface->word[kPitchWord];
    out.width = surface->word[kWidthWord];
    out.height = surface->word[kHeightWord];
    out.format = surface->word[kFormatWord];
    out.palette = block->palette;
    out.paletteSet = surface->word[kPaletteSetWord] != 0;
    return true;
}

}  // namespace veld::host::gal

extern "C" {

// The graphics device needs no set-up on a PC; the size is given again with each surface.
int32_t VELD_GAL_Open(int32_t /*device*/, uint32_t /*flags*/, uint32_t /*width*/,
                      uint32_t /*height*/) {
    return 0;
}

VELD_GAL_SURFACE* VELD_GAL_AllocSurface(uint32_t type, uint32_t format, uint32_t width,
                                        uint32_t height, uint32_t /*flags*/,
                                        uint32_t /*reserved*/) {
    if (format != kFormatIndex8 || width == 0 || height == 0 || width > VELD_FB_MAX_WIDTH ||
        height > VELD_FB_MAX_HEIGHT) {
        VELD_HOST_LOG(1, "unsupported surface %ux%u format %u\n", width, height, format);
        return nullptr;
    }
    // Lines start on 8-byte boundaries so the frame buffer can copy whole words.
    const uint32_t pitch = (width + 7u) & ~7u;
    const uint32_t serial = gSerial.fetch_add(1, std::memory_order_relaxed);
    void* address = mapFreshBlock(kPixelOffset + size_t{pitch} * height, serial);
    if (!address) return nullptr;
    auto* block = static_cast<SurfaceBlock*>(address);
    VELD_GAL_SURFACE& record = block->record;
    record.word[kTypeWord] = type;
    record.word[kFormatWord] = format;
    record.word[kPitchWord] = pitch;
    record.word[kWidthWord] = width;
    record.word[kHeightWord] = height;
    record.word[kSerialWord] = serial;
    record.word[kPaletteSetWord] = 0;
    record.word[kMagicWord] = kSurfaceMagic;
    return &record;
}

int32_t VELD_GAL_FillRectNoFx(VELD_GAL_SURFACE* surface, const int32_t* rect, uint32_t color) {
    SurfaceBlock* block = blockOf(surface);
    if (!block) return -1;
    const int64_t width = surface->word[kWidthWord];
    const int64_t height = surface->word[kHeightWord];
    int64_t x0 = 0, y0 = 0, x1 = width, y1 = height;
    if (rect) {
        x0 = std::clamp<int64_t>(rect[0], 0, width);
        y0 = std::clamp<int64_t>(rect[1], 0, height);
        x1 = std::clamp<int64_t>(int64_t{rect[0]} + std::max(rect[2], 0), 0, width);
        y1 = std::clamp<int64_t>(int64_t{rect[1]} + std::max(rect[3], 0), 0, height);
    }
    const uint32_t pitch = surface->word[kPitchWord];
    for (int64_t y = y0; y < y1; ++y)
        std::memset(pixelsOf(block) + y * pitch + x0, static_cast<int>(color & 0xFFu),
                    static_cast<size_t>(x1 - x0));
    return 0;
}

int32_t VELD_GAL_SurfaceMmapCtrl(int32_t /*device*/, VELD_GAL_SURFACE* surface,
                                 uintptr_t info[3], int32_t mode) {
    SurfaceBlock* block = blockOf(surface);
    if (!block || !info) return -1;
    if (mode != 1) return 0;  // unmapping: the mapping lives as long as the surface
    info[0] = reinterpret_cast<uintptr_t>(pixelsOf(block));
    info[1] = size_t{surface->word[kPitchWord]} * surface->word[kHeightWord];
    info[2] = surface->word[kPitchWord];
    return 0;
}

int32_t VELD_GAL_SetPalette(VELD_GAL_SURFACE* surface, const VELD_GAL_PALETTE* palette) {
    SurfaceBlock* block = blockOf(surface);
    if (!block || !palette) return -1;
    const uint32_t count = std::min<uint32_t>(palette->count, 256);
    std::memcpy(block->palette, palette->entries, count * sizeof(uint32_t));
    surface->word[kPaletteSetWord] = 1;
    return 0;
}

}  // extern "C"
