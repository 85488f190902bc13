// The 2D engine's operations: clear, blit, batch blit, stretch blit and the monochrome blit
// (a stream repacked into pieces of at most 2047 words), each checked and handed to the
// hardware layer's 2D frame; and the rectangle helpers with rotation.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine_state.h"
#include "gal_states.h"

namespace {

bool valid(gco2D e) { return gal::engineValid(e); }

bool plainRop(uint8_t rop) { return rop == 0xAA || rop == 0xCC || rop == 0xF0; }

// Common checks of the blit family; stores the ROPs and the target format.
gceSTATUS prepareBlit(gco2D e, uint32_t count, const gcsRECT* rects, uint8_t foreground,
                      uint8_t background, uint32_t targetFormat) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (e->reduced && (foreground != background || !plainRop(foreground)))
        return gcvSTATUS_NOT_SUPPORTED;
    if (count == 0 || !rects || targetFormat == 0) return gcvSTATUS_INVALID_ARGUMENT;
    if (e->target.tileConfig == 8 && targetFormat != 211 && targetFormat != 212)
        return gcvSTATUS_INVALID_ARGUMENT;
    gal::SourceSlot& s = gal::currentSource(e);
    s.foregroundRop = foreground;
    s.backgroundRop = background;
    e->targetFormat = targetFormat;
    return gcvSTATUS_OK;
}

// Bit x of row y of a monochrome stream with `stride` bytes per row, leftmost in bit 7.
uint32_t monoBit(const uint8_t* bits, uint32_t stride, uint32_t x, uint32_t y) {
    return bits[size_t(y) * stride + x / 8] >> (7 - x % 8) & 1u;
}

bool destinationValid(const gcsRECT& d) {
    return d.left >= 0 && d.top >= 0 && d.left < d.right && d.top < d.bottom &&
           d.right < 0x10000 && d.bottom < 0x10000;
}

uint32_t packBits(uint32_t packing) { return packing == 0 ? 8 : packing == 1 ? 16 : 32; }

// Bytes per row of a stream `width` pixels wide in whole packing units.
uint32_t streamStride(uint32_t width, uint32_t packing) {
    const uint32_t unit = packBits(packing);
    return (width + unit - 1) / unit * unit / 8;
}

}  // namespace

namespace gal {

gceSTATUS monoStream(gcoHARDWARE hw, gco2D e, const uint8_t* bits, uint32_t inStride,
                     uint32_t streamX, uint32_t streamY, const gcsRECT& d, uint32_t streamPacking) {
    SourceSlot& s = currentSource(e);
    const uint32_t width = uint32_t(d.right - d.left), height = uint32_t(d.bottom - d.top);
    const uint32_t packing = s.type == kSourceMasked ? s.monoPacking : streamPacking;
    if (s.type == kSourceMono) s.monoPacking = streamPacking;
    const uint32_t outStride = streamStride(width, packing);
    // Pieces of at most 2047 words; on chips whose 2D frames stay in one 4 KB page, of at most
    // half a page.
    gcoHARDWARE resolved = nullptr;
    const gceSTATUS found = hardwareOf(hw, resolved);
    if (found < 0) return found;
    const uint32_t maxBytes = resolved->pageLimited ? 2048u : 2047u * 4;
    if (outStride > maxBytes) return gcvSTATUS_NOT_SUPPORTED;
    const uint32_t rowsPerPiece = std::max(1u, maxBytes / outStride);
    const gcsRECT savedSource = s.rect;
    std::vector<uint8_t> piece;
    gceSTATUS status = gcvSTATUS_OK;
    for (uint32_t y0 = 0; y0 < height && status >= 0; y0 += rowsPerPiece) {
        const uint32_t rows = std::min(rowsPerPiece, height - y0);
        const uint32_t bytes = (rows * outStride + 3) & ~3u;
        piece.assign(bytes, 0);
        for (uint32_t y = 0; y < rows; ++y)
            for (uint32_t x = 0; x < width; ++x)
                if (monoBit(bits, inStride, streamX + x, streamY + y0 + y))
                    piece[y * outStride + x / 8] |= uint8_t(0x80u >> (x % 8));
        gcsRECT dest{d.left, d.top + int32_t(y0), d.right, d.top + int32_t(y0 + rows)};
        // A masked source's colour pixels follow the rows of the piece.
        if (s.type == kSourceMasked) {
            s.rect = savedSource;
            s.rect.top += int32_t(y0);
            s.rect.bottom = s.rect.top + int32_t(rows);
        }
        status = startStream(hw, e, dest, piece.data(), bytes);
    }
    s.rect = savedSource;
    return status;
}

}  // namespace gal

