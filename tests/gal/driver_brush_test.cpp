// Brush objects and the engine's brush cache, end to end: brushes found again by signature,
// solid, monochrome and colour brushes drawn through the cache, the command stream and the
// simulated core (compared with the reference renderer), pattern buffers taken back from the
// least recently used end and written again only after the GPU has passed the commands that
// read them, the current brush after a direct load, and the error codes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gal/brush_record.h"
#include "gal/engine_state.h"
#include "gal_brush.h"
#include "gal_surface.h"
#include "gpu_sim_fixture.h"
#include "reference.h"
#include "video_surface.h"

namespace {

using veld::test::GpuSimulator;
using veld::test::VideoSurface;

// A colour brush's pattern: 8 x 8 A8R8G8B8 pixels, and the reference's view of it.
struct Pattern {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(256);
    explicit Pattern(std::mt19937& random) {
        for (uint8_t& b : bytes) b = uint8_t(random());
    }
    galref::Surface surface() {
        galref::Surface s;
        s.format = galref::A8R8G8B8;
        s.width = s.height = 8;
        s.planes[0] = bytes.data();
        s.strides[0] = 32;
        return s;
    }
};

// A target that the driver draws into with the engine's brush (ROP 0xF0) and the reference
// with the brush the test expects; compared after one commit at the end.
class Canvas {
public:
    explicit Canvas(std::mt19937& random)
        : target_(64, 16, 212, random),
          expected_(target_.memory, target_.memory + target_.stride * target_.height),
          reference_(target_.view(expected_.data(), 0)) {}

    void draw(gco2D e, const galref::Rect& r, const galref::Brush& brush) {
        ASSERT_EQ(gcoSURF_Set2DTarget(target_.surface, 0), gcvSTATUS_OK);
        const gcsRECT rect{r.left, r.top, r.right, r.bottom};
        ASSERT_EQ(gco2D_Blit(e, 1, &rect, 0xF0, 0xF0, 212), gcvSTATUS_OK);
        expect(r, brush);
    }
    void expect(const galref::Rect& r, const galref::Brush& brush) {
        galref::Raster raster;
        raster.foregroundRop = raster.backgroundRop = 0xF0;
        ASSERT_EQ(galref::blit(galref::Source{}, reference_, r, galref::kDefaultClip, brush, raster),
                  galref::Status::Ok);
    }
    std::string compare() {
        EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
        return galref::compareSurfaces("brush", reference_, target_.view(target_.memory, 0));
    }
    gcoSURF surface() const { return target_.surface; }

private:
    VideoSurface target_;
    std::vector<uint8_t> expected_;
    galref::Surface reference_;
};

galref::Brush colourRef(galref::Surface& pattern, uint32_t ox, uint32_t oy) {
    galref::Brush b;
    b.type = galref::BrushType::Color;
    b.pattern = &pattern;
    b.originX = ox;
    b.originY = oy;
    return b;
}

galref::Rect slot(int i) { return {i * 8 % 64, i * 8 / 64 * 8, i * 8 % 64 + 8, i * 8 / 64 * 8 + 8}; }

class DriverBrush : public veld::test::GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        ASSERT_EQ(gcoHAL_Get2DEngine(nullptr, &e_), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_GetBrushCache(e_, &cache_), gcvSTATUS_OK);
        ASSERT_NE(cache_, nullptr);
        ASSERT_EQ(gco2D_SetCurrentSourceIndex(e_, 0), gcvSTATUS_OK);
        gco2D_SetClipping(e_, nullptr);
        gco2D_SetBitBlitMirror(e_, 0, 0);
        gco2D_SetTransparencyAdvanced(e_, 0, 0, 0);
        // Buffers left by earlier tests go: only the ones a test loads count.
        ASSERT_EQ(gco2D_LoadSolidBrush(e_, 212, 1, 0, 0), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetBrushLimit(e_, 0), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetBrushLimit(e_, gcdBRUSH_BUFFER_LIMIT), gcvSTATUS_OK);
        faults_ = GpuSimulator::counter("faults");
    }
    void TearDown() override {
        for (gcoBRUSH b : brushes_) EXPECT_EQ(gcoBRUSH_Destroy(b), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetBrushLimit(e_, gcdBRUSH_BUFFER_LIMIT), gcvSTATUS_OK);
        EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
        EXPECT_EQ(GpuSimulator::counter("faults"), faults_);
    }
    gcoBRUSH colourBrush(Pattern& p, uint32_t ox = 0, uint32_t oy = 0) {
        gcoBRUSH b = nullptr;
        EXPECT_EQ(gcoBRUSH_ConstructColor(nullptr, ox, oy, p.bytes.data(), 212, 0, &b), gcvSTATUS_OK);
        brushes_.push_back(b);
        return b;
    }
    // Loads through the cache; the colour brush's buffer address as the engine took it.
    uint32_t load(gcoBRUSH b) {
        EXPECT_EQ(gco2D_FlushBrush(e_, b, 212), gcvSTATUS_OK);
        return e_->brush.address;
    }
    static uint64_t nodesAfterCommit() {
        EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
        return GpuSimulator::counter("nodes");
    }

    gco2D e_ = nullptr;
    gcoBRUSH_CACHE cache_ = nullptr;
    std::vector<gcoBRUSH> brushes_;
    uint64_t faults_ = 0;
};

