// The PNG writer of veldctl (see png_file.h), over libpng's simplified interface.
#include "png_file.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace veld::tools {

std::string writePng(const std::string& path, const PngPicture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = picture.width;
    image.height = picture.height;
    image.format = picture.format;
    image.colormap_entries = picture.colormapEntries;
    const bool toStdout = path == "-";
    const std::string part = path + ".part";
    FILE* out = toStdout ? stdout : std::fopen(part.c_str(), "wb");
    if (!out) return std::strerror(errno);
    const int ok = png_image_write_to_stdio(&image, out, 0, picture.pixels, 0, picture.colormap);
    std::string error = ok ? std::string() : std::string(image.message);
    png_image_free(&image);
    if (toStdout) {
        if (std::fflush(stdout) != 0 && error.empty()) error = std::strerror(errno);
        return error;
    }
    if (std::fclose(out) != 0 && error.empty()) error = std::strerror(errno);
    if (error.empty() && std::rename(part.c_str(), path.c_str()) != 0) error = std::strerror(errno);
    if (!error.empty()) std::remove(part.c_str());
    return error;
}

}  // namespace veld::tools
