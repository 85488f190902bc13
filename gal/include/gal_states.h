/*
 * gal_states.h - the 2D core's command-stream words, the state addresses the driver loads and
 * the hardware pixel formats, shared by the driver, the simulated core and its decoder.
 * Addresses are byte addresses of the register file (the load command carries them / 4).
 */
#ifndef GAL_STATES_H
#define GAL_STATES_H

#include <stdint.h>

/* Command opcodes (bits 31..27). */
#define GAL_OP_LOAD_STATE 1u
#define GAL_OP_NOP 3u
#define GAL_OP_START_DE 4u
#define GAL_OP_TRAILER 8u
#define GAL_OP_STALL 9u

#define GAL_NOP_WORD 0x18000000u
#define GAL_STALL_WORD 0x48000000u
#define GAL_TRAILER_WORD 0x40000001u
#define GAL_SEMAPHORE_TOKEN 0x701u
#define GAL_START_DE_WORD 0x20000100u /* one rectangle */

/* Register file: word addresses below this. */
#define GAL_STATE_SPACE 0x10000u

/* State addresses. */
#define GAL_STATE_AUTO_FLUSH 0x0670u
#define GAL_STATE_DUMMY 0x0004u
#define GAL_STATE_SOURCE_ADDRESS 0x1200u
#define GAL_STATE_SOURCE_STRIDE 0x1204u
#define GAL_STATE_SOURCE_ROTATION 0x1208u
#define GAL_STATE_SOURCE_CONFIG 0x120Cu
#define GAL_STATE_SOURCE_ORIGIN 0x1210u
#define GAL_STATE_SOURCE_SIZE 0x1214u
#define GAL_STATE_TARGET_ADDRESS 0x1228u
#define GAL_STATE_TARGET_STRIDE 0x122Cu
#define GAL_STATE_TARGET_ROTATION 0x1230u
#define GAL_STATE_TARGET_CONFIG 0x1234u
#define GAL_STATE_ROP 0x125Cu
#define GAL_STATE_CLIP_TOP_LEFT 0x1260u
#define GAL_STATE_CLIP_BOTTOM_RIGHT 0x1264u
#define GAL_STATE_CLEAR_BYTE_MASK 0x1268u
#define GAL_STATE_MIRROR 0x126Cu
#define GAL_STATE_CLEAR_COLOR_OLD 0x1270u
#define GAL_STATE_ROTATION 0x12BCu
#define GAL_STATE_CLEAR_COLOR 0x12C0u
#define GAL_STATE_PE_CONTROL 0x12D8u
#define GAL_STATE_END_FRAME_OLD 0x1650u
#define GAL_STATE_PIPE_SELECT 0x3800u
#define GAL_STATE_SEMAPHORE 0x3808u
#define GAL_STATE_FLUSH 0x380Cu

/* Destination configuration (0x1234): format in bits 4..0, command in bits 15..12, bit 31. */
#define GAL_DEST_CONFIG(format, command) (0x80000000u | ((command) & 0xFu) << 12 | ((format) & 0x1Fu))

/* Hardware commands (bits 15..12 of the destination configuration). */
#define GAL_HW_CLEAR 0u
#define GAL_HW_LINE 1u
#define GAL_HW_BITBLIT 2u

/* Hardware commands 4 to 8 (filter passes and multi-source blit). */
#define GAL_HW_STRETCH 4u

/*
 * Pixel formats of the 2D core (bits 4..0 of the destination configuration, bits 28..24 of the
 * source configuration). A format's channel order comes with a swizzle: 0 A-R-G-B from the top
 * bit down (A8R8G8B8 is the word 0xAARRGGBB), 1 R-G-B-A, 2 A-B-G-R, 3 B-G-R-A; so R8G8B8A8 is
 * A8R8G8B8 with swizzle 1 and B5G6R5 is R5G6B5 with swizzle 2. A padding channel ("X") sits
 * where the alpha channel would. The UV-swap flag turns YUY2 into YVYU, UYVY into VYUY, NV12
 * into NV21 and NV16 into NV61; YV12 and I420 are one format whose chroma planes the driver
 * hands over in U, V order.
 */