TEST_F(DriverBrush, AnEqualBrushIsTheCachedOneUntilItsLastReferenceGoes) {
    gcoBRUSH a = nullptr, b = nullptr, c = nullptr;
    ASSERT_EQ(gcoBRUSH_ConstructMonochrome(nullptr, 1, 2, 1, 0xFFFF0000u, 0xFF0000FFu,
                                           0x8142241818244281ull, 0, &a), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_ConstructMonochromeBrush(e_, 1, 2, 1, 0xFFFF0000u, 0xFF0000FFu,
                                             0x8142241818244281ull, 0, &b), gcvSTATUS_OK);
    EXPECT_EQ(a, b);
    ASSERT_EQ(gcoBRUSH_ConstructMonochrome(nullptr, 1, 3, 1, 0xFFFF0000u, 0xFF0000FFu,
                                           0x8142241818244281ull, 0, &c), gcvSTATUS_OK);
    EXPECT_NE(a, c);
    EXPECT_EQ(gcoBRUSH_Destroy(c), gcvSTATUS_OK);
    // Destroyed once: still cached, found by its signature.
    EXPECT_EQ(gcoBRUSH_Destroy(a), gcvSTATUS_OK);
    std::vector<uint8_t> signature(gcdBRUSH_SIGNATURE_BYTES);
    uint32_t size = uint32_t(signature.size()), id = 0;
    ASSERT_EQ(gcoBRUSH_GetBrushData(b, signature.data(), &size), gcvSTATUS_OK);
    ASSERT_EQ(gcoBRUSH_CACHE_GetBrushID(cache_, signature.data(), size, &id), gcvSTATUS_OK);
    gcoBRUSH found = nullptr;
    ASSERT_EQ(gcoBRUSH_CACHE_GetBrush(cache_, id, signature.data(), size, &found), gcvSTATUS_OK);
    EXPECT_EQ(found, a);
    EXPECT_EQ(gcoBRUSH_Destroy(found), gcvSTATUS_OK);
    EXPECT_EQ(gcoBRUSH_Destroy(b), gcvSTATUS_OK);
    // The last reference is gone: no longer in the cache.
    EXPECT_EQ(gcoBRUSH_CACHE_GetBrush(cache_, id, signature.data(), size, &found),
              gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(found, nullptr);
    // Single-colour brushes from either constructor are one brush too.
    ASSERT_EQ(gcoBRUSH_ConstructSingleColor(nullptr, 1, 0xFF102030u, 0, &a), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_ConstructSingleColorBrush(e_, 1, 0xFF102030u, 0, &b), gcvSTATUS_OK);
    EXPECT_EQ(a, b);
    brushes_ = {a, b};
}

TEST_F(DriverBrush, SignaturesExpandThePatternAndFoldIntoTheId) {
    std::mt19937 random(3);
    Pattern pattern(random);
    gcoBRUSH solid = nullptr, mono = nullptr;
    ASSERT_EQ(gcoBRUSH_ConstructSingleColor(nullptr, 0, 0x11223344u, 0x5ull, &solid), gcvSTATUS_OK);
    ASSERT_EQ(gcoBRUSH_ConstructMonochrome(nullptr, 7, 0, 1, 0xAAu, 0xBBu, 0x8000000000000001ull,
                                           0, &mono), gcvSTATUS_OK);
    gcoBRUSH colour = colourBrush(pattern, 4, 5);
    brushes_.insert(brushes_.end(), {solid, mono});
    uint32_t words[gcdBRUSH_SIGNATURE_BYTES / 4];
    uint32_t size = 100;
    EXPECT_EQ(gcoBRUSH_GetBrushData(solid, words, &size), gcvSTATUS_MORE_DATA);
    EXPECT_EQ(size, gcdBRUSH_SIGNATURE_BYTES);
    ASSERT_EQ(gcoBRUSH_GetBrushData(solid, words, &size), gcvSTATUS_OK);
    EXPECT_EQ(size, 296u);
    const uint32_t solidHead[10] = {212, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0x11223344u, 0, 0, 0, 0, 5};
    EXPECT_EQ(std::memcmp(words, solidHead, sizeof solidHead), 0);
    for (int i = 10; i < 74; ++i) EXPECT_EQ(words[i], 0x11223344u);
    ASSERT_EQ(gcoBRUSH_GetBrushData(mono, words, &size), gcvSTATUS_OK);
    EXPECT_EQ(words[6], 0x80000000u);
    EXPECT_EQ(words[7], 1u);
    EXPECT_EQ(words[10], 0xAAu);
    EXPECT_EQ(words[11], 0xBBu);
    EXPECT_EQ(words[73], 0xAAu);
    ASSERT_EQ(gcoBRUSH_GetBrushData(colour, words, &size), gcvSTATUS_OK);
    EXPECT_EQ(size, 40u + 256u);
    EXPECT_EQ(std::memcmp(words + 10, pattern.bytes.data(), 256), 0);
    // The ID folds byte i into byte i mod 4.
    uint32_t expected = 0, id = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(words);
    for (uint32_t i = 0; i < size; ++i) expected ^= uint32_t(bytes[i]) << (8 * (i % 4));
    ASSERT_EQ(gcoBRUSH_CACHE_GetBrushID(cache_, words, size, &id), gcvSTATUS_OK);
    EXPECT_EQ(id, expected);
    ASSERT_EQ(gcoBRUSH_CACHE_GetBrushID(cache_, words, 7, &id), gcvSTATUS_OK);
    EXPECT_EQ(id, uint32_t(bytes[0] ^ bytes[4]) | uint32_t(bytes[1] ^ bytes[5]) << 8 |
                      uint32_t(bytes[2] ^ bytes[6]) << 16 | uint32_t(bytes[3]) << 24);
}

TEST_F(DriverBrush, SolidMonochromeAndColourBrushesDrawThroughTheCache) {
    std::mt19937 random(5);
    Canvas canvas(random);
    Pattern pattern(random);
    galref::Surface patternRef = pattern.surface();
    gcoBRUSH solid = nullptr, mono = nullptr;
    ASSERT_EQ(gcoBRUSH_ConstructSingleColor(nullptr, 1, 0xFF3366CCu, 0, &solid), gcvSTATUS_OK);
    ASSERT_EQ(gcoBRUSH_ConstructMonochrome(nullptr, 3, 5, 1, 0xFFFF8000u, 0xFF0080FFu,
                                           0x0123456789ABCDEFull, 0, &mono), gcvSTATUS_OK);
    gcoBRUSH colour = colourBrush(pattern, 2, 1);
    brushes_.insert(brushes_.end(), {solid, mono});
    galref::Brush solidRef;
    solidRef.type = galref::BrushType::Solid;
    solidRef.colour = 0xFF3366CCu;
    galref::Brush monoRef;
    monoRef.type = galref::BrushType::Monochrome;
    monoRef.originX = 3;
    monoRef.originY = 5;
    monoRef.bits = 0x0123456789ABCDEFull;
    monoRef.foreground = 0xFFFF8000u;
    monoRef.background = 0xFF0080FFu;
    load(solid);
    canvas.draw(e_, {1, 1, 20, 7}, solidRef);
    load(mono);
    canvas.draw(e_, {21, 2, 40, 15}, monoRef);
    load(colour);
    canvas.draw(e_, {41, 0, 63, 13}, colourRef(patternRef, 2, 1));
    // Through a surface blit with the brush object (no source: the ROP reads only the pattern).
    const gcsRECT rect{3, 9, 19, 16};
    ASSERT_EQ(gcoSURF_Blit(nullptr, canvas.surface(), 1, nullptr, &rect, mono, 0xF0, 0xF0, 0, 0,
                           nullptr, 0), gcvSTATUS_OK);
    canvas.expect({3, 9, 19, 16}, monoRef);
    EXPECT_EQ(canvas.compare(), "");
}

TEST_F(DriverBrush, BuffersAreTakenFromTheLeastRecentlyUsedEndAndRefilledAfterTheGpuIsDone) {
    std::mt19937 random(7);
    Canvas canvas(random);
    std::vector<Pattern> patterns;
    for (int i = 0; i < 4; ++i) patterns.emplace_back(random);
    std::vector<galref::Surface> refs;
    for (Pattern& p : patterns) refs.push_back(p.surface());
    std::vector<gcoBRUSH> b;
    for (Pattern& p : patterns) b.push_back(colourBrush(p));
    ASSERT_EQ(gco2D_SetBrushLimit(e_, 3), gcvSTATUS_OK);
    const uint64_t nodes = nodesAfterCommit();
    // Nothing is committed while the buffers change hands: every rectangle must still show the
    // pattern its brush had when it was drawn.
    int at = 0;
    auto drawWith = [&](int i) -> uint32_t {
        const uint32_t address = load(b[size_t(i)]);
        canvas.draw(e_, slot(at++), colourRef(refs[size_t(i)], 0, 0));
        return address;
    };
    const uint32_t a0 = drawWith(0), a1 = drawWith(1), a2 = drawWith(2);
    EXPECT_NE(a0, a1);
    EXPECT_NE(a1, a2);
    EXPECT_NE(a0, a2);
    EXPECT_EQ(drawWith(0), a0);  // a hit: the same buffer, now the most recently used
    EXPECT_EQ(drawWith(3), a1);  // brush 1's buffer was the least recently used
    EXPECT_EQ(drawWith(1), a2);  // brush 1 is uploaded again, into brush 2's buffer
    EXPECT_EQ(drawWith(2), a0);
    EXPECT_EQ(drawWith(3), a1);  // still held
    EXPECT_EQ(canvas.compare(), "");
    EXPECT_EQ(nodesAfterCommit(), nodes + 3);
}

TEST_F(DriverBrush, ADirectLoadDropsTheCurrentBrushAndTheCurrentBrushKeepsItsBuffer) {
    std::mt19937 random(9);
    Canvas canvas(random);
    Pattern pa(random), pb(random);
    galref::Surface ra = pa.surface(), rb = pb.surface();
    gcoBRUSH a = colourBrush(pa, 1, 1), b = colourBrush(pb);
    const uint64_t nodes = nodesAfterCommit();
    load(a);
    load(b);
    const uint32_t address = load(a);
    EXPECT_EQ(nodesAfterCommit(), nodes + 2);
    // Lowering the limit frees from the least recently used end: brush b's buffer.
    ASSERT_EQ(gco2D_SetBrushLimit(e_, 1), gcvSTATUS_OK);
    EXPECT_EQ(nodesAfterCommit(), nodes + 1);
    // The engine still draws with a, so a keeps its buffer even below the limit.
    ASSERT_EQ(gco2D_SetBrushLimit(e_, 0), gcvSTATUS_OK);
    EXPECT_EQ(nodesAfterCommit(), nodes + 1);
    canvas.draw(e_, slot(0), colourRef(ra, 1, 1));
    // A brush loaded directly replaces a in the engine; loading a through the cache again
    // must program it again.
    ASSERT_EQ(gco2D_LoadSolidBrush(e_, 212, 1, 0xFF00FF00u, 0), gcvSTATUS_OK);
    galref::Brush green;
    green.type = galref::BrushType::Solid;
    green.colour = 0xFF00FF00u;
    canvas.draw(e_, slot(1), green);
    EXPECT_EQ(load(a), address);
    EXPECT_EQ(e_->brush.type, gal::kBrushColor);
    canvas.draw(e_, slot(2), colourRef(ra, 1, 1));
    EXPECT_EQ(canvas.compare(), "");
    // With the limit at 0 and a no longer current, nothing is left for b.
    ASSERT_EQ(gco2D_LoadSolidBrush(e_, 212, 1, 0xFF00FF00u, 0), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetBrushLimit(e_, 0), gcvSTATUS_OK);
    EXPECT_EQ(gco2D_FlushBrush(e_, b, 212), gcvSTATUS_OUT_OF_MEMORY);
    EXPECT_EQ(nodesAfterCommit(), nodes);
    ASSERT_EQ(gco2D_SetBrushLimit(e_, 1), gcvSTATUS_OK);
    canvas.draw(e_, slot(3), green);
    load(b);
    canvas.draw(e_, slot(4), colourRef(rb, 0, 0));
    EXPECT_EQ(canvas.compare(), "");
}

TEST_F(DriverBrush, WithOneBufferEachBrushWaitsForTheCommandsOfThePreviousOne) {
    std::mt19937 random(13);
    Canvas canvas(random);
    Pattern pa(random), pb(random);
    galref::Surface ra = pa.surface(), rb = pb.surface();
    gcoBRUSH a = colourBrush(pa), b = colourBrush(pb);
    ASSERT_EQ(gco2D_SetBrushLimit(e_, 1), gcvSTATUS_OK);
    const uint64_t commits = GpuSimulator::counter("commits");
    for (int i = 0; i < 6; ++i) {
        load(i % 2 ? b : a);
        canvas.draw(e_, slot(i), colourRef(i % 2 ? rb : ra, 0, 0));
    }
    // Each change of pattern had to submit the commands that read the previous one.
    EXPECT_GE(GpuSimulator::counter("commits"), commits + 5);
    EXPECT_EQ(canvas.compare(), "");
}

TEST_F(DriverBrush, ErrorCodes) {
    std::mt19937 random(17);
    Pattern pattern(random);
    gcoBRUSH brush = nullptr;
    EXPECT_EQ(gcoBRUSH_ConstructSingleColor(nullptr, 2, 0, 0, &brush), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoBRUSH_ConstructSingleColor(nullptr, 1, 0, 0, nullptr), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoBRUSH_ConstructMonochrome(nullptr, 8, 0, 1, 0, 0, 0, 0, &brush),
              gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoBRUSH_ConstructMonochrome(nullptr, 0, 0, 2, 0, 0, 0, 0, &brush),
              gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoBRUSH_ConstructColor(nullptr, 0, 0, nullptr, 212, 0, &brush), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoBRUSH_ConstructColor(nullptr, 0, 0, pattern.bytes.data(), 503, 0, &brush),
              gcvSTATUS_INVALID_ARGUMENT);  // planar YUV
    EXPECT_EQ(brush, nullptr);
    gcoBRUSH colour = colourBrush(pattern);
    gcsBRUSH_BUFFER buffer{};
    EXPECT_EQ(gcoBRUSH_FlushBrush(colour, 1, nullptr), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoBRUSH_FlushBrush(colour, 1, &buffer), gcvSTATUS_MEMORY_UNLOCKED);
    EXPECT_EQ(gcoBRUSH_FlushBrush(nullptr, 1, &buffer), gcvSTATUS_INVALID_OBJECT);
    uint32_t size = 296;
    EXPECT_EQ(gcoBRUSH_GetBrushData(colour, nullptr, &size), gcvSTATUS_MORE_DATA);
    EXPECT_EQ(gcoBRUSH_GetBrushData(colour, &buffer, nullptr), gcvSTATUS_INVALID_ARGUMENT);
    // A brush the cache does not hold.
    gcoBRUSH_CACHE other = nullptr;
    ASSERT_EQ(gcoBRUSH_CACHE_Construct(nullptr, &other), gcvSTATUS_OK);
    EXPECT_EQ(gcoBRUSH_CACHE_FlushBrush(other, colour), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoBRUSH_CACHE_DeleteBrush(other, colour), gcvSTATUS_INVALID_ARGUMENT);
    uint32_t words[74] = {};
    EXPECT_EQ(gcoBRUSH_CACHE_GetBrush(other, 0, words, 296, &brush), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoBRUSH_CACHE_GetBrushID(other, words, 297, &size), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoBRUSH_CACHE_AddBrush(cache_, colour, 0, 1), gcvSTATUS_INVALID_ARGUMENT);  // twice
    EXPECT_EQ(gcoBRUSH_CACHE_Destroy(other), gcvSTATUS_OK);
    EXPECT_EQ(gcoBRUSH_CACHE_SetBrushLimit(nullptr, 1), gcvSTATUS_INVALID_OBJECT);
    EXPECT_EQ(gco2D_FlushBrush(e_, nullptr, 212), gcvSTATUS_INVALID_OBJECT);
}

}  // namespace
