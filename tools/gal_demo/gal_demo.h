// The picture gal_demo draws through libGAL.so, as numbers: its size and where each part
// lies, so that the tests can look for them in a shot of it.
#pragma once

#include <cstdint>

namespace veld::gal_demo {

// The picture: one A8R8G8B8 surface in video memory.
inline constexpr uint32_t kWidth = 800, kHeight = 480;

// Background: a vertical gradient of clears, one band of kBand rows each, from kSkyTop at the
// top to kSkyBottom at the bottom.
inline constexpr uint32_t kBand = 4;
inline constexpr uint32_t kSkyTop = 0xFF102060, kSkyBottom = 0xFF20A0A0;

// The tile: kTile x kTile, four quadrants of different colours (top-left, top-right,
// bottom-left, bottom-right), so that every rotation and mirror shows.
inline constexpr uint32_t kTile = 64;
inline constexpr uint32_t kQuadrants[4] = {0xFFE03030, 0xFF30C040, 0xFF3060E0, 0xFFF0D020};
// The row of tiles: as it is, turned by 90, 180 and 270 degrees, mirrored left-right and
// upside down; tile i's top-left corner at (kRowX + i * kRowStep, kRowY).
inline constexpr int32_t kRowX = 24, kRowY = 120, kRowStep = 80;
// The tile stretched to kStretchW x kStretchH at (kStretchX, kStretchY).
inline constexpr int32_t kStretchX = 540, kStretchY = 120, kStretchW = 224, kStretchH = 160;

// A panel filled with a two-colour 8 x 8 brush (ROP 0xF0, the pattern).
inline constexpr int32_t kHatchLeft = 24, kHatchTop = 216, kHatchRight = 500, kHatchBottom = 296;
inline constexpr uint32_t kHatchInk = 0xFFC0C0C0, kHatchPaper = 0xFF404040;

// Sprites: kSprite x kSprite balls on a magenta background that the source colour key leaves
// out, blitted kSprites times at (kSpriteX + i * kSpriteStep, kSpriteY).
inline constexpr uint32_t kSprite = 48, kSprites = 5;
inline constexpr uint32_t kSpriteKey = 0xFFFF00FF, kBall = 0xFFFFA000;
inline constexpr int32_t kSpriteX = 40, kSpriteY = 260, kSpriteStep = 92;

// Text: the title expanded from monochrome glyphs and stretched kTitleScale times at
// (kTitleX, kTitleY), and a line at its glyphs' own size at (kLineX, kLineY).
inline constexpr char kTitle[] = "veldd 2D";
inline constexpr uint32_t kTitleScale = 4, kTitleInk = 0xFFFFFFFF;
inline constexpr int32_t kTitleX = 24, kTitleY = 20;
inline constexpr char kLine[] = "libGAL.so -> veld_gpu: clears, blits, stretch, keys, brushes, mono";
inline constexpr uint32_t kLineInk = 0xFFFFFF80;
inline constexpr int32_t kLineX = 24, kLineY = 92;

// Colour bars drawn into an R5G6B5 surface of kBarsW x kBarsH and blitted (converted) onto
// the picture at (kBarsX, kBarsY), with their caption below.
inline constexpr uint32_t kBars[8] = {0xFFFFFFFF, 0xFFFFFF00, 0xFF00FFFF, 0xFF00FF00,
                                      0xFFFF00FF, 0xFFFF0000, 0xFF0000FF, 0xFF000000};
inline constexpr int32_t kBarsX = 24, kBarsY = 344, kBarsW = 752, kBarsH = 80;
inline constexpr char kBarsCaption[] = "colour bars in R5G6B5, converted to A8R8G8B8 by a blit";
inline constexpr int32_t kCaptionX = 24, kCaptionY = 432;

}  // namespace veld::gal_demo
