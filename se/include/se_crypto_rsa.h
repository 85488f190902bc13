/*
 * se_crypto_rsa.h - public-key half of the secure engine's software crypto library: the
 * big-integer layer, RSA (PKCS #1 v2.1: raw exponentiation, v1.5 encryption, OAEP, PSS), key
 * import and export in DER (PKCS #1, PKCS #8, PKCS #3 parameters) and Diffie-Hellman private
 * values.
 *
 * Module state: one big-integer layer (the caller's work pool, a table of moduli, the value 1)
 * and one imported RSA key per process. There are no caller-owned contexts, so none of these
 * calls may run in two threads of a process at once; callers serialise them (the engine does
 * so under its cross-process lock). A key set with SE_RSA_SetKey serves one operation: every
 * operation that uses it wipes the pool and forgets the key when it finishes, successful or
 * not.
 *
 * Ownership: every pointer argument is borrowed for the duration of the call only, except the
 * work pool, which the library uses until the next SE_RSA_Init or SE_BI_InitMem. Output
 * buffers are owned by the caller and must be as large as documented at each function.
 * Lengths are signed 32-bit byte counts. Failures return -1 (or null for the SE_BI_
 * functions that return values); failed calls never read or write outside the given
 * buffers.
 *
 * Limits: moduli (RSA n, p, q, Diffie-Hellman p) of up to 4096 bits; RSA private operations
 * run in constant time with blinded exponents and check their result before releasing it.
 */
#ifndef SE_CRYPTO_RSA_H
#define SE_CRYPTO_RSA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Big integers ----------------------------------------------------------------------- */

/* Size of the work pool that SE_BI_InitMem and SE_RSA_Init take. */
#define SE_BI_POOL_SIZE 32768

/*
 * A non-negative big integer. Values live in the caller's work pool: each records its length
 * in 32-bit digits, a permanence mark and its digits (least significant first), normalised so
 * that no zero digit stands on top of a value longer than one digit. The record is opaque;
 * read a value with SE_BI_Export.
 */
typedef struct SE_BigInt SE_BigInt;

/* Moduli table: slot 0 holds the RSA modulus, 1 and 2 its primes; 3 is free for callers. */
#define SE_BI_MOD_SLOTS 4

/*
 * SE_BI_InitMem hands the layer the caller's work pool of SE_BI_POOL_SIZE bytes (any
 * alignment); the caller keeps ownership and must keep it alive while the layer uses it.
 * Null detaches the pool. SE_BI_Initialize forgets every value and modulus and creates the
 * permanent value 1: 0, or -1 without a pool. SE_BI_Terminate releases every value, wipes
 * the whole pool and empties the moduli table.
 */
void SE_BI_InitMem(void *pool);
int32_t SE_BI_Initialize(void);
void SE_BI_Terminate(void);

/*
 * Values returned by the functions below are new, temporary values in the pool (null when
 * the pool is missing or full, an argument is not a live value, or a result would exceed
 * 8,256 bits). SE_BI_Free releases one temporary value (null and permanent values are
 * ignored); SE_BI_Permanent marks a value to survive SE_BI_Free and SE_BI_Depermanent
 * removes the mark. SE_BI_Terminate releases everything.
 */
void SE_BI_Free(SE_BigInt *value);
void SE_BI_Permanent(SE_BigInt *value);
void SE_BI_Depermanent(SE_BigInt *value);

/* `length` big-endian bytes (leading zeros allowed); null for a negative length. */
SE_BigInt *SE_BI_Import(const uint8_t *in, int32_t length);
/*
 * Writes the value as exactly `length` big-endian bytes, zero-filled on the left, and returns
 * `length`; -1 when it does not fit. With a null `out` returns the value's byte length (0 for
 * zero) and writes nothing.
 */
int32_t SE_BI_Export(const SE_BigInt *value, uint8_t *out, int32_t length);
SE_BigInt *SE_BI_IntToBI(uint32_t value);
/* Copies src into dst (dst must have room for src's digits): 0 or -1. */
int32_t SE_BI_Copy(SE_BigInt *dst, const SE_BigInt *src);
SE_BigInt *SE_BI_Clone(const SE_BigInt *src);

SE_BigInt *SE_BI_Add(const SE_BigInt *a, const SE_BigInt *b);
/* a - b; null when b > a (values are never negative). */
SE_BigInt *SE_BI_subtract(const SE_BigInt *a, const SE_BigInt *b);
SE_BigInt *SE_BI_Multiply(const SE_BigInt *a, const SE_BigInt *b);
/*
 * Returns the quotient a / b and, when `remainder` is not null, stores a new value a mod b
 * there. Null (and *remainder null) when b is zero.
 */
