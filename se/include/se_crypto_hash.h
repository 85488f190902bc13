/*
 * se_crypto_hash.h - hashes, HMAC, the engine's CRC-32, Base64/Base32 and byte-wise masks of
 * the secure engine's software crypto library.
 *
 * Module state: SHA-1 has one module-wide state, SHA-224 and SHA-256 share one, SHA-384 and
 * SHA-512 share one, and HMAC keeps one key. There are no caller-owned contexts, so calls of one
 * family must not run in two threads of a process at once; callers serialise them. The
 * one-shot digests and SE_HMAC_GetValue work on private state and leave the streaming states
 * untouched.
 *
 * Ownership: every pointer is borrowed for the duration of the call only; the library keeps
 * no caller pointer. Output buffers are owned by the caller and must be large enough for the
 * size documented at each function. Lengths are signed 32-bit byte counts; a negative length,
 * or a null pointer where bytes are to be read or written, fails with -1.
 */
#ifndef SE_CRYPTO_HASH_H
#define SE_CRYPTO_HASH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Digest sizes in bytes. */
#define SE_SHA1_DIGEST_SIZE 20
#define SE_SHA224_DIGEST_SIZE 28
#define SE_SHA256_DIGEST_SIZE 32
#define SE_SHA384_DIGEST_SIZE 48
#define SE_SHA512_DIGEST_SIZE 64

/*
 * Streaming hashes over the module-wide states. Init starts a new message; Update appends
 * `length` bytes (0 or -1); Done writes the digest to `out` (caller-owned, digest size bytes),
 * returns 0 (or -1 for a null `out`) and leaves the state started again for the same hash.
 * SHA-224 and SHA-256 share one state (the Init call chooses the starting value; the Done call
 * chooses how many bytes are written); so do SHA-384 and SHA-512.
 */
int32_t SE_SHA1_Init(void);
int32_t SE_SHA1_Update(const uint8_t *data, int32_t length);
int32_t SE_SHA1_Done(uint8_t *out);

int32_t SE_SHA224_Init(void);
int32_t SE_SHA224_Update(const uint8_t *data, int32_t length);
int32_t SE_SHA224_Done(uint8_t *out);

int32_t SE_SHA256_Init(void);
int32_t SE_SHA256_Update(const uint8_t *data, int32_t length);
int32_t SE_SHA256_Done(uint8_t *out);

int32_t SE_SHA384_Init(void);
int32_t SE_SHA384_Update(const uint8_t *data, int32_t length);
int32_t SE_SHA384_Done(uint8_t *out);

int32_t SE_SHA512_Init(void);
int32_t SE_SHA512_Update(const uint8_t *data, int32_t length);
int32_t SE_SHA512_Done(uint8_t *out);

/*
 * One-shot digests of `length` bytes into `out` (caller-owned, digest size bytes). They use
 * private state, so they neither need nor disturb the streaming states. 0 or -1.
 */
int32_t SE_SHA1_Digest(uint8_t *out, const uint8_t *data, int32_t length);
int32_t SE_SHA224_Digest(uint8_t *out, const uint8_t *data, int32_t length);
int32_t SE_SHA256_Digest(uint8_t *out, const uint8_t *data, int32_t length);
int32_t SE_SHA384_Digest(uint8_t *out, const uint8_t *data, int32_t length);
int32_t SE_SHA512_Digest(uint8_t *out, const uint8_t *data, int32_t length);

/* Hash selectors of SE_HMAC_GetValue; any other value selects SHA-1. */
#define SE_HMAC_SHA1 0
#define SE_HMAC_SHA224 1
#define SE_HMAC_SHA256 2
#define SE_HMAC_SHA384 3
#define SE_HMAC_SHA512 4

/*
 * SE_HMAC_SetKey copies `length` (0..128) key bytes into the module state: 0, or -1 when the
 * length exceeds 128 (the previous key is then kept).
 * SE_HMAC_GetValue writes the code of `length` bytes under that key with the selected hash to
 * `out` (caller-owned, the selected digest size: 20, 28, 32, 48 or 64 bytes): 0 or -1.
 */
int32_t SE_HMAC_SetKey(const uint8_t *key, int32_t length);
int32_t SE_HMAC_GetValue(uint8_t *out, const uint8_t *data, int32_t length, int32_t selector);

/*
 * The engine's CRC-32: polynomial 0x04C11DB7, data shifted in most significant bit first, no
 * reflection, no final XOR, and the register is XORed with the polynomial when the data bit
 * equals the register's top bit. SE_CalcCRC32 feeds one byte into a running value;
 * SE_CalcDataCRC32 runs over `length` bytes from 0 (0 for a length below 1 or null data).
 */
uint32_t SE_CalcCRC32(uint32_t crc, uint8_t byte);
uint32_t SE_CalcDataCRC32(const uint8_t *data, int32_t length);

/*
 * Base64 and Base32 (RFC 4648, standard alphabets, "=" padding, no line breaks, no
 * terminator). The encoders write 4 characters per started 3 bytes (Base64) or 8 per started
 * 5 bytes (Base32) and return that count; -1 when it would not fit in an int32_t.
 * The decoders accept only whole, correctly padded, canonical input in the alphabet (no
 * white space) and return the number of bytes written, at most 3 per 4 characters (Base64)
 * or 5 per 8 (Base32) of `length`; anything else fails with -1. `out` is caller-owned and
 * must hold that many bytes; on failure its contents are unspecified.
 */
int32_t SE_EncodeBase64(char *out, const uint8_t *in, int32_t length);
int32_t SE_DecodeBase64(uint8_t *out, const char *in, int32_t length);
int32_t SE_EncodeBase32(char *out, const uint8_t *in, int32_t length);
int32_t SE_DecodeBase32(uint8_t *out, const char *in, int32_t length);

/*
 * out[i] = in[i] op key[i mod keyLength] for i < length; `out` may equal `in`. Returns
 * `length`, or -1 for a key length below 1 (with a non-empty input) or null buffers.
 */
int32_t SE_XOR(uint8_t *out, const uint8_t *in, int32_t length, const uint8_t *key, int32_t keyLength);
int32_t SE_AND(uint8_t *out, const uint8_t *in, int32_t length, const uint8_t *key, int32_t keyLength);
int32_t SE_OR(uint8_t *out, const uint8_t *in, int32_t length, const uint8_t *key, int32_t keyLength);

/* Numbered aliases exported for callers that use them. */
uint32_t VELD_SE_OTH000(uint32_t crc, uint8_t byte);            /* SE_CalcCRC32 */
int32_t VELD_SE_OTH003(char *out, const uint8_t *in, int32_t length); /* SE_EncodeBase64 */
int32_t VELD_SE_OTH004(uint8_t *out, const char *in, int32_t length); /* SE_DecodeBase64 */
/* VELD_SE_OTH001 and VELD_SE_OTH002 (the DER readers) are declared in se_crypto_rsa.h. */

#ifdef __cplusplus
}
#endif

#endif /* SE_CRYPTO_HASH_H */
