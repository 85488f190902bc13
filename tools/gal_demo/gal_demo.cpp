// gal_demo: draws a picture through libGAL.so (on the simulated GPU with VELD_SIM=1) so that a
// user can see the 2D driver work: a gradient of clears, a tile blitted in every rotation and
// mirror and stretched, a panel filled with a monochrome brush, colour-keyed sprites, colour
// bars converted from R5G6B5, a title
// expanded from the window system's monochrome glyphs and stretched, and a line of text
// expanded straight onto the picture. The picture's layout is in gal_demo.h.
//
//   gal_demo [COMMAND [ARGS...]]
//
// The picture lives as long as this program holds it; with a command (such as
// `veldctl gpu shot FILE.png`), the command runs once the picture is drawn, and gal_demo
// exits with its status.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gal_2d.h"
#include "gal_demo.h"
#include "gal_hal.h"
#include "gal_surface.h"
#include "xfont.h"

namespace {

using namespace veld::gal_demo;

constexpr uint32_t kArgb = 212;  // A8R8G8B8
constexpr uint32_t kRgb565 = 209;
constexpr uint32_t kBitmap = 6;  // surface type

// A surface in video memory, locked for its GPU address while it lives.
struct Surface {
    gcoSURF surface = nullptr;
    uint32_t format, address = 0, width = 0, height = 0;
    int32_t stride = 0;
    gceSTATUS status = gcvSTATUS_OK;

    Surface(uint32_t w, uint32_t h, uint32_t f = kArgb) : format(f) {
        status = gcoSURF_Construct(nullptr, w, h, 1, kBitmap, format, 1, &surface);
        uint32_t addresses[3] = {};
        void* memory[3] = {};
        if (status >= 0) status = gcoSURF_Lock(surface, addresses, memory);
        if (status >= 0) status = gcoSURF_GetAlignedSize(surface, &width, &height, &stride);
        address = addresses[0];
    }
    ~Surface() {
        if (!surface) return;
        if (address) gcoSURF_Unlock(surface, nullptr);
        gcoSURF_Destroy(surface);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
};

gcsRECT rect(int32_t left, int32_t top, int32_t width, int32_t height) {
    return gcsRECT{left, top, left + width, top + height};
}

uint32_t mix(uint32_t a, uint32_t b, uint32_t step, uint32_t steps) {
    uint32_t out = 0xFF000000;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        out |= (ca + (cb - ca) * step / steps) << shift;
    }
    return out;
}

// Rows of monochrome glyphs of `text`, one byte a glyph row, leftmost pixel in the top bit.
std::vector<uint8_t> glyphStream(const char* text) {
    const size_t n = std::strlen(text);
    std::vector<uint8_t> stream(n * veld::xfont::kCellHeight);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* glyph = veld::xfont::glyph(g_uxm_fnt_data, uint8_t(text[i]));
        for (int row = 0; row < veld::xfont::kCellHeight; ++row) stream[row * n + i] = glyph ? glyph[row] : 0;
    }
    return stream;
}

// The engine's calls, each checked; the first failure is kept and the rest are skipped.
class Painter {
public:
    Painter() { note(gcoHAL_Get2DEngine(nullptr, &e_), "gcoHAL_Get2DEngine"); }

    bool ok() const { return failed_.empty(); }
    const std::string& failure() const { return failed_; }
    int operations() const { return operations_; }

    void note(gceSTATUS status, const char* what) {
        if (status < 0 && failed_.empty()) failed_ = std::string(what) + " failed with status " + std::to_string(status);
    }

