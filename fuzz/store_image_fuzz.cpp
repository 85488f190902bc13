// A store image comes from flash, where anything may stand: any bytes must be checked without a
// read past the image, and a record written into or deleted from an image that passed the
// checks must give an image that passes them again, with the count string left alone.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "se_store_image.h"

using namespace veld::se;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks the record's name and length; the rest is the image's start.
    if (size < 1) return 0;
    std::vector<uint8_t> image(kImageBytes, 0xFF);
    std::memcpy(image.data(), data + 1, std::min(size - 1, image.size()));
    uint32_t used = 0;
    if (!imageStructureValid(image, used)) return 0;
    if (used > kUsedLimit || used != imageUsage(image.data())) __builtin_trap();

    const std::string name = "r" + std::to_string(data[0] % 8);
    const std::vector<uint8_t> record(size_t(data[0]) * 16, data[0]);
    std::vector<uint8_t> out(kImageBytes, 0);
    for (bool remove : {false, true}) {
        if (rebuildImage(image.data(), name.c_str(), record, remove, out.data()) != Rebuild::Ok) continue;
        uint32_t rebuilt = 0;
        if (!imageStructureValid(out, rebuilt) || rebuilt > kUsedLimit) __builtin_trap();
        const Found found = findRecord(out.data(), name.c_str());
        if (!remove && (found.index < 0 || found.length != record.size())) __builtin_trap();
    }
    return 0;
}