extern "C" {

gceSTATUS gco2D_Clear(gco2D e, uint32_t count, const gcsRECT* rects, uint32_t colour,
                      uint8_t foreground, uint8_t background, uint32_t targetFormat) {
    const gceSTATUS status = prepareBlit(e, count, rects, foreground, background, targetFormat);
    if (status < 0) return status;
    e->clearColour = colour;
    return gcoHARDWARE_Clear2D(e->hardware, e, count, rects);
}

gceSTATUS gco2D_Blit(gco2D e, uint32_t count, const gcsRECT* rects, uint8_t foreground,
                     uint8_t background, uint32_t targetFormat) {
    const gceSTATUS status = prepareBlit(e, count, rects, foreground, background, targetFormat);
    if (status < 0) return status;
    return gcoHARDWARE_StartDE(e->hardware, e, gcv2D_BLT, 0, nullptr, count, rects);
}

gceSTATUS gco2D_BatchBlit(gco2D e, uint32_t count, const gcsRECT* sourceRects,
                          const gcsRECT* destRects, uint8_t foreground, uint8_t background,
                          uint32_t targetFormat) {
    if (!sourceRects) return gcvSTATUS_INVALID_ARGUMENT;
    const gceSTATUS status =
        prepareBlit(e, count, destRects, foreground, background, targetFormat);
    if (status < 0) return status;
    return gcoHARDWARE_StartDE(e->hardware, e, gcv2D_BLT, count, sourceRects, count, destRects);
}

gceSTATUS gco2D_StretchBlit(gco2D e, uint32_t count, const gcsRECT* rects, uint8_t foreground,
                            uint8_t background, uint32_t targetFormat) {
    const gal::Format2D* f = gal::format2D(targetFormat);
    if (valid(e) && (!f || f->planes != 1 || f->yuv)) return gcvSTATUS_INVALID_ARGUMENT;
    const gceSTATUS status = prepareBlit(e, count, rects, foreground, background, targetFormat);
    if (status < 0) return status;
    return gcoHARDWARE_StartDE(e->hardware, e, gcv2D_STRETCH, 0, nullptr, count, rects);
}

gceSTATUS gco2D_MonoBlit(gco2D e, const void* stream, const gcsPOINT* sourceSize,
                         const gcsRECT* streamRect, uint32_t sourcePacking,
                         uint32_t streamPacking, const gcsRECT* destRect, uint8_t foreground,
                         uint8_t background, uint32_t targetFormat) {
    if (!stream || !sourceSize || !streamRect) return gcvSTATUS_INVALID_ARGUMENT;
    const gceSTATUS status =
        prepareBlit(e, 1, destRect, foreground, background, targetFormat);
    if (status < 0) return status;
    return gcoHARDWARE_MonoBlit(e->hardware, e, stream, sourceSize, streamRect, sourcePacking,
                                streamPacking, destRect);
}

// The stream's pixels under the destination rectangle go out row by row in pieces of at
// most 2047 words, each row repacked into whole units of the stream packing.
gceSTATUS gcoHARDWARE_MonoBlit(gcoHARDWARE hw, gco2D e, const void* stream,
                               const gcsPOINT* sourceSize, const gcsRECT* streamRect,
                               uint32_t sourcePacking, uint32_t streamPacking,
                               const gcsRECT* destRect) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!stream || !sourceSize || !streamRect || !destRect || sourcePacking > 3 ||
        streamPacking > 3 || sourceSize->x <= 0 || sourceSize->y <= 0)
        return gcvSTATUS_INVALID_ARGUMENT;
    const gcsRECT& d = *destRect;
    if (!destinationValid(d)) return gcvSTATUS_INVALID_ARGUMENT;
    const gcsRECT& r = *streamRect;
    if (r.left < 0 || r.top < 0 || r.left + int64_t(d.right - d.left) > sourceSize->x ||
        r.top + int64_t(d.bottom - d.top) > sourceSize->y)
        return gcvSTATUS_INVALID_ARGUMENT;
    const gal::SourceSlot& s = gal::currentSource(e);
    if (s.type != gal::kSourceMono && s.type != gal::kSourceMasked)
        return gcvSTATUS_INVALID_ARGUMENT;
    return gal::monoStream(hw, e, static_cast<const uint8_t*>(stream),
                           streamStride(uint32_t(sourceSize->x), sourcePacking), uint32_t(r.left),
                           uint32_t(r.top), d, streamPacking);
}