    void target(const Surface& s) {
        note(s.status, "a surface");
        if (!ok()) return;
        note(gco2D_SetTargetEx(e_, s.address, uint32_t(s.stride), 0, s.width, s.height), "gco2D_SetTargetEx");
        const gcsRECT all = rect(0, 0, int32_t(s.width), int32_t(s.height));
        note(gco2D_SetClipping(e_, &all), "gco2D_SetClipping");
    }
    // `s` as the colour source, turned by `rotation`, with its colour key (transparency 1) or
    // without; the whole surface is the source rectangle.
    void source(const Surface& s, uint32_t rotation, bool keyed = false, uint32_t key = 0) {
        if (!ok()) return;
        note(gco2D_SetColorSourceEx(e_, s.address, uint32_t(s.stride), s.format, rotation, s.width, s.height, 0,
                                    keyed ? 1 : 0, key),
             "gco2D_SetColorSourceEx");
        const gcsRECT whole = rect(0, 0, int32_t(s.width), int32_t(s.height));
        note(gco2D_SetSource(e_, &whole), "gco2D_SetSource");
    }
    // Clears of a target in `format`; the colour is A8R8G8B8 (the engine converts it).
    void clear(const std::vector<gcsRECT>& rects, uint32_t colour, uint32_t format = kArgb) {
        if (!ok()) return;
        note(gco2D_Clear(e_, uint32_t(rects.size()), rects.data(), colour, 0xCC, 0xCC, format), "gco2D_Clear");
        ++operations_;
    }
    // A copy of the source; where its key matches, the target stays (background ROP 0xAA).
    void blit(const gcsRECT& to, uint8_t rop = 0xCC) {
        if (!ok()) return;
        note(gco2D_Blit(e_, 1, &to, rop, rop == 0xCC ? 0xAA : rop, kArgb), "gco2D_Blit");
        ++operations_;
    }
    void stretch(const gcsRECT& from, const gcsRECT& to) {
        if (!ok()) return;
        note(gco2D_SetSource(e_, &from), "gco2D_SetSource");
        note(gco2D_SetStretchRectFactors(e_, &from, &to), "gco2D_SetStretchRectFactors");
        note(gco2D_StretchBlit(e_, 1, &to, 0xCC, 0xAA, kArgb), "gco2D_StretchBlit");
        ++operations_;
    }
    void mirror(bool horizontal, bool vertical) {
        note(gco2D_SetBitBlitMirror(e_, horizontal, vertical), "gco2D_SetBitBlitMirror");
    }
    void brush(uint32_t ink, uint32_t paper, uint64_t bits) {
        note(gco2D_LoadMonochromeBrush(e_, 0, 0, 1, ink, paper, bits, 0), "gco2D_LoadMonochromeBrush");
    }
    // Text expanded from glyphs at (x, y): ink where a glyph bit is set; elsewhere `paper`,
    // or the target as it was when `paper` is transparent.
    void text(const char* line, int32_t x, int32_t y, uint32_t ink, uint32_t paper, bool transparentPaper) {
        if (!ok()) return;
        const std::vector<uint8_t> stream = glyphStream(line);
        const int32_t width = int32_t(std::strlen(line)) * veld::xfont::kCellWidth;
        note(gco2D_SetMonochromeSource(e_, 1, 0, 0, 0, transparentPaper ? 2 : 0, ink, paper),
             "gco2D_SetMonochromeSource");
        const gcsPOINT size{width, veld::xfont::kCellHeight};
        const gcsRECT streamRect = rect(0, 0, width, veld::xfont::kCellHeight);
        const gcsRECT to = rect(x, y, width, veld::xfont::kCellHeight);
        note(gco2D_MonoBlit(e_, stream.data(), &size, &streamRect, 0, 0, &to, 0xCC, 0xAA, kArgb), "gco2D_MonoBlit");
        ++operations_;
    }
    void commit() {
        if (ok()) note(gcoHAL_Commit(nullptr, 1), "gcoHAL_Commit");
    }

private:
    gco2D e_ = nullptr;
    std::string failed_;
    int operations_ = 0;
};

void drawTile(Painter& p, const Surface& tile) {
    p.target(tile);
    const int32_t half = int32_t(kTile / 2);
    for (int q = 0; q < 4; ++q) p.clear({rect(q % 2 * half, q / 2 * half, half, half)}, kQuadrants[q]);
}

void drawSprite(Painter& p, const Surface& sprite) {
    p.target(sprite);
    p.clear({rect(0, 0, int32_t(kSprite), int32_t(kSprite))}, kSpriteKey);
    // A ball as one span of a clear per row, and a smaller highlight up and to the left.
    auto disc = [](int32_t cx, int32_t cy, int32_t radius) {
        std::vector<gcsRECT> spans;
        for (int32_t y = -radius; y < radius; ++y) {
            int32_t half = 0;
            while ((half + 1) * (half + 1) + (2 * y + 1) * (2 * y + 1) / 4 <= radius * radius) ++half;
            if (half > 0) spans.push_back(gcsRECT{cx - half, cy + y, cx + half, cy + y + 1});
        }
        return spans;
    };
    const int32_t c = int32_t(kSprite / 2);
    p.clear(disc(c, c, c - 2), kBall);
    p.clear(disc(c - 7, c - 7, 6), 0xFFFFF0C0);
}

void drawTitle(Painter& p, const Surface& title) {
    p.target(title);
    p.text(kTitle, 0, 0, kTitleInk, 0xFF000000, false);
}