#define GAL_HW_FORMAT_X4R4G4B4 0u
#define GAL_HW_FORMAT_A4R4G4B4 1u
#define GAL_HW_FORMAT_X1R5G5B5 2u
#define GAL_HW_FORMAT_A1R5G5B5 3u
#define GAL_HW_FORMAT_X8R8G8B8 4u
#define GAL_HW_FORMAT_A8R8G8B8 5u
#define GAL_HW_FORMAT_YUY2 6u
#define GAL_HW_FORMAT_UYVY 7u
#define GAL_HW_FORMAT_INDEX8 8u
#define GAL_HW_FORMAT_MONOCHROME 9u
#define GAL_HW_FORMAT_YV12 15u
#define GAL_HW_FORMAT_A8 16u
#define GAL_HW_FORMAT_NV12 17u
#define GAL_HW_FORMAT_NV16 18u
#define GAL_HW_FORMAT_RG16 19u
#define GAL_HW_FORMAT_R8 20u
#define GAL_HW_FORMAT_R5G6B5 21u

/*
 * Destination configuration (0x1234), bits this driver sets: 4..0 format, 8 tiled, 11 second
 * lookup table loaded, 15..12 hardware command, 17..16 swizzle, 31 always.
 */
#define GAL_DEST_SWIZZLE_SHIFT 16u

/*
 * Source configuration (0x120C), the driver's layout:
 *   bits 5..4   source transparency mode (the same value as in 0x12D4)
 *   bit 7       masked source: a colour source whose mask is the inline stream
 *   bits 13..12 monochrome packing of the stream (0 8-bit, 1 16-bit, 2 and 3 32-bit units)
 *   bit 15      the monochrome bit value that is transparent under the masked source mode
 *   bits 17..16 swizzle; bit 18 UV swap
 *   bits 28..24 source format
 */
#define GAL_SOURCE_CONFIG_FORMAT(config) (((config) >> 24) & 0x1Fu)
#define GAL_SOURCE_CONFIG_TRANSPARENCY_SHIFT 4u
#define GAL_SOURCE_CONFIG_MASKED 0x80u
#define GAL_SOURCE_CONFIG_PACKING_SHIFT 12u
#define GAL_SOURCE_CONFIG_MONO_TRANSPARENT 0x8000u
#define GAL_SOURCE_CONFIG_SWIZZLE_SHIFT 16u
#define GAL_SOURCE_CONFIG_UV_SWAP 0x40000u
#define GAL_SOURCE_CONFIG_FORMAT_SHIFT 24u

