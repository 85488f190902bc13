/*
 * se_rpmb.h - the secure engine's replay-protected eMMC storage (RPMB).
 *
 * 1,024 blocks of 256 bytes that only the trusted world can authenticate: the engine moves
 * frames between the trusted world, which signs and checks them, and the eMMC, reached directly
 * or through the secure-engine daemon. Every call runs under the engine's lock and attaches
 * the process on first use. Results: 0 (or a block number) on success, -1 on failure; outputs
 * are written only on success. Buffers are the caller's.
 *
 * A block's first 64 bytes are its header: "!" marks a header written by this system, "+" in
 * the second byte a block in use; the rest is the block's name.
 */
#ifndef SE_RPMB_H
#define SE_RPMB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SE_RPMB_START_BLOCK_ADDR 0
#define SE_RPMB_MAX_NUM_OF_BLOCKS 1024

int32_t _SE_RB000(void);                                   /* SE_RPMB_Init */
int32_t _SE_RB001(uint32_t* counter);                      /* SE_RPMB_ReadWriteCounter */
int32_t _SE_RB002(uint32_t address, uint8_t data[256]);    /* SE_RPMB_ReadBlock */
/* data: the 256 bytes to write, or NULL for a block of zeros. */
int32_t _SE_RB003(uint32_t address, const uint8_t* data);  /* SE_RPMB_WriteBlock */
/* Writes zeros over every block in use whose name is `name` (its first `length` bytes, up to
 * 62), or over every block in use when name is NULL. */
int32_t _SE_RB006(const char* name, uint32_t length);      /* SE_RPMB_EraseData */
int32_t _SE_RB100(void);                                   /* SE_RPMB_PrintRPMBInfo */
int32_t _SE_RB101(uint32_t address);                       /* SE_RPMB_UpdateRPMBInfo */
/* The first block whose 64-byte header equals `header`, or with NULL the first free block
 * (neither in use nor unreadable); -1 when there is none. */
int32_t _SE_RB102(const uint8_t* header);
/* The daemon's side of an indirect transfer: 0 read counter, 1 read block, 2 write block, on
 * the frame in the shared memory "se-rpmb-shmem". */
int32_t _SE_RBCMD(int32_t command);
/* 0 when the partition answers the write counter under the device's key. */
int32_t VELD_SE_CheckRPMBPartition(void);

#ifdef __cplusplus
}
#endif

#endif /* SE_RPMB_H */