// The two colours go out as a monochrome source whose 0 bits are transparent, so that the
// foreground ROP draws the 1 bits and the background ROP the 0 bits; each rectangle reads the
// stream from (x, y) on. The current source slot is given back afterwards.
gceSTATUS gco2D_MonoBlitEx(gco2D e, const void* stream, int32_t stride, int32_t width,
                           int32_t height, int32_t x, int32_t y, uint32_t foreground,
                           uint32_t background, uint32_t rectCount, const gcsRECT* destRects,
                           uint8_t foregroundRop, uint8_t backgroundRop) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (e->reduced) return gcvSTATUS_NOT_SUPPORTED;
    if (!stream || !destRects || rectCount == 0 || width <= 0 || height <= 0 || x < 0 || y < 0 ||
        stride < (width + 7) / 8)
        return gcvSTATUS_INVALID_ARGUMENT;
    const uint32_t targetFormat = e->target.format ? e->target.format : e->targetFormat;
    if (targetFormat == 0) return gcvSTATUS_INVALID_ARGUMENT;
    for (uint32_t i = 0; i < rectCount; ++i) {
        const gcsRECT& d = destRects[i];
        if (!destinationValid(d) || x + int64_t(d.right - d.left) > width ||
            y + int64_t(d.bottom - d.top) > height)
            return gcvSTATUS_INVALID_ARGUMENT;
    }
    gal::SourceSlot& s = gal::currentSource(e);
    const gal::SourceSlot saved = s;
    s.type = gal::kSourceMono;
    s.format = 100;
    s.monoConvert = 1;  // A8R8G8B8 colours
    s.monoForeground = foreground;
    s.monoBackground = background;
    s.monoTransparency = 0;
    s.sourceMode = 2;  // masked: the 0 bits take the background ROP
    s.patternMode = s.destinationMode = 0;
    s.foregroundRop = foregroundRop;
    s.backgroundRop = backgroundRop;
    s.rect = gcsRECT{};
    e->targetFormat = targetFormat;
    gceSTATUS status = gcvSTATUS_OK;
    for (uint32_t i = 0; i < rectCount && status >= 0; ++i)
        status = gal::monoStream(e->hardware, e, static_cast<const uint8_t*>(stream),
                                 uint32_t(stride), uint32_t(x), uint32_t(y), destRects[i], 0);
    s = saved;
    return status;
}

gceSTATUS gcsRECT_Set(gcsRECT* rect, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    if (!rect) return gcvSTATUS_INVALID_ARGUMENT;
    *rect = gcsRECT{left, top, right, bottom};
    return gcvSTATUS_OK;
}