/*
 * More states of a 2D operation and the driver's layouts of them:
 *   0x1208 source rotation word: the source surface width in bits 15..0
 *   0x1210 source origin left | top << 16, 0x1214 source size width | height << 16
 *   0x1218 monochrome background, 0x121C monochrome foreground or source key low (A8R8G8B8)
 *   0x1220 / 0x1224 horizontal / vertical stretch factor (16.16), stretch blits only
 *   0x1230 target width in bits 15..0
 *   0x123C pattern configuration: bits 1..0 brush type (0 solid, 1 monochrome, 2 colour),
 *          6..4 origin x, 10..8 origin y, 17..16 swizzle and 28..24 format of a colour brush
 *   0x1240 monochrome brush background, 0x1244 its foreground (A8R8G8B8)
 *   0x1248 / 0x124C monochrome brush bits (row r in byte r of the 64 bits, low word first;
 *          leftmost pixel in bit 7) or, for a colour brush, the 8 x 8 pattern's address and 0
 *   0x1254 solid brush colour (A8R8G8B8)
 *   0x1284 / 0x1288 / 0x128C / 0x1290 source U address, U stride, V address, V stride (planar
 *          YUV sources)
 *   0x12B4 target height, 0x12B8 source height (surface heights, bits 15..0)
 *   0x12C4 / 0x12E0 target key low / high, 0x121C / 0x12DC source key low / high: A8R8G8B8
 *          lanes as the colour-key packing gives them, compared byte by byte, both inclusive
 *   0x12D4 transparency modes: bits 1..0 source, 5..4 pattern, 9..8 destination; each 0
 *          opaque, 1 keyed, 2 masked
 *   0x127C alpha control: bit 0 enable, 15..8 source global alpha, 23..16 target global alpha
 *   0x1280 alpha modes: 1..0 source alpha mode, 3..2 target alpha mode, 5..4 source global
 *          alpha mode, 7..6 target global alpha mode, 10..8 source factor, 14..12 target factor
 *   0x12D0 multiply modes: bit 0 source premultiply, 1 target premultiply, 3..2 global-colour
 *          multiply, 4 target demultiply
 *   0x12BC rotation (masked write): 2..0 source rotation, 5..3 target rotation, bits 8 and 9
 *          clear when the source or target field is written; rotations 0 to 3 quarter turns,
 *          4 horizontal flip, 5 vertical flip
 *   0x126C mirror: 0 none, 17 horizontal, 33 vertical, 49 both
 *   0x3400 + 4 i palette entry i (newer chips), 0x1C00 + 4 i (older chips), A8R8G8B8
 * Pixel rules the core follows with these states: a surface's view pixel (x, y) under
 * rotation r lives in memory at 0: (x, y); 1: (W-1-y, x); 2: (W-1-x, H-1-y); 3: (y, H-1-x);
 * 4: (W-1-x, y); 5: (x, H-1-y), W and H the surface's width and height. Destination
 * rectangles and the clip are in the target's view; destination pixel (left + i, top + j)
 * reads the source view at origin + ((i' x factor) >> 16, (j' x factor) >> 16), with i' and j'
 * mirrored under the mirror state and factors of 0x10000 outside stretch blits. The raster
 * operation works on A8R8G8B8 values: result bit = bit (P << 2 | S << 1 | D) of the ROP byte;
 * the foreground ROP applies where no transparency test says transparent, else the background
 * ROP. Monochrome streams store each row in whole packing units, leftmost pixel in bit 7 of
 * each byte; bit 1 takes the foreground colour.
 */
#define GAL_STATE_MONO_BACKGROUND 0x1218u
#define GAL_STATE_SOURCE_KEY_LOW 0x121Cu
#define GAL_STATE_STRETCH_H 0x1220u
#define GAL_STATE_STRETCH_V 0x1224u
#define GAL_STATE_PATTERN_CONFIG 0x123Cu
#define GAL_STATE_PATTERN_BACKGROUND 0x1240u
#define GAL_STATE_PATTERN_BITS 0x1248u
#define GAL_STATE_PATTERN_COLOR 0x1254u
#define GAL_STATE_ORIGIN_FRACTION 0x1278u
#define GAL_STATE_ALPHA_CONTROL 0x127Cu
#define GAL_STATE_ALPHA_MODES 0x1280u
#define GAL_STATE_SOURCE_UV 0x1284u
#define GAL_STATE_TARGET_HEIGHT 0x12B4u
#define GAL_STATE_SOURCE_HEIGHT 0x12B8u
#define GAL_STATE_TARGET_KEY_LOW 0x12C4u
#define GAL_STATE_SOURCE_GLOBAL 0x12C8u
#define GAL_STATE_TARGET_GLOBAL 0x12CCu
#define GAL_STATE_MULTIPLY 0x12D0u
#define GAL_STATE_TRANSPARENCY 0x12D4u
#define GAL_STATE_SOURCE_KEY_HIGH 0x12DCu
#define GAL_STATE_TARGET_KEY_HIGH 0x12E0u
#define GAL_STATE_DITHER 0x12E8u
#define GAL_STATE_TILING 0x1328u
#define GAL_STATE_RESET_A 0x12CC0u
#define GAL_STATE_RESET_B 0x1720u
#define GAL_STATE_PALETTE_OLD 0x1C00u
#define GAL_STATE_PALETTE 0x3400u
#define GAL_STATE_LUT_SOURCE 0x13800u
#define GAL_STATE_LUT_TARGET 0x13C00u
#define GAL_ROP_WORD(fg, bg) ((uint32_t)(fg) | (uint32_t)(bg) << 8 | 0x300000u)

