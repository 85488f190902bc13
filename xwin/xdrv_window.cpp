// The window side of the display driver. There is no buffer per window: every form draws
// straight into the one display surface at its own position, so attaching a form hands it the
// display's memory and updating a window's frame buffer has nothing to copy.
#include "veldd_log.h"
#include "xdrv.h"
#include "xwindow.h"

using namespace veld::loglevel;

namespace {

bool isForm(const XWindow* window) { return window && veld::xwin::isForm(window); }

}  // namespace

extern "C" {

int32_t XDRV_UpdateFrameBuffer(XDisplay* /*display*/, XWindow* window, int32_t /*x*/,
                               int32_t /*y*/) {
    if (window) {
        VELDD_LOG(kDebug, "[xDbg] update_frame_buffer win (%d,%d,%dx%d) - do nothing\n",
                  window->position.x, window->position.y, window->position.width,
                  window->position.height);
    }
    return 0;
}

int32_t XDRV_CreateWindow(XWindow* window) {
    if (!isForm(window)) return -5;
    XDisplay* display = veld::xdrv::currentDisplay();
    window->pixels = display ? display->pixels : nullptr;
    window->display = display;
    window->pitch = display ? veld::xdrv::displayPitch(*display) : 0;
    return 0;
}

int32_t XDRV_DestroyWindow(XWindow* window) { return isForm(window) ? 0 : -5; }

int32_t XDRV_LockWindowBuffer(XWindow* window, uint8_t** pixels, uint32_t* pitch) {
    if (!isForm(window)) return -5;
    ++window->lockCount;
    const XDisplay* display = window->display ? window->display : veld::xdrv::currentDisplay();
    if (pixels) *pixels = display ? display->pixels : nullptr;
    if (pitch) *pitch = display ? veld::xdrv::displayPitch(*display) : 0;
    return 0;
}

int32_t XDRV_UnlockWindowBuffer(XWindow* window) {
    if (window && window->lockCount > 0) --window->lockCount;
    return 0;
}

}  // extern "C"
