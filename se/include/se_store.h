/*
 * se_store.h - the secure store: small named secrets of the device, kept sealed and masked in
 * two copies (main and backup) on the flash partition "sestore", with one working copy of the
 * store image shared by every process.
 *
 * Record operations change the working copy only; VELD_SE_SS011 seals it and writes both
 * copies. Every call takes the engine's lock and attaches on first use. Results: 0 (or a
 * length) on success, -1 on failure; outputs are written only on success. Records and buffers
 * are owned by the caller; the engine keeps no pointer after a call returns.
 *
 * Record data is encrypted with AES-CBC, so a record's data length is a multiple of 16 bytes.
 */
#ifndef SE_STORE_H
#define SE_STORE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SE_SECURE_STORE_SIZE 0x40000
/* Stored record data = 16-byte vector + the record's vector, data and code block (80 + n). */
#define SE_SECURE_STORE_RECORD_OVERHEAD 80

/* A caller's secure-store record: 18 words on the television. */
typedef struct VELD_SE_SS_RECORD {
    uint8_t header[64]; /* 16-byte vector, then the code block: 16-byte seed, 32-byte code */
    uint32_t length;    /* data length n */
    uintptr_t pData;    /* uint8_t*: n bytes, owned by the caller */
} VELD_SE_SS_RECORD;

/* Code block (48 bytes out: fresh seed and code) over `length` bytes of data. */
int32_t VELD_SE_SS000(uint8_t codeBlock[48], const uint8_t* data, uint32_t length);
/* Protect: encrypt the data in place under the store key with a fresh vector (kept in the
 * header) and compute the code block over the encrypted data. */
int32_t VELD_SE_SS001(VELD_SE_SS_RECORD* record);
/* Verify the code block against the data. */
int32_t VELD_SE_SS002(VELD_SE_SS_RECORD* record);
/* Verify, then decrypt the data in place. */
int32_t VELD_SE_SS003(VELD_SE_SS_RECORD* record);
/* Data length of the named record (stored length - 80). */
int32_t VELD_SE_SS004(const char* name);
/* Read the named record: header and (still protected) data; record->length must equal the
 * record's data length and pData must hold it. */
int32_t VELD_SE_SS006(const char* name, VELD_SE_SS_RECORD* record); /* VELD_SE_ReadSecureStore */
/* Write a protected record into the working copy under `name`. */
int32_t VELD_SE_SS008(const char* name, const VELD_SE_SS_RECORD* record);
/* Delete the named record from the working copy. */
int32_t VELD_SE_SS010(const char* name);
/* Seal the working copy and write the main and backup copies. */
int32_t VELD_SE_SS011(void); /* VELD_SE_UpdateSecureStore */
/* Trusted conversion (operation 0x0000) of `length` input bytes; `out` must hold `length`
 * bytes. Returns the result length (at least 1); a longer result is refused. */
int32_t VELD_SE_SS012(uint8_t* out, const uint8_t* in, uint32_t length);
/* Import the provisioning partition "sedata" (or the given partition or file). */
int32_t VELD_SE_SS013(const char* path);
/* The same as SS004, SS006 and SS008 on a record kept in a file of its own at `path`. */
int32_t VELD_SE_SS005(const char* path);
int32_t VELD_SE_SS007(const char* path, VELD_SE_SS_RECORD* record);
int32_t VELD_SE_SS009(const char* path, const VELD_SE_SS_RECORD* record);
/* stored length - 80 */
int32_t SE_CalcSecureStoreDataLength(int32_t storedLength);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(void*) != 4 || sizeof(VELD_SE_SS_RECORD) == 72, "store record: 18 words");
static_assert(offsetof(VELD_SE_SS_RECORD, length) == 64, "store record: length after the header");
#endif

#endif /* SE_STORE_H */