/*
 * Blending, lines and multi-source blits.
 *   Alpha blending (0x127C enable bit 0) takes the place of the foreground ROP of blits,
 *   stretch blits and multi-source blits; the source and the target take part whatever the
 *   ROPs say. Per channel, products of 8-bit values are x × y / 255 rounded; the effective
 *   alpha of a side is its pixel's alpha (inverted under alpha mode 1), replaced by the global
 *   alpha under global mode 1 or scaled by it under global mode 2; source premultiply (0x12D0
 *   bit 0) and target premultiply (bit 1) multiply the colour by the pixel's alpha after its
 *   alpha mode; global-colour multiply 1 multiplies the source colour by the source global
 *   alpha, 2 by the source global colour (0x12C8) channel by channel; factor modes 0 zero,
 *   1 one, 2 the other side's effective alpha, 3 its inverse (the source factor reads the
 *   target's alpha, the target factor the source's); colour and alpha are
 *   min(255, source × source factor + target × target factor); target demultiply (bit 4)
 *   divides the colour by the result alpha, rounded, 0 where it is 0.
 *   A line (hardware command 1) runs from its rectangle's first corner to its second, the end
 *   pixel excluded (Bresenham), through the foreground ROP with the loaded brush as pattern.
 *   A multi-source blit (hardware command 8): for source i (0 to 7) the driver loads the
 *   source's states (source block, origin, keys, rotation, mirror, transparency, ROP, brush,
 *   global colours, multiply modes, alpha), then its control word at 0x1720 + 4 i with bit 0
 *   set, which latches the states of 0x1200 to 0x12FF and the rotation for that source; a
 *   control word with bit 0 clear drops the source. Each rectangle of the draw then blits the
 *   latched sources one after another in index order, each with its own states, exactly as
 *   single blits in that order would.
 */
#define GAL_HW_MULTI_SOURCE 8u
#define GAL_STATE_MULTI_SOURCE 0x1720u
#define GAL_MULTI_SOURCES 8u
#define GAL_MULTI_SOURCE_ENABLE 1u
#define GAL_STATE_SOURCE_BANK_FIRST 0x1200u
#define GAL_STATE_SOURCE_BANK_END 0x1300u

