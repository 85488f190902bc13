// veldctl screenshot: reads the latest frame that the platform library published on
// frame-buffer layer 1 and writes it as a PNG, either as the colours a viewer would see (the
// palette's translucent colours composited over a neutral background) or as an 8-bit palette
// image whose pixel values are the raw palette indices.
#include "screenshot.h"

#include <png.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "daemon_state.h"
#include "png_file.h"
#include "seam.h"
#include "veld_framebuffer.h"

namespace veld::tools {
namespace {

constexpr int32_t kLayer = 1;  // the window system's layer
constexpr int32_t kDefaultWaitMs = 5000;

struct Options {
    std::string file;
    bool indexed = false;
    uint32_t waitFrame = 1;
    std::optional<int32_t> timeoutMs;
};

uint8_t over(uint32_t channel, uint32_t alpha, uint32_t background) {
    return static_cast<uint8_t>((channel * alpha + background * (255 - alpha) + 127) / 255);
}

// Each pixel's palette colour, alpha-composited over kScreenshotBackground.
std::vector<uint8_t> composite(const VELD_FB_FRAME& frame, std::span<const uint8_t> pixels) {
    uint8_t rgb[256][3];
    for (size_t i = 0; i < 256; ++i) {
        const uint32_t e = frame.palette[i];
        const uint32_t a = e >> 24;
        for (int c = 0; c < 3; ++c) {
            const int shift = 16 - 8 * c;
            rgb[i][c] = over((e >> shift) & 0xFF, a, (kScreenshotBackground >> shift) & 0xFF);
        }
    }
    std::vector<uint8_t> out(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i) std::memcpy(&out[i * 3], rgb[pixels[i]], 3);
    return out;
}

std::string writeFrame(const Options& options, const VELD_FB_FRAME& frame, std::span<const uint8_t> pixels) {
    PngPicture picture;
    picture.width = frame.width;
    picture.height = frame.height;
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> colormap;
    if (options.indexed) {
        picture.format = PNG_FORMAT_RGBA_COLORMAP;
        picture.colormapEntries = 256;
        colormap.resize(256 * 4);
        for (size_t i = 0; i < 256; ++i) {
            const uint32_t e = frame.palette[i];
            colormap[i * 4 + 0] = static_cast<uint8_t>(e >> 16);
            colormap[i * 4 + 1] = static_cast<uint8_t>(e >> 8);
            colormap[i * 4 + 2] = static_cast<uint8_t>(e);
            colormap[i * 4 + 3] = static_cast<uint8_t>(e >> 24);
        }
        picture.colormap = colormap.data();
        buffer.assign(pixels.begin(), pixels.end());
    } else {
        picture.format = PNG_FORMAT_RGB;
        buffer = composite(frame, pixels);
    }
    picture.pixels = buffer.data();
    return writePng(options.file, picture);
}

// Why the frame is not the current daemon's picture, or empty when it is.
std::string staleness(const VELD_FB_FRAME& frame) {
    const auto publisher = static_cast<pid_t>(frame.publisher);
    if (publisher > 0 && !processAlive(publisher))
        return "the process that drew it (pid " + std::to_string(publisher) + ") has ended";
    const auto daemon = pidFromFile();
    if (daemon && processAlive(*daemon) && *daemon != publisher)
        return "veldd (pid " + std::to_string(*daemon) + ") has not drawn a frame yet; this one is from pid " +
               std::to_string(publisher);
    return {};
}

int runScreenshot(const Invocation& call) {
    Options options;
    options.file = call.args()[0];
    options.indexed = call.has("--indexed");
    if (call.has("--wait-frame")) {
        options.waitFrame = call.number("--wait-frame", 1);
        if (options.waitFrame == 0) return call.usageError("--wait-frame needs a frame number from 1");
        options.timeoutMs = static_cast<int32_t>(kDefaultWaitMs);
    }
    if (call.has("--timeout")) {
        const uint32_t ms = call.number("--timeout", 0);
        if (ms > static_cast<uint32_t>(INT32_MAX)) return call.usageError("--timeout is too long");
        options.timeoutMs = static_cast<int32_t>(ms);
    }
    const auto failure = [&](const std::string& message) { return call.failure(message); };

    VELD_FB_FRAME frame{};
    std::vector<uint8_t> pixels(VELD_FB_PIXEL_CAPACITY);
    const int32_t result = VELD_HOST_FB_Read(kLayer, options.waitFrame, options.timeoutMs.value_or(0),
                                             &frame, pixels.data(), pixels.size());
    switch (result) {
    case VELD_FB_OK:
        break;
    case VELD_FB_ERR_ABSENT:
        return failure("no frame has been shown on layer 1 in " + namespaceText() +
                       " (is veldd running there?)");
    case VELD_FB_ERR_TIMEOUT: {
        VELD_FB_FRAME latest{};
        VELD_HOST_FB_Read(kLayer, 1, 0, &latest, nullptr, 0);  // fills the number only
        return failure("frame " + std::to_string(options.waitFrame) + " was not shown within " +
                       std::to_string(options.timeoutMs.value_or(0)) + " ms (latest is frame " +
                       std::to_string(latest.frame) + ")");
    }
    case VELD_FB_ERR_FORMAT:
        return failure("the frame buffer in " + namespaceText() +
                       " has a layout this veldctl does not know");
    default:
        return failure("cannot read the frame buffer (error " + std::to_string(result) + ")");
    }
    pixels.resize(size_t{frame.width} * frame.height);
    if (const std::string error = writeFrame(options, frame, pixels); !error.empty())
        return failure("cannot write " + options.file + ": " + error);
    if (options.file != "-") {
        std::printf("%s: frame %u, %ux%u%s\n", options.file.c_str(), frame.frame, frame.width,
                    frame.height, options.indexed ? ", indexed" : "");
    }
    if (const std::string why = staleness(frame); !why.empty()) {
        const std::string message = "frame " + std::to_string(frame.frame) + " is stale: " + why;
        if (!call.has("--allow-stale")) return failure(message + " (--allow-stale accepts it)");
        std::fprintf(stderr, "veldctl screenshot: %s\n", message.c_str());
    }
    return 0;
}

}  // namespace

constexpr OptionSpec kScreenshotOptions[] = {{"--indexed", ""},
                                             {"--wait-frame", "N", true},
                                             {"--timeout", "MS", true},
                                             {"--allow-stale", ""}};

const CommandSpec kScreenshotCommand{
    "screenshot", "FILE.png", 1, 1, kScreenshotOptions, "save the latest frame-buffer frame as PNG",
    "\n"
    "Writes the latest frame shown on frame-buffer layer 1 as a PNG (FILE - writes to\n"
    "standard output).\n"
    "\n"
    "  --indexed        an 8-bit palette PNG whose pixel values are the raw palette\n"
    "                   indices, with the palette's alpha in its transparency chunk;\n"
    "                   by default an RGB image: each palette colour composited with its\n"
    "                   alpha over mid grey (0x808080), so that translucency shows\n"
    "  --wait-frame N   wait until frame N (counted from 1 since the frame buffer was\n"
    "                   created) has been shown\n"
    "  --timeout MS     how long to wait (default 5000 with --wait-frame, else 0)\n"
    "  --allow-stale    exit 0 for a stale frame too\n"
    "\n"
    "A frame is stale when the process that drew it has ended, or when a newer veldd runs\n"
    "that has not drawn yet: the image is written, the reason is printed and the exit\n"
    "status is 1. The frame buffer is found in namespace $VELD_NS.\n",
    runScreenshot};

}  // namespace veld::tools