gceSTATUS gcsRECT_Width(const gcsRECT* rect, int32_t* width) {
    if (!rect || !width) return gcvSTATUS_INVALID_ARGUMENT;
    *width = rect->right - rect->left;
    return gcvSTATUS_OK;
}

gceSTATUS gcsRECT_Height(const gcsRECT* rect, int32_t* height) {
    if (!rect || !height) return gcvSTATUS_INVALID_ARGUMENT;
    *height = rect->bottom - rect->top;
    return gcvSTATUS_OK;
}

gceSTATUS gcsRECT_Normalize(gcsRECT* rect) {
    if (!rect) return gcvSTATUS_INVALID_ARGUMENT;
    if (rect->right < rect->left) std::swap(rect->left, rect->right);
    if (rect->bottom < rect->top) std::swap(rect->top, rect->bottom);
    return gcvSTATUS_OK;
}

gceSTATUS gcsRECT_IsEqual(const gcsRECT* a, const gcsRECT* b, int32_t* equal) {
    if (!a || !b || !equal) return gcvSTATUS_INVALID_ARGUMENT;
    *equal = a->left == b->left && a->top == b->top && a->right == b->right &&
             a->bottom == b->bottom;
    return gcvSTATUS_OK;
}

gceSTATUS gcsRECT_IsOfEqualSize(const gcsRECT* a, const gcsRECT* b, int32_t* equal) {
    if (!a || !b || !equal) return gcvSTATUS_INVALID_ARGUMENT;
    *equal = a->right - a->left == b->right - b->left && a->bottom - a->top == b->bottom - b->top;
    return gcvSTATUS_OK;
}

gceSTATUS gcsRECT_RelativeRotation(uint32_t orientation, uint32_t* rotation) {
    if (!rotation) return gcvSTATUS_INVALID_ARGUMENT;
    const uint32_t mirror = *rotation & 0xC0000000u;
    const uint32_t r = *rotation & 0x3FFFFFFFu;
    if (r > 5 || orientation > 5) return gcvSTATUS_NOT_SUPPORTED;
    uint32_t out = r;
    if (orientation == 0) {
        out = r;
    } else if (orientation <= 3) {
        if (r <= 3) out = (r + 4 - orientation) % 4;
        else out = 4 - orientation;  // a flip against 1, 2, 3 gives 3, 2, 1
    } else {
        out = r <= 3 ? r : 0;
    }
    *rotation = out | mirror;
    return gcvSTATUS_OK;
}

gceSTATUS gcsRECT_Rotate(gcsRECT* rect, uint32_t rotation, uint32_t targetRotation,
                         int32_t surfaceWidth, int32_t surfaceHeight) {
    if (!rect) return gcvSTATUS_INVALID_ARGUMENT;
    uint32_t relative = rotation;
    const gceSTATUS status = gcsRECT_RelativeRotation(targetRotation, &relative);
    if (status < 0) return status;
    relative &= 0x3FFFFFFFu;
    int32_t w = surfaceWidth, h = surfaceHeight;
    if ((targetRotation & 7) == 1 || (targetRotation & 7) == 3) std::swap(w, h);
    const gcsRECT r = *rect;
    if (r.left >= r.right || r.top >= r.bottom || r.left < 0 || r.top < 0) return gcvSTATUS_INVALID_ARGUMENT;
    const bool sideways = relative == 1 || relative == 3;
    if ((sideways ? r.right > h || r.bottom > w : r.right > w || r.bottom > h))
        return gcvSTATUS_INVALID_ARGUMENT;
    switch (relative) {
    case 0: break;
    case 1: *rect = gcsRECT{w - r.bottom, r.left, w - r.top, r.right}; break;
    case 2: *rect = gcsRECT{w - r.right, h - r.bottom, w - r.left, h - r.top}; break;
    case 3: *rect = gcsRECT{r.top, h - r.right, r.bottom, h - r.left}; break;
    default: return gcvSTATUS_NOT_SUPPORTED;
    }
    return gcvSTATUS_OK;
}

}  // extern "C"
