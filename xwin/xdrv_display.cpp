// The display side of the display driver: the display size read at task start, the display
// surface on the platform's graphics layer, its palette and the pushes to frame-buffer layer 1.
#include <cstdio>
#include <cstring>
#include <memory>

#include "seam.h"
#include "veldd_log.h"
#include "xdrv.h"

using namespace veld::loglevel;

namespace {

// Words of the platform's surface record that the driver reads.
constexpr size_t kSurfacePitch = 3;
constexpr size_t kSurfaceWidth = 4;
constexpr size_t kSurfaceHeight = 5;

struct DriverState {
    uint16_t width = veld::xdrv::kDefaultWidth;
    uint16_t height = veld::xdrv::kDefaultHeight;
    XDisplay* display = nullptr;
};

DriverState gDriver;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// Reads " %x %d %d %d" (a hexadecimal value, then three decimals of which the second is the
// width and the third the height). A file that does not hold a usable size leaves the default.
bool readDisplaySize(uint16_t& width, uint16_t& height) {
    std::unique_ptr<FILE, FileCloser> file(
        std::fopen(veld::seam::path(veld::xdrv::kSizeFile).c_str(), "r"));
    if (!file) return false;
    unsigned int base = 0;
    int size = 0;
    int w = 0;
    int h = 0;
    if (std::fscanf(file.get(), " %x %d %d %d", &base, &size, &w, &h) == 4 && w > 0 &&
        w <= UINT16_MAX && h > 0 && h <= UINT16_MAX) {
        width = static_cast<uint16_t>(w);
        height = static_cast<uint16_t>(h);
    }
    return true;
}

}  // namespace

namespace veld::xdrv {

void displaySize(uint16_t& width, uint16_t& height) {
    width = gDriver.width;
    height = gDriver.height;
}

XDisplay* currentDisplay() { return gDriver.display; }

}  // namespace veld::xdrv

extern "C" {

int32_t XDRV_InitTask(uint32_t /*ignored*/) {
    gDriver.width = veld::xdrv::kDefaultWidth;
    gDriver.height = veld::xdrv::kDefaultHeight;
    const bool sized = readDisplaySize(gDriver.width, gDriver.height);
    if (!sized) VELDD_LOG(kError, "[xErr] can't open fb0/fbmem\n");
    // Without the queue the window system would never see an event, so it is created even when
    // the size is unknown; the failure is still reported.
    XDRV_CreateQueue(veld::xdrv::kEventQueueName, 100);
    return sized ? 0 : -5;
}

int32_t XDRV_ShutdownTask(void) { return 0; }

int32_t XDRV_CreateDisplay(XDisplay* display) {
    if (!display) return -5;
    std::memset(display, 0, sizeof *display);
    display->width = gDriver.width;
    display->height = gDriver.height;
    gDriver.display = display;

    VELD_GAL_Open(0, 0, display->width, display->height);
    VELD_GAL_SURFACE* surface =
        VELD_GAL_AllocSurface(1, 2, display->width, display->height, 0, 0);
    if (!surface) {
        VELDD_LOG(kError, "[xErr] can't alloc disp surf\n");
        return -5;
    }
    VELD_GAL_FillRectNoFx(surface, nullptr, 0);
    uintptr_t info[3] = {0, 0, 0};
    VELD_GAL_SurfaceMmapCtrl(0, surface, info, 1);
    if (info[0] == 0) {
        VELDD_LOG(kError, "[xErr] can't mmap surf(%dx%d)\n",
                  static_cast<int>(surface->word[kSurfaceWidth]),
                  static_cast<int>(surface->word[kSurfaceHeight]));
        return -5;
    }
    display->pixels = reinterpret_cast<uint8_t*>(info[0]);
    display->surface = surface;
    VELDD_LOG(kError, "[xErr] ++ use VELD_COMPOSER\n");
    VELD_FBDEV_Open(veld::xdrv::kLayer);
    const uint32_t composer[2] = {1, 0};
    VELD_FBDEV_SetSWComposerCtrl(composer);
    VELD_FBDEV_SetVisible(veld::xdrv::kLayer, 1);
    return 0;
}

int32_t XDRV_DestroyDisplay(XDisplay* /*display*/) { return 0; }

int32_t XDRV_SetPalette(const uint32_t* entries) {
    if (!entries) return -5;
    XDisplay* display = gDriver.display;
    if (display) std::memcpy(display->palette, entries, sizeof display->palette);
    VELD_GAL_PALETTE galPalette;
    std::memcpy(galPalette.entries, entries, sizeof galPalette.entries);
    galPalette.count = 256;
    if (display && display->surface) VELD_GAL_SetPalette(display->surface, &galPalette);
    const VELD_FBDEV_PALETTE layerPalette{256, 0, display ? display->palette : entries};
    VELD_FBDEV_SetPalette(veld::xdrv::kLayer, &layerPalette);
    return 0;
}

int32_t XDRV_UpdateScreen(XDisplay* display) {
    VELDD_LOG(kDebug, "[xDbg] +++ update_ssm_screen to POSD +++\n");
    if (display && display->surface)
        VELD_FBDEV_UpdateScreenBySurface(veld::xdrv::kLayer, display->surface);
    return 0;
}

}  // extern "C"

namespace veld::xdrv {

// The pitch of the display surface, for the window side of the driver.
uint32_t displayPitch(const XDisplay& display) {
    return display.surface ? display.surface->word[kSurfacePitch] : display.width;
}

}  // namespace veld::xdrv
