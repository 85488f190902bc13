// The secure store's image: its fixed layout, the checks of its structure, lookup by name, the
// rebuilds that write and delete a record, and the count string at the end of the partition.
// Pure functions on bytes: no flash, no trusted world, no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace veld::se {

constexpr uint32_t kImageBytes = 0x40000;        // one copy
constexpr uint32_t kMainOffset = 0;
constexpr uint32_t kBackupOffset = 0x40000;
constexpr uint32_t kCountOffset = 0x7FFF8;       // the last 8 bytes of the backup's room
constexpr uint32_t kStoreRegionBytes = 0x80000;  // both copies and the count string
// A used size must leave the count string alone: it ends below the backup's last 8 bytes.
constexpr uint32_t kUsedLimit = kCountOffset - kBackupOffset;  // 0x3FFF8
constexpr uint32_t kMaxRecords = 2047;
constexpr uint32_t kMaxStoredLength = 32768;
constexpr uint32_t kNameBytes = 64;
constexpr uint32_t kEntryBytes = 68;
constexpr uint32_t kHeaderBytes = 52;
constexpr uint32_t kSeedOffset = 4;
constexpr uint32_t kCodeOffset = 20;
constexpr uint32_t kSeedBytes = 16;
constexpr uint32_t kCodeBytes = 32;
constexpr uint32_t kRecordOverhead = 80;  // stored vector 16 + record vector 16 + code block 48
constexpr uint32_t kBlockBytes = 16;      // AES block: stored data is whole blocks
constexpr uint32_t kFreshUsage = 120;
constexpr const char* kInitRecord = "-Initialized-";

// Image header; fields little-endian.
struct ImageHeader {
    uint8_t magic[2];  // "SE"
    uint8_t count[2];
    uint8_t seed[kSeedBytes];
    uint8_t code[kCodeBytes];
};
static_assert(sizeof(ImageHeader) == kHeaderBytes, "image header: 52 bytes");
static_assert(offsetof(ImageHeader, seed) == kSeedOffset && offsetof(ImageHeader, code) == kCodeOffset,
              "image header: seed and code");

// Directory entry: NUL-padded name field, then the stored length (little-endian).
struct DirEntry {
    char name[kNameBytes];
    uint8_t length[4];
};
static_assert(sizeof(DirEntry) == kEntryBytes, "directory entry: 68 bytes");

uint32_t loadLe16(const uint8_t* p);
uint32_t loadLe32(const uint8_t* p);
void storeLe16(uint8_t* p, uint32_t v);
void storeLe32(uint8_t* p, uint32_t v);

// The structure of an image of `bytes` bytes: magic, count, lengths and a used size that fits
// the image and leaves the count string alone. `used` receives the used size.
bool imageStructureValid(std::span<const uint8_t> image, uint32_t& used);
uint32_t imageCount(const uint8_t* image);
// The used size of an image whose structure is valid.
uint32_t imageUsage(const uint8_t* image);
// Writes the fresh image ("SE", one record "-Initialized-" of length 0) into `image`; the
// seed and code are left zero for the seal.
void freshImage(uint8_t* image);

// The lookup key of a name: the name and its terminator, or the last 63 characters and the
// terminator for longer names. Empty when the name is empty.
std::string_view nameKey(const char* name);

struct Found {
    int index = -1;        // directory index, -1 when absent
    uint32_t offset = 0;   // of the record's data in the image
    uint32_t length = 0;   // stored length
};
// Finds the record `name` in a structurally valid image.
Found findRecord(const uint8_t* image, const char* name);

// An image keeps at least one record: deleting the last one would leave no valid image.
enum class Rebuild { Ok, TooLarge, TooMany, NotFound, LastRecord };
// Writes into `out` (kImageBytes) the image with the record `name` set to `data` (replaced or
// appended) or, with `remove`, without it. The input image must be structurally valid.
Rebuild rebuildImage(const uint8_t* image, const char* name, std::span<const uint8_t> data,
                     bool remove, uint8_t* out);

// Count string: word 1 = initialisations ("I" in the top byte), word 2 = invalid data ("E").
struct Counts {
    uint32_t init = 0;
    uint32_t invalid = 0;
};
// Adds the requested increments to an 8-byte count string; a string without both markers
// starts again from zero. A counter at 0xFFFFFF stays there.
void bumpCountString(uint8_t text[8], bool init, bool invalid);
// The counters of a count string; false when its markers are missing.
bool readCountString(const uint8_t text[8], Counts& counts);

}  // namespace veld::se
