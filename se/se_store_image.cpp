// The secure store's image layout, its structural checks, lookup, rebuilds and the count string
// (see se_store_image.h).
#include "se_store_image.h"

#include <cstring>

namespace veld::se {
namespace {

constexpr uint8_t kInitMarker = 'I';
constexpr uint8_t kInvalidMarker = 'E';
constexpr uint32_t kCounterMax = 0xFFFFFF;

const DirEntry* directory(const uint8_t* image) {
    return reinterpret_cast<const DirEntry*>(image + kHeaderBytes);
}

uint32_t bump(uint32_t counter, bool on) {
    return on && counter < kCounterMax ? counter + 1 : counter;
}

}  // namespace

uint32_t loadLe16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t loadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void storeLe16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void storeLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t imageCount(const uint8_t* image) { return loadLe16(image + 2); }

bool imageStructureValid(std::span<const uint8_t> image, uint32_t& used) {
    if (image.size() < kHeaderBytes || image[0] != 'S' || image[1] != 'E') return false;
    const uint32_t count = imageCount(image.data());
    if (count < 1 || count > kMaxRecords) return false;
    // The directory must fit before any length is read from it.
    uint64_t total = kHeaderBytes + uint64_t(kEntryBytes) * count;
    if (total > kUsedLimit || total > image.size()) return false;
    const DirEntry* dir = directory(image.data());
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t length = loadLe32(dir[i].length);
        if (length > kMaxStoredLength) return false;
        total += length;
        if (total > kUsedLimit || total > image.size()) return false;
    }
    used = static_cast<uint32_t>(total);
    return true;
}

uint32_t imageUsage(const uint8_t* image) {
    const uint32_t count = imageCount(image);
    uint32_t total = kHeaderBytes + kEntryBytes * count;
    const DirEntry* dir = directory(image);
    for (uint32_t i = 0; i < count; ++i) total += loadLe32(dir[i].length);
    return total;
}

void freshImage(uint8_t* image) {
    std::memset(image, 0, kFreshUsage);
    image[0] = 'S';
    image[1] = 'E';
    storeLe16(image + 2, 1);
    std::memcpy(image + kHeaderBytes, kInitRecord, std::strlen(kInitRecord));
}

std::string_view nameKey(const char* name) {
    if (!name || !*name) return {};
    const size_t length = std::strlen(name);
    const size_t keep = length > kNameBytes - 1 ? kNameBytes - 1 : length;
    // The key includes the terminator.
    return std::string_view(name + (length - keep), keep + 1);
}

Found findRecord(const uint8_t* image, const char* name) {
    Found found;
    const std::string_view key = nameKey(name);
    if (key.empty()) return found;
    const uint32_t count = imageCount(image);
    const DirEntry* dir = directory(image);
    uint32_t offset = kHeaderBytes + kEntryBytes * count;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t length = loadLe32(dir[i].length);
        if (std::memcmp(dir[i].name, key.data(), key.size()) == 0) {
            found.index = static_cast<int>(i);
            found.offset = offset;
            found.length = length;
            return found;
        }
        offset += length;
    }
    return found;
}

Rebuild rebuildImage(const uint8_t* image, const char* name, std::span<const uint8_t> data,
                     bool remove, uint8_t* out) {
    const uint32_t count = imageCount(image);
    const Found found = findRecord(image, name);
    if (remove && found.index < 0) return Rebuild::NotFound;
    if (remove && count == 1) return Rebuild::LastRecord;
    if (!remove && found.index < 0 && count >= kMaxRecords) return Rebuild::TooMany;
    const uint32_t newCount = remove ? count - 1 : found.index < 0 ? count + 1 : count;
    // The new used size, checked before anything is written.
    uint64_t used = uint64_t(imageUsage(image)) + (remove ? 0 : data.size()) +
                    (newCount > count ? kEntryBytes : 0) - (remove ? kEntryBytes : 0) -
                    (found.index >= 0 ? found.length : 0);
    if (used > kUsedLimit) return Rebuild::TooLarge;

    std::memcpy(out, image, kHeaderBytes);
    storeLe16(out + 2, newCount);
    DirEntry* outDir = reinterpret_cast<DirEntry*>(out + kHeaderBytes);
    const DirEntry* dir = directory(image);
    uint8_t* outData = out + kHeaderBytes + kEntryBytes * newCount;
    const uint8_t* inData = image + kHeaderBytes + kEntryBytes * count;
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t length = loadLe32(dir[i].length);
        const bool named = static_cast<int>(i) == found.index;
        if (!(named && remove)) {
            outDir[n] = dir[i];
            const std::span<const uint8_t> bytes = named ? data : std::span(inData, length);
            storeLe32(outDir[n].length, static_cast<uint32_t>(bytes.size()));
            if (!bytes.empty()) std::memcpy(outData, bytes.data(), bytes.size());
            outData += bytes.size();
            ++n;
        }
        inData += length;
    }
    if (!remove && found.index < 0) {
        const std::string_view key = nameKey(name);
        std::memset(outDir[n].name, 0, kNameBytes);
        std::memcpy(outDir[n].name, key.data(), key.size());
        storeLe32(outDir[n].length, static_cast<uint32_t>(data.size()));
        if (!data.empty()) std::memcpy(outData, data.data(), data.size());
    }
    return Rebuild::Ok;
}

void bumpCountString(uint8_t text[8], bool init, bool invalid) {
    Counts counts;
    if (!readCountString(text, counts)) counts = {};
    storeLe32(text, bump(counts.init, init) | uint32_t(kInitMarker) << 24);
    storeLe32(text + 4, bump(counts.invalid, invalid) | uint32_t(kInvalidMarker) << 24);
}

bool readCountString(const uint8_t text[8], Counts& counts) {
    if (text[3] != kInitMarker || text[7] != kInvalidMarker) return false;
    counts.init = loadLe32(text) & kCounterMax;
    counts.invalid = loadLe32(text + 4) & kCounterMax;
    return true;
}

}  // namespace veld::se