void drawBars(Painter& p, const Surface& bars) {
    p.target(bars);
    const int32_t width = kBarsW / 8;
    for (int i = 0; i < 8; ++i) p.clear({rect(i * width, 0, width, kBarsH)}, kBars[i], kRgb565);
}

void drawPicture(Painter& p, const Surface& picture, const Surface& tile, const Surface& sprite,
                 const Surface& title, const Surface& bars) {
    p.target(picture);
    for (uint32_t y = 0; y < kHeight; y += kBand)
        p.clear({rect(0, int32_t(y), int32_t(kWidth), int32_t(kBand))}, mix(kSkyTop, kSkyBottom, y, kHeight - kBand));

    // The tile in its four turns, then mirrored both ways.
    for (uint32_t turn = 0; turn < 4; ++turn) {
        p.source(tile, turn);
        p.blit(rect(kRowX + int32_t(turn) * kRowStep, kRowY, int32_t(kTile), int32_t(kTile)));
    }
    p.source(tile, 0);
    for (int m = 0; m < 2; ++m) {
        p.mirror(m == 0, m == 1);
        p.blit(rect(kRowX + (4 + m) * kRowStep, kRowY, int32_t(kTile), int32_t(kTile)));
    }
    p.mirror(false, false);
    p.stretch(rect(0, 0, int32_t(kTile), int32_t(kTile)), rect(kStretchX, kStretchY, kStretchW, kStretchH));

    // A panel of diagonal stripes from an 8 x 8 brush (the pattern alone: ROP 0xF0).
    uint64_t stripes = 0;
    for (int row = 0; row < 8; ++row) stripes |= uint64_t(uint8_t(0xC0C0u >> row)) << (8 * row);  // 0xC0 turned right
    p.brush(kHatchInk, kHatchPaper, stripes);
    p.blit(gcsRECT{kHatchLeft, kHatchTop, kHatchRight, kHatchBottom}, 0xF0);

    for (uint32_t i = 0; i < kSprites; ++i) {
        p.source(sprite, 0, true, kSpriteKey);
        p.blit(rect(kSpriteX + int32_t(i) * kSpriteStep, kSpriteY, int32_t(kSprite), int32_t(kSprite)));
    }

    // The title surface holds ink on black: stretched with black as its key.
    const int32_t titleWidth = int32_t(std::strlen(kTitle)) * veld::xfont::kCellWidth;
    p.source(title, 0, true, 0xFF000000);
    p.stretch(rect(0, 0, titleWidth, veld::xfont::kCellHeight),
              rect(kTitleX, kTitleY, titleWidth * int32_t(kTitleScale), veld::xfont::kCellHeight * int32_t(kTitleScale)));
    p.source(bars, 0);
    p.blit(rect(kBarsX, kBarsY, kBarsW, kBarsH));
    p.text(kBarsCaption, kCaptionX, kCaptionY, kLineInk, 0, true);
    p.text(kLine, kLineX, kLineY, kLineInk, 0, true);
}

int runCommand(char** argv) {
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("gal_demo: fork");
        return 1;
    }
    if (child == 0) {
        ::execvp(argv[0], argv);
        std::fprintf(stderr, "gal_demo: cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: gal_demo [COMMAND [ARGS...]]\n"
                    "Draws an %ux%u A8R8G8B8 picture through libGAL.so (VELD_SIM=1: on the GPU simulator\n"
                    "of $VELD_ROOT and $VELD_NS), then runs COMMAND while it holds the picture, e.g.\n"
                    "  gal_demo veldctl gpu shot picture.png\n"
                    "and exits with the command's status.\n",
                    kWidth, kHeight);
        return 0;
    }
    int status = 0;
    {
        Painter p;
        const Surface picture(kWidth, kHeight), tile(kTile, kTile), sprite(kSprite, kSprite);
        const Surface title(uint32_t(std::strlen(kTitle)) * veld::xfont::kCellWidth, veld::xfont::kCellHeight);
        drawTile(p, tile);
        drawSprite(p, sprite);
        const Surface bars(kBarsW, kBarsH, kRgb565);
        drawTitle(p, title);
        drawBars(p, bars);
        p.commit();
        drawPicture(p, picture, tile, sprite, title, bars);
        p.commit();
        if (!p.ok()) {
            std::fprintf(stderr, "gal_demo: %s\n", p.failure().c_str());
            return 1;
        }
        std::printf("gal_demo: drew a %ux%u A8R8G8B8 picture at GPU address 0x%08x in %d 2D operations\n",
                    kWidth, kHeight, picture.address, p.operations());
        if (argc > 1) status = runCommand(argv + 1);
    }
    return status;
}