/*
 * Colour-space conversion and filter blits (their own block of states):
 *   0x120C bits 21..20 YUV colour mode of a YUV source: 0 BT.601, 1 BT.709 (both the video
 *          range: luma 16..235, chroma 16..240), 2 the user table at 0x1340 with results
 *          clamped to 0..255, 3 the same table with results clamped to the video range
 *   0x1234 bit 18 UV swap of a packed YUV target (YVYU, VYUY), as in the source configuration
 *   0x132C target colour space (masked write): bits 17..16 the mode of a YUV target (the
 *          modes above, converting back from RGB; 2 and 3 use the table at 0x1360), written
 *          only when bit 19 is clear
 *   0x1340 / 0x1360 (8 states each) user conversion tables, YUV to RGB and RGB to YUV: the
 *          nine coefficients of a 3 x 3 matrix (rows R, G, B or Y, U, V; columns Y, U, V or
 *          R, G, B) as signed 16-bit halves, two per word, low half first, word 4 holding the
 *          ninth; words 5 to 7 the three offsets as signed 25-bit values. Coefficients and
 *          offsets carry 10 fraction bits: out = (c0 x in0 + c1 x in1 + c2 x in2 + offset +
 *          512) >> 10, then clamped
 *   0x12F0 filter start: the index, along the pass's direction, of the destination pixel
 *          under the draw rectangle's first pixel (horizontal pass bits 15..0, vertical pass
 *          bits 31..16)
 *   0x1800 / 0x1A00 (77 states each) the horizontal / vertical filter kernel: 17 phases x 9
 *          taps of signed 16-bit coefficients (16384 = 1.0), two per word, low half first
 * A YUV target is written in pixel pairs: a pair whose two pixels are both drawn takes their
 * two lumas and the average of their chromas (halves round up); a pair with one drawn pixel
 * takes that pixel's luma and chroma and keeps the other luma.
 * Filter passes (hardware commands 5 horizontal and 6 vertical) read the source rectangle of
 * 0x1210 / 0x1214 and write the draw rectangle without raster operation, keys or blending.
 * Destination index i of the pass's direction samples the source at u = i x factor (16.16,
 * 0x1220 horizontal, 0x1224 vertical); c = (u + 0x8000) >> 16 and d = u - c << 16; phase
 * p = ((d > 0 ? 0x8000 - d : d + 0x8000) x 32 + 0x8000) >> 16; tap t reads source pixel
 * c + (t - 4), or c - (t - 4) when d > 0, clamped to the source rectangle; each channel of the
 * A8R8G8B8 working value is (sum of coefficient x value + 8192) >> 14 (arithmetic shift),
 * clamped to 0..255. The horizontal pass steps the source columns and keeps the row of the
 * draw (source row origin + draw row); the vertical pass steps the rows and keeps the column.
 */
#define GAL_SOURCE_CONFIG_YUV_MODE_SHIFT 20u
#define GAL_DEST_UV_SWAP 0x40000u
#define GAL_STATE_FILTER_START 0x12F0u
#define GAL_STATE_TARGET_COLOR_SPACE 0x132Cu
#define GAL_TARGET_COLOR_SPACE(mode) (0xFFF0FFFFu | ((mode) & 3u) << 16)
#define GAL_STATE_CSC_YUV_TO_RGB 0x1340u
#define GAL_STATE_CSC_RGB_TO_YUV 0x1360u
#define GAL_CSC_WORDS 8u
#define GAL_STATE_FILTER_KERNEL_H 0x1800u
#define GAL_STATE_FILTER_KERNEL_V 0x1A00u
#define GAL_FILTER_KERNEL_WORDS 77u
#define GAL_HW_FILTER_H 5u
#define GAL_HW_FILTER_V 6u

/*
 * Planar YUV targets (hardware formats YV12, NV12 and NV16 in the destination configuration,
 * bit 18 of 0x1234 putting V first in the chroma pairs of NV21 and NV61):
 *   0x1228 / 0x122C the luma plane's address and stride, as for any target
 *   0x130C the count of extra target planes (1 semi-planar, 2 planar), then for each plane its
 *          address and stride: 0x1310 / 0x1314, 0x1318 / 0x131C (3 or 5 states in all); a
 *          planar target hands over U, then V
 * The core draws a planar target as it does a packed one: each drawn pixel takes its own luma;
 * each chroma sample (a 2 x 2 block of 4:2:0 formats, a pixel pair of 4:2:2 ones) the average
 * of the chromas of its drawn pixels, halves rounded up; samples without a drawn pixel keep
 * theirs. Rotation 0 only; the conversion is the target colour space of 0x132C.
 */
#define GAL_STATE_MULTI_TARGET 0x130Cu
#define GAL_MULTI_TARGET_WORDS(planes) (1u + 2u * (planes))

#endif /* GAL_STATES_H */
