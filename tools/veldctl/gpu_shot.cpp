// veldctl gpu shot: the target of the latest 2D draw of the simulated GPU as a PNG. The
// simulator names the target (address, stride, size and format, and whether its memory is
// still allocated); the pixels are read from the shared video memory and converted with the
// simulator's own pixel codecs, then written by veldctl's PNG writer.
#include <fcntl.h>
#include <png.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gpu.h"
#include "gpu_device.h"
#include "gpu_profile.h"
#include "pixel_formats.h"
#include "png_file.h"
#include "seam.h"

namespace veld::tools {
namespace {

using Fields = std::map<std::string, uint64_t>;

// The simulator's "target" answer as key=value numbers, or its error text.
bool latestTarget(Fields& fields, std::string& error) {
    const auto answer = gpu_device::simControl("target");
    if (!answer) {
        error = "no GPU simulator serves this root and namespace (start it with veldctl sim start)";
        return false;
    }
    if (answer->rfind("error: ", 0) == 0) {
        error = "the GPU simulator says: " + answer->substr(7, answer->find('\n') - 7);
        return false;
    }
    std::istringstream in(*answer);
    std::string line;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) fields[line.substr(0, equals)] = std::stoull(line.substr(equals + 1));
    }
    for (const char* key : {"address", "offset", "stride", "width", "height", "format", "swizzle", "live"})
        if (!fields.count(key)) {
            error = std::string("the GPU simulator's answer lacks ") + key;
            return false;
        }
    return true;
}

// The video memory, mapped read-only for the life of the object.
struct VideoMemoryView {
    const uint8_t* bytes = nullptr;
    VideoMemoryView() {
        const int fd = ::shm_open(seam::ipcName("/veld-gpu-vidmem").c_str(), O_RDONLY, 0);
        if (fd < 0) return;
        void* map = ::mmap(nullptr, gpusim::kVideoBytes, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        if (map != MAP_FAILED) bytes = static_cast<const uint8_t*>(map);
    }
    ~VideoMemoryView() {
        if (bytes) ::munmap(const_cast<uint8_t*>(bytes), gpusim::kVideoBytes);
    }
    VideoMemoryView(const VideoMemoryView&) = delete;
    VideoMemoryView& operator=(const VideoMemoryView&) = delete;
};

int runGpuShot(const Invocation& call) {
    const std::string file(call.args()[0]);
    const bool alpha = call.has("--alpha");
    Fields t;
    std::string error;
    if (!latestTarget(t, error)) return call.failure(error);
    char where[64];
    std::snprintf(where, sizeof where, "GPU address 0x%08llx", static_cast<unsigned long long>(t["address"]));
    if (!t["live"])
        return call.failure(std::string("the latest 2D target (") + where +
                            ") is no longer allocated: the program that drew it has ended or freed it");
    const gpusim::PixelLayout layout = gpusim::pixelLayout(uint32_t(t["format"]), uint32_t(t["swizzle"]), false);
    if (layout.kind != gpusim::PixelKind::Rgb)
        return call.failure("the latest 2D target has hardware format " + std::to_string(t["format"]) +
                            ", which has no colours of its own to show (only RGB and alpha formats)");
    const uint64_t width = t["width"] ? t["width"] : t["stride"] / layout.bytes;
    const uint64_t height = t["height"];
    if (width == 0 || height == 0 || width > 0xFFFF || width * layout.bytes > t["stride"])
        return call.failure(std::string("the latest 2D target (") + where + ") has no size to show");
    if (t["offset"] + t["stride"] * height > gpusim::kVideoBytes)
        return call.failure(std::string("the latest 2D target (") + where + ") lies outside video memory");
    const VideoMemoryView memory;
    if (!memory.bytes) return call.failure("cannot map the GPU simulator's video memory");

    const size_t channels = alpha ? 4 : 3;
    std::vector<uint8_t> pixels(size_t(width) * height * channels);
    std::vector<uint32_t> argb(width);
    for (uint64_t y = 0; y < height; ++y) {
        gpusim::decodeRow(layout, memory.bytes + t["offset"] + y * t["stride"], uint32_t(width), argb.data(), nullptr);
        uint8_t* out = &pixels[size_t(y) * width * channels];
        for (uint32_t c : argb) {
            *out++ = uint8_t(c >> 16);
            *out++ = uint8_t(c >> 8);
            *out++ = uint8_t(c);
            if (alpha) *out++ = uint8_t(c >> 24);
        }
    }
    // The drawer may have freed the surface while it was read: then the picture is not its.
    Fields after;
    if (!latestTarget(after, error) || !after["live"] || after["address"] != t["address"])
        return call.failure(std::string("the latest 2D target (") + where + ") changed while it was read");

    PngPicture picture;
    picture.width = uint32_t(width);
    picture.height = uint32_t(height);
    picture.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    picture.pixels = pixels.data();
    if (const std::string failed = writePng(file, picture); !failed.empty())
        return call.failure("cannot write " + file + ": " + failed);
    if (file != "-")
        std::printf("%s: %llux%llu, hardware format %llu swizzle %llu, %s\n", file.c_str(),
                    static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                    static_cast<unsigned long long>(t["format"]), static_cast<unsigned long long>(t["swizzle"]), where);
    return 0;
}

constexpr OptionSpec kGpuShotOptions[] = {{"--alpha", ""}};

}  // namespace

const CommandSpec kGpuShotCommand{
    "gpu shot", "FILE.png", 1, 1, kGpuShotOptions, "save the latest 2D target of the simulated GPU as PNG",
    "\n"
    "Writes the surface that the latest 2D draw of the simulated GPU went into (clear, blit,\n"
    "stretch or monochrome blit) as a PNG (FILE - writes to standard output): every pixel in\n"
    "memory order, converted from the surface's format. The surface must still be allocated,\n"
    "so the program that drew it must still hold it (gal_demo runs a command while it holds\n"
    "its picture: gal_demo veldctl gpu shot FILE.png).\n"
    "\n"
    "  --alpha    keep the pixels' alpha (an RGBA image); by default an RGB image, as the\n"
    "             display would scan it out\n"
    "\n"
    "Formats without colours of their own (INDEX8, YUV) are refused. The simulator is found\n"
    "under $VELD_ROOT in namespace $VELD_NS (veldctl sim start).\n",
    runGpuShot};

}  // namespace veld::tools
