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

/* Hardware pixel formats of the 2D core: the 32-bit ones. */
#define GAL_HW_FORMAT_X8R8G8B8 4u
#define GAL_HW_FORMAT_A8R8G8B8 5u

#endif /* GAL_STATES_H */
