// veldctl screenshot: the latest frame of the simulated frame buffer as a PNG.
#pragma once

#include <cstdint>

#include "cli.h"

namespace veld::tools {

// The neutral background that translucent palette colours are composited over by default:
// mid grey, so that both dark and light overlay colours stay visible, as over a TV picture.
inline constexpr uint32_t kScreenshotBackground = 0x808080;

// veldctl screenshot FILE.png [--indexed] [--wait-frame N] [--timeout MS] [--allow-stale].
extern const CommandSpec kScreenshotCommand;

}  // namespace veld::tools
