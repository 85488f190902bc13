// The built-in 8 x 16 bitmap font: the font record g_uxm_fnt_data, glyph lookup and text
// measuring. Text width is counted from the bytes, never from the glyphs: every non-zero byte
// advances one cell and the ellipsis code one counts three.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" {

// Font record. A glyph is `height` rows of `bytesPerRow` bytes, top row first; within a row the
// bytes are read most significant first and the most significant bit is the leftmost pixel.
struct XFont {
    uint8_t number;                // font number, not used by drawing
    uint8_t advance;               // glyph width and horizontal step in pixels
    uint8_t height;                // rows per glyph, and the text line height
    uint8_t bytesPerRow;           // 1 to 4
    uint32_t glyphCount;           // entries in `glyphs`
    const uint8_t* const* glyphs;  // indexed by character code; null: no glyph
};
static_assert(offsetof(XFont, advance) == 1 && offsetof(XFont, height) == 2 &&
              offsetof(XFont, bytesPerRow) == 3 && offsetof(XFont, glyphCount) == 4 &&
              offsetof(XFont, glyphs) == 8);
static_assert(sizeof(XFont) == 8 + sizeof(void*));

// The one built-in font: number 12, 8 x 16, one byte per row, 128 glyph entries.
extern const XFont g_uxm_fnt_data;

}  // extern "C"

namespace veld::xfont {

inline constexpr uint8_t kEllipsisCode = 1;  // drawn as three full stops
inline constexpr uint8_t kFullStop = 46;
inline constexpr uint8_t kSpace = 32;
// Symbols in the control-code range.
inline constexpr uint8_t kDoubleArrow = 2;
inline constexpr uint8_t kTriangleUp = 3;
inline constexpr uint8_t kTriangleDown = 4;
inline constexpr uint8_t kBullet = 5;
inline constexpr uint8_t kTriangleLeft = 6;
inline constexpr uint8_t kTriangleRight = 7;

inline constexpr int kCellWidth = 8;
inline constexpr int kCellHeight = 16;

// The glyph of a code, or null when the font has none for it.
[[nodiscard]] const uint8_t* glyph(const XFont& font, uint32_t code);

// Width of the bytes as measured: advance per non-zero byte, three for the ellipsis code.
[[nodiscard]] int64_t textWidth(std::span<const uint8_t> text, const XFont& font = g_uxm_fnt_data);

// Length of the longest prefix whose measured width is at most `limit` (0 when none).
[[nodiscard]] size_t fittingPrefix(std::span<const uint8_t> text, int64_t limit,
                                   const XFont& font = g_uxm_fnt_data);

inline std::span<const uint8_t> bytesOf(const char* data, size_t length) {
    return {reinterpret_cast<const uint8_t*>(data), length};
}

}  // namespace veld::xfont
