// The one PNG writer of veldctl (screenshots, GPU shots, metric plots): an image written under
// a temporary name and renamed, so that the file is never a half-written image.
#pragma once

#include <cstdint>
#include <string>

namespace veld::tools {

struct PngPicture {
    uint32_t width = 0, height = 0;
    uint32_t format = 0;                // libpng's simplified format (PNG_FORMAT_RGB, ...)
    const void* pixels = nullptr;       // rows packed one after another, top row first
    const void* colormap = nullptr;     // for the colour-map formats: their entries
    uint32_t colormapEntries = 0;
};

// Writes `picture` to `path` ("-": standard output). Returns "" or the reason it failed.
std::string writePng(const std::string& path, const PngPicture& picture);

}  // namespace veld::tools
