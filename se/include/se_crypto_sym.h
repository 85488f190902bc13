/*
 * se_crypto_sym.h - symmetric ciphers of the secure engine's software crypto library:
 * AES-128/256 (FIPS-197) in ECB, CBC, CTR, CBC with ciphertext stealing and CBC with an
 * OFB-style tail, AES-CMAC (NIST SP 800-38B), AES-XCBC-MAC (RFC 3566), DES and Triple DES
 * (EDE, three keys) in ECB and CBC.
 *
 * Module state. AES keeps one module-wide key, round count and 16-byte vector; DES/Triple DES
 * keep one module-wide key and 8-byte vector. There are no caller-owned contexts, so none of
 * these calls may run in two threads of one process at once: callers serialise (the secure
 * engine does so under its cross-process lock). SE_AES128_CMAC and SE_AES_XCBCMAC replace the
 * module AES key.
 *
 * Buffers. All buffers belong to the caller and are only read or written during the call.
 * Lengths are signed 32-bit byte counts. An output may be the very same buffer as its input
 * (in place); other overlaps are not supported.
 *
 * Results. Cipher operations return the number of bytes that went through the cipher (see
 * each call), and -1 when no key has been set, the length is negative, or a buffer is null
 * while the length is not 0. A failed call leaves the module state unchanged.
 */
#ifndef SE_CRYPTO_SYM_H
#define SE_CRYPTO_SYM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 16 zero bytes: an all-zero initial vector for callers that need one. */
extern const uint8_t SE_ZERO_IV[16];
/* 16 bytes of 0xFF: the CTR counter mask of this library, every bit of the 128-bit vector is
 * counter (SE_AES_EncryptCTR increments all 16 bytes with carry and wraps to zero). */
extern const uint8_t SE_DEFAULT_CTR_MASK[16];

/* ---- AES ------------------------------------------------------------------------------- */

/* Loads a 16-byte (AES-128) or 32-byte (AES-256) key and the 16-byte vector; a null vector
 * loads SE_ZERO_IV. The key schedule is built on the first operation that needs it.
 * Returns 0; -1 for a null key or another length (the state is left as it was). */
int32_t SE_AES_SetKey(const uint8_t* key, int32_t keyLength, const uint8_t* iv);
/* Replace / read the stored 16-byte vector (CBC chain value or CTR counter). Null is ignored. */
void SE_AES_SetIV(const uint8_t* iv);
void SE_AES_GetIV(uint8_t* iv);

/* ECB over the whole 16-byte blocks; a trailing partial block is copied unchanged.
 * Returns the number of bytes enciphered (length rounded down to 16). */
int32_t SE_AES_EncryptECB(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_AES_DecryptECB(uint8_t* out, const uint8_t* in, int32_t length);

/* CBC over the whole blocks, chained from the stored vector; the stored vector becomes the
 * last ciphertext block, so consecutive calls continue one chain. A partial tail is copied
 * unchanged. Returns the number of bytes enciphered (length rounded down to 16). */
int32_t SE_AES_EncryptCBC(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_AES_DecryptCBC(uint8_t* out, const uint8_t* in, int32_t length);

/* CTR: the stored vector is a 128-bit big-endian counter. Each block (a partial last block
 * too) is XORed with AES(counter), then the counter is incremented with carry through all 16
 * bytes, wrapping to zero; the counter is stored back, so no key stream is ever reused by a
 * following call. Encryption and decryption are the same operation. Returns length. */
int32_t SE_AES_EncryptCTR(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_AES_DecryptCTR(uint8_t* out, const uint8_t* in, int32_t length);

/* CBC with ciphertext stealing. Lengths below 16 are copied unchanged (result 0). Otherwise
 * CBC over the whole blocks; a tail of t bytes is zero-padded, CBC-encrypted as one more block
 * and stored in the place of the last whole block, whose first t bytes of ciphertext become
 * the final partial block. A multiple of 16 is plain CBC. Afterwards the stored vector is the
 * last block of the chain (the block encrypted from the padded tail when t > 0), for both
 * directions. Returns length (0 below 16). */
int32_t SE_AES_EncryptCBCCTS(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_AES_DecryptCBCCTS(uint8_t* out, const uint8_t* in, int32_t length);

/* CBC over the whole blocks; a tail of t bytes is XORed with the first t bytes of
 * AES-encrypt(last ciphertext block), or of AES-encrypt(stored vector) when there is no whole
 * block. The stored vector becomes the last ciphertext block as in CBC. Returns length. */
int32_t SE_AES_EncryptCBCOFB(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_AES_DecryptCBCOFB(uint8_t* out, const uint8_t* in, int32_t length);

/* AES-128-CMAC (NIST SP 800-38B, RFC 4493) of `length` bytes of data (0 allowed) under the
 * 16-byte key; writes 16 bytes to out. Loads the key into the module state (vector zero).
 * Returns 0, -1 for a null out/key, a negative length or null data with a length. */
int32_t SE_AES128_CMAC(uint8_t* out, const uint8_t* key, const uint8_t* data, int32_t length);

/* AES-XCBC-MAC (RFC 3566) with its full 16-byte result written to out; truncate for
 * AES-XCBC-MAC-96. The module AES key afterwards is the derived chaining key K1 (vector
 * zero). Results as SE_AES128_CMAC. */
int32_t SE_AES_XCBCMAC(uint8_t* out, const uint8_t* key, const uint8_t* data, int32_t length);

/* ---- DES and Triple DES ---------------------------------------------------------------- */

/* Loads an 8-byte DES key or a 24-byte Triple DES key (K1, K2, K3; encrypt-decrypt-encrypt)
 * and the 8-byte vector; a null vector loads zeros. Parity bits are ignored.
 * Returns 0; -1 for a null key or another length (the state is left as it was). */
int32_t SE_DES_SetKey(const uint8_t* key, int32_t keyLength, const uint8_t* iv);
/* Replace / read the stored 8-byte vector. Null is ignored. */
void SE_DES_SetIV(const uint8_t* iv);
void SE_DES_GetIV(uint8_t* iv);

/* 8-byte blocks; ECB and CBC as for AES (trailing partial block copied unchanged, the stored
 * vector becomes the last ciphertext block). SE_DES_ needs an 8-byte key loaded and SE_TDES_ a
 * 24-byte key; otherwise -1. Returns the number of bytes enciphered (length rounded down
 * to 8). */
int32_t SE_DES_EncryptECB(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_DES_DecryptECB(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_DES_EncryptCBC(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_DES_DecryptCBC(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_TDES_EncryptECB(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_TDES_DecryptECB(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_TDES_EncryptCBC(uint8_t* out, const uint8_t* in, int32_t length);
int32_t SE_TDES_DecryptCBC(uint8_t* out, const uint8_t* in, int32_t length);

#ifdef __cplusplus
}
#endif

#endif /* SE_CRYPTO_SYM_H */