SE_BigInt *SE_BI_Divide(const SE_BigInt *a, const SE_BigInt *b, SE_BigInt **remainder);
/* -1, 0 or 1 as a is below, equal to or above b; -2 when either is not a live value. */
int32_t SE_BI_Compare(const SE_BigInt *a, const SE_BigInt *b);

/*
 * SE_BI_SetMod registers an odd modulus of 3 to 4096 bits in slot `index` (the table keeps
 * its own copy): 0, or -1 for a bad slot or modulus. SE_BI_FreeMod empties a slot.
 * SE_BI_SetModOffset chooses the slot that SE_BI_ModPower reduces by: 0, or -1 for an empty
 * slot.
 */
int32_t SE_BI_SetMod(int32_t index, const SE_BigInt *modulus);
void SE_BI_FreeMod(int32_t index);
int32_t SE_BI_SetModOffset(int32_t index);
/* base^exponent modulo the chosen modulus, in time independent of the exponent's bits. */
SE_BigInt *SE_BI_ModPower(const SE_BigInt *base, const SE_BigInt *exponent);
/*
 * input^d modulo p*q from the primes in slots 1 (p) and 2 (q) and d mod (p-1), d mod (q-1) and
 * q^-1 mod p (Chinese remainder theorem, constant time, blinded exponents). Null when the
 * slots are empty, the primes differ in size, or input >= p*q.
 */
SE_BigInt *SE_BI_CRT(const SE_BigInt *input, const SE_BigInt *dp, const SE_BigInt *dq,
                     const SE_BigInt *qinv);

/* ---- RSA -------------------------------------------------------------------------------- */

/*
 * The key blob (input of SE_RSA_SetKey, output of the DER readers): fields of a 16-bit
 * little-endian length and that many big-endian bytes, in the order n, e, d, p, q, dp, dq,
 * qinv. n and e are required; a blob may end after e (public key) or after d; otherwise all
 * eight fields are present. Bytes after the eighth field are ignored.
 */

/* Hands the big-integer layer the work pool (SE_BI_POOL_SIZE bytes) and forgets any key. */
void SE_RSA_Init(void *pool);
/*
 * Wipes the pool, imports the key and registers its moduli: 0, or -1 for a malformed blob, a
 * modulus that is even or longer than 4096 bits, fields out of range (e, d >= n; p*q != n;
 * dp >= p, dq >= q, qinv >= p) or a missing pool.
 */
int32_t SE_RSA_SetKey(const uint8_t *blob, int32_t length);
/*
 * Raw m^e (isPrivate 0) or c^d (otherwise; CRT when p and q are present) of `length`
 * (1..modulus length) big-endian bytes below n. Writes the modulus length of bytes to `out`
 * and returns that length; -1 on failure. With a null `out` only returns the modulus length
 * (or -1 without a key) and keeps the key.
 */
int32_t SE_RSA_Exponentiation(uint8_t *out, const uint8_t *in, int32_t length, int32_t isPrivate);

/*
 * PKCS #1 v1.5 type-2 (encryption) padding. Encrypt: `length` <= modulus length - 11 bytes in,
 * the modulus length of bytes out; returns the modulus length. Decrypt: `length` (1..modulus
 * length) bytes of ciphertext in; `out` must hold the message (at most modulus length - 11
 * bytes); returns the message length. Every failure of the decryption - bad ciphertext or bad
 * padding - is one -1, reached in the same time.
 */
int32_t SE_RSA_15_Encrypt(uint8_t *out, const uint8_t *in, int32_t length);
int32_t SE_RSA_15_Decrypt(uint8_t *out, const uint8_t *in, int32_t length);

/*
 * OAEP with MGF1 and an empty label; `hash` 2 selects SHA-256, any other value SHA-1 (h = 32
 * or 20 bytes). Encrypt: `length` <= modulus length - 2h - 2 bytes in, the modulus length out;
 * the seed (h bytes) comes from the caller in EncryptWithSeed (null: random) and is random
 * otherwise. Decrypt: `out` must hold the message (at most modulus length - 2h - 2 bytes);
 * returns its length; every failure is one -1 reached in the same time.
 */
int32_t SE_RSA_OAEP_Encrypt(uint8_t *out, const uint8_t *in, int32_t length, int32_t hash);
int32_t SE_RSA_OAEP_EncryptWithSeed(uint8_t *out, const uint8_t *in, int32_t length,
                                    int32_t hash, const uint8_t *seed);
int32_t SE_RSA_OAEP_Decrypt(uint8_t *out, const uint8_t *in, int32_t length, int32_t hash);

