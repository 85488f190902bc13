// The secure store's image on its own: structure checks that keep every read inside the image
// and away from the count string, lookup by the last 63 characters, the record limit, and the
// count string's markers and saturation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "se_store_image.h"

namespace {

using namespace veld::se;

std::vector<uint8_t> fresh() {
    std::vector<uint8_t> image(kImageBytes, 0);
    freshImage(image.data());
    return image;
}

// Writes `name` with `length` bytes of `fill` into `image`.
void put(std::vector<uint8_t>& image, const std::string& name, uint32_t length, uint8_t fill = 0xAB) {
    const std::vector<uint8_t> data(length, fill);
    std::vector<uint8_t> out(kImageBytes, 0);
    ASSERT_EQ(rebuildImage(image.data(), name.c_str(), data, false, out.data()), Rebuild::Ok);
    image = out;
}

TEST(StoreImage, FreshImageIsOneInitialisedRecordOf120Bytes) {
    const std::vector<uint8_t> image = fresh();
    uint32_t used = 0;
    ASSERT_TRUE(imageStructureValid(image, used));
    EXPECT_EQ(used, kFreshUsage);
    EXPECT_EQ(std::memcmp(image.data(), "SE\x01\x00", 4), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(image.data() + 52), "-Initialized-");
    EXPECT_EQ(loadLe32(image.data() + 52 + 64), 0u);
}

TEST(StoreImage, StructureChecksRefuseWhatWouldReadPastTheImage) {
    struct Case {
        const char* what;
        void (*spoil)(std::vector<uint8_t>&);
    };
    const Case cases[] = {
        {"bad magic", [](std::vector<uint8_t>& i) { i[1] = 'F'; }},
        {"count 0", [](std::vector<uint8_t>& i) { storeLe16(i.data() + 2, 0); }},
        {"count 2048", [](std::vector<uint8_t>& i) { storeLe16(i.data() + 2, 2048); }},
        {"length above 32768", [](std::vector<uint8_t>& i) { storeLe32(i.data() + 116, 32769); }},
        // 2047 entries of 32768 bytes each sum far past the image, though each length is legal.
        {"lengths summing past the image",
         [](std::vector<uint8_t>& i) {
             storeLe16(i.data() + 2, 9);
             for (int e = 0; e < 9; ++e) storeLe32(i.data() + 52 + 68 * e + 64, 32768);
         }},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> image = fresh();
        c.spoil(image);
        uint32_t used = 0;
        EXPECT_FALSE(imageStructureValid(image, used)) << c.what;
    }
    // A used size that would reach the count string is refused even when the sum is legal.
    std::vector<uint8_t> image = fresh();
    storeLe16(image.data() + 2, 8);
    const uint32_t last = kUsedLimit - (52 + 8 * 68) - 7 * 32768;
    for (int e = 0; e < 8; ++e) storeLe32(image.data() + 52 + 68 * e + 64, e < 7 ? 32768 : last + 1);
    uint32_t used = 0;
    EXPECT_FALSE(imageStructureValid(image, used));
    storeLe32(image.data() + 52 + 68 * 7 + 64, last);
    EXPECT_TRUE(imageStructureValid(image, used));
    EXPECT_EQ(used, kUsedLimit);
}

TEST(StoreImage, WriteReplacesAppendsAndDeleteRemovesInOrder) {
    std::vector<uint8_t> image = fresh();
    put(image, "alpha", 96, 1);
    put(image, "beta", 80, 2);
    put(image, "alpha", 112, 3);  // replaced in place, order kept
    EXPECT_EQ(imageCount(image.data()), 3u);
    const Found alpha = findRecord(image.data(), "alpha");
    const Found beta = findRecord(image.data(), "beta");
    EXPECT_EQ(alpha.index, 1);
    EXPECT_EQ(alpha.length, 112u);
    EXPECT_EQ(beta.index, 2);
    EXPECT_EQ(beta.offset, alpha.offset + 112);
    EXPECT_EQ(image[beta.offset], 2);
    EXPECT_EQ(imageUsage(image.data()), 120u + 2 * 68 + 112 + 80);

    std::vector<uint8_t> out(kImageBytes, 0);
    ASSERT_EQ(rebuildImage(image.data(), "alpha", {}, true, out.data()), Rebuild::Ok);
    EXPECT_EQ(findRecord(out.data(), "alpha").index, -1);
    const Found moved = findRecord(out.data(), "beta");
    EXPECT_EQ(moved.index, 1);
    EXPECT_EQ(out[moved.offset], 2);
    EXPECT_EQ(rebuildImage(out.data(), "gamma", {}, true, image.data()), Rebuild::NotFound);
}

TEST(StoreImage, LongNamesAreKeyedByTheirLast63Characters) {
    std::vector<uint8_t> image = fresh();
    const std::string name = std::string(37, 'x') + std::string(63, 'k');  // 100 characters
    put(image, name, 80);
    EXPECT_GE(findRecord(image.data(), name.c_str()).index, 1);
    // Another name with the same last 63 characters is the same record.
    EXPECT_EQ(findRecord(image.data(), ("y" + std::string(63, 'k')).c_str()).index,
              findRecord(image.data(), name.c_str()).index);
    EXPECT_EQ(findRecord(image.data(), std::string(63, 'k').substr(1).c_str()).index, -1);
    EXPECT_EQ(findRecord(image.data(), "").index, -1);
}

TEST(StoreImage, The2048thRecordIsRefusedUpFront) {
    // 2047 records of length 0 fit the image; an image with a 2048th would be unreadable.
    std::vector<uint8_t> image(kImageBytes, 0);
    image[0] = 'S';
    image[1] = 'E';
    storeLe16(image.data() + 2, kMaxRecords);
    for (uint32_t i = 0; i < kMaxRecords; ++i)
        std::snprintf(reinterpret_cast<char*>(image.data() + 52 + 68 * i), 64, "r%u", i);
    uint32_t used = 0;
    ASSERT_TRUE(imageStructureValid(image, used));
    std::vector<uint8_t> out(kImageBytes, 0);
    EXPECT_EQ(rebuildImage(image.data(), "one-more", {}, false, out.data()), Rebuild::TooMany);
    const std::vector<uint8_t> data(80, 7);
    EXPECT_EQ(rebuildImage(image.data(), "r5", data, false, out.data()), Rebuild::Ok)
        << "replacing an existing record still works";
}

TEST(StoreImage, AWriteThatWouldReachTheCountStringIsRefused) {
    std::vector<uint8_t> image = fresh();
    std::vector<uint8_t> out(kImageBytes, 0);
    for (int i = 0; i < 7; ++i) put(image, "big" + std::to_string(i), 32768);
    const uint32_t left = kUsedLimit - imageUsage(image.data()) - 68;
    ASSERT_LT(left, 32768u);
    const std::vector<uint8_t> tooMuch(left + 1, 1), exact(left, 1);
    EXPECT_EQ(rebuildImage(image.data(), "last", tooMuch, false, out.data()), Rebuild::TooLarge);
    EXPECT_EQ(rebuildImage(image.data(), "last", exact, false, out.data()), Rebuild::Ok);
    EXPECT_EQ(imageUsage(out.data()), kUsedLimit);
}

TEST(StoreImage, CountStringCountsWithMarkersAndSaturates) {
    uint8_t text[8];
    std::memset(text, 0xFF, sizeof text);  // erased flash: no markers
    Counts counts;
    EXPECT_FALSE(readCountString(text, counts));
    bumpCountString(text, true, false);
    const uint8_t first[8] = {1, 0, 0, 'I', 0, 0, 0, 'E'};
    EXPECT_EQ(std::memcmp(text, first, 8), 0);
    bumpCountString(text, true, true);
    ASSERT_TRUE(readCountString(text, counts));
    EXPECT_EQ(counts.init, 2u);
    EXPECT_EQ(counts.invalid, 1u);
    storeLe32(text, 0xFFFFFF | uint32_t('I') << 24);
    bumpCountString(text, true, false);
    ASSERT_TRUE(readCountString(text, counts));
    EXPECT_EQ(counts.init, 0xFFFFFFu);
}

}  // namespace
