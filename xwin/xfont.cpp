// Glyph lookup and text measuring for the built-in font (the bitmaps are in xfont_glyphs.cpp).
#include "xfont.h"

namespace veld::xfont {

namespace {

int64_t byteWidth(uint8_t byte, const XFont& font) {
    if (byte == 0) return 0;
    return byte == kEllipsisCode ? 3 * int64_t{font.advance} : int64_t{font.advance};
}

}  // namespace

const uint8_t* glyph(const XFont& font, uint32_t code) {
    if (font.glyphs == nullptr || code >= font.glyphCount) return nullptr;
    return font.glyphs[code];
}

int64_t textWidth(std::span<const uint8_t> text, const XFont& font) {
    int64_t width = 0;
    for (uint8_t byte : text) width += byteWidth(byte, font);
    return width;
}

size_t fittingPrefix(std::span<const uint8_t> text, int64_t limit, const XFont& font) {
    // Widths of prefixes only grow, so the first byte that crosses the limit ends the prefix.
    int64_t width = 0;
    size_t length = 0;
    for (uint8_t byte : text) {
        width += byteWidth(byte, font);
        if (width > limit) break;
        ++length;
    }
    return limit < 0 ? 0 : length;
}

}  // namespace veld::xfont