/*
 * PSS (EMSA-PSS with MGF1 of the same hash). The hash is chosen by `hashLength`: 20 SHA-1, 28
 * SHA-224, 32 SHA-256, 48 SHA-384, 64 SHA-512. `modulusBits` is the bit length of n; the
 * message representative is k = ceil(modulusBits / 8) bytes (a leading zero byte when the
 * encoding is one byte shorter), ready for SE_RSA_Exponentiation.
 * SE_RSA_AddPKCS1PSS encodes `hash` with a random salt of `saltLength` bytes into `out`
 * (k bytes) and returns k; -1 when the modulus is too short for hash and salt.
 * SE_RSA_VerifyPKCS1PSS checks a representative of `length` = k bytes (the public operation
 * applied to a signature) against `hash`: 0 when it matches, -1 otherwise. A `saltLength` of -1
 * accepts any salt length.
 */
int32_t SE_RSA_AddPKCS1PSS(uint8_t *out, int32_t modulusBits, const uint8_t *hash,
                           int32_t hashLength, int32_t saltLength);
int32_t SE_RSA_VerifyPKCS1PSS(const uint8_t *message, int32_t length, int32_t modulusBits,
                              const uint8_t *hash, int32_t hashLength, int32_t saltLength);

/* ---- DER -------------------------------------------------------------------------------- */

/*
 * Readers of DER keys into a key blob. `out` must hold `length` bytes (a blob is never
 * longer than its DER). The whole input must be one well-formed structure: anything
 * malformed, truncated, with trailing bytes, with lengths beyond the input, with negative
 * integers or with a modulus longer than 4096 bits fails with -1. Lengths are read in the
 * short form and the 0x81 and 0x82 long forms.
 * - SE_RSA_ReadPKCS1_PublicKey: RSAPublicKey -> n, e.
 * - SE_RSA_ReadPKCS1_PrivateKey: two-prime RSAPrivateKey (version 0) -> all eight fields.
 * - SE_RSA_ReadPKCS8: PrivateKeyInfo (version 0 or 1) with rsaEncryption -> all eight fields.
 * Each returns the blob length.
 */
int32_t SE_RSA_ReadPKCS8(uint8_t *out, const uint8_t *der, int32_t length);
int32_t SE_RSA_ReadPKCS1_PrivateKey(uint8_t *out, const uint8_t *der, int32_t length);
int32_t SE_RSA_ReadPKCS1_PublicKey(uint8_t *out, const uint8_t *der, int32_t length);
/*
 * Writes n and e of a key blob of `length` bytes as a DER RSAPublicKey and returns its length
 * (at most `length` + 10); with a null `out` returns the length only. -1 for a bad blob.
 */
int32_t SE_RSA_ExportPKCS1_PublicKey(uint8_t *out, const uint8_t *blob, int32_t length);
/*
 * Reads DER DHParameter (prime, base, optional privateValueLength in bits) into a
 * Diffie-Hellman blob: {16-bit little-endian length, prime p}, {16-bit length, x} with x
 * zero-filled and as long as privateValueLength requires (as long as p without it), ready
 * for SE_RSA_GenDiffieHellmanKey. `out` must hold 2 * `length` bytes. Returns the blob length
 * or -1.
 */
int32_t SE_RSA_ReadPKCS3(uint8_t *out, const uint8_t *der, int32_t length);
/*
 * Writes a DER length: one byte below 127, 0x81 and one byte for 127..254, 0x82 and two
 * big-endian bytes for 255..65535. Returns the byte count (1, 2 or 3); with a null `out`
 * writes nothing. -1 for a negative length or one above 65535.
 */
int32_t _BER_WriteLength(uint8_t *out, int32_t length);

/* ---- Diffie-Hellman --------------------------------------------------------------------- */

/*
 * Fills x of a Diffie-Hellman blob of `length` bytes with random bytes and sets the top bit
 * of its first byte. Returns the blob length, or -1 when the blob is shorter than its field
 * lengths say, x is empty or no random bytes are available.
 */
int32_t SE_RSA_GenDiffieHellmanKey(uint8_t *blob, int32_t length);

/* Numbered aliases exported for callers that use them. */
int32_t VELD_SE_OTH001(uint8_t *out, const uint8_t *der, int32_t length); /* SE_RSA_ReadPKCS8 */
int32_t VELD_SE_OTH002(uint8_t *out, const uint8_t *der, int32_t length); /* SE_RSA_ReadPKCS3 */

#ifdef __cplusplus
}
#endif

#endif /* SE_CRYPTO_RSA_H */
