/*
 * se_engine.h - the secure engine's context, lock and trusted command channel.
 *
 * Any platform process may call these; they run in the caller's thread. All processes share
 * one trusted world through the secure-engine device, so every call that reaches it runs under
 * the system-wide lock "veld-se-sema" and fetches this process's attachment first (attaching on
 * first use). Results: 0 (or a length) on success, -1 on failure; outputs are written only on
 * success. Every record and buffer is owned by the caller; nothing returned needs freeing.
 *
 * Records hold 32-bit words on the television's 32-bit build; a word that holds an address
 * widens to the pointer size on 64-bit PCs.
 */
#ifndef SE_ENGINE_H
#define SE_ENGINE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* {address, length} of key material handed to the trusted world (key chain, second chain). */
typedef struct VELD_SE_CHAIN {
    uintptr_t address;
    uintptr_t length;
} VELD_SE_CHAIN;

/* SE context: allocated and zeroed by the caller, attached by VELD_SE_Open. The engine keeps
 * the addresses of the caller's chains, key records and option records (which must stay valid
 * while the context is used) and replays them into the trusted world when another context
 * used it in between. */
typedef struct VELD_SE_CTX {
    uintptr_t owner;         /* the process that opened it, 0 when closed */
    uintptr_t keyChain;      /* const VELD_SE_CHAIN* */
    uintptr_t secondChain;   /* const VELD_SE_CHAIN* */
    uintptr_t keyRecords;    /* VELD_SE_KEY_RECORD* */
    uintptr_t numKeyRecords;
    uintptr_t option[4];     /* uint32_t[2] option records, selectors 0, 1, 128, 129 */
} VELD_SE_CTX;

/* Key record (commands 112 and 113). */
typedef struct VELD_SE_KEY_RECORD {
    uint32_t type;        /* 2 for key and vector records */
    uint32_t supplied;    /* 1: data given; 0: the trusted world generates it */
    uint32_t word3;
    uint32_t word4;
    uint32_t algorithm;   /* 3 = AES */
    uint32_t keySize;     /* 16 */
    uint32_t inLength;
    uintptr_t inAddress;
    uint32_t word9;
    uint32_t word10;
    uint32_t resultLength; /* set from the trusted world's answer */
    uint32_t word12;
    uint32_t outLength;
    uintptr_t outAddress;
} VELD_SE_KEY_RECORD;

/* Block operation record (command 96). Addresses are physical when the matching flag is 1. */
typedef struct VELD_SE_BLOCK_OP {
    uint32_t direction;   /* 0 encrypt, 1 decrypt */
    uint32_t keySelect[2];
    uint32_t algorithm;   /* 3 = AES */
    uint32_t keyOption;
    uint32_t packetMode;  /* 0 whole range, 1 188-byte packets, 2 192-byte packets */
    uint32_t ivLength;    /* 16 for AES */
    uint32_t srcPhysical;
    uintptr_t src;
    uint32_t dstPhysical;
    uintptr_t dst;
    uint32_t length;
} VELD_SE_BLOCK_OP;

/* Hash request (command 97). */
typedef struct VELD_SE_HASH_REQUEST {
    uint32_t word1;
    uint32_t algorithm;   /* 3, 4..9, 128..131 */
    uint32_t word3;
    uint32_t word4;
    uint32_t srcPhysical;
    uintptr_t src;
    uint32_t resultPhysical;
    uintptr_t result;
    uint32_t length;
} VELD_SE_HASH_REQUEST;

/* RSA request (command 98); outLength receives the trusted world's output length. */
typedef struct VELD_SE_RSA_REQUEST {
    uint32_t word1;
    uint32_t word2;
    uint32_t word3;
    uint32_t srcPhysical;
    uintptr_t src;
    uint32_t dstPhysical;
    uintptr_t dst;
    uint32_t length;
    uint32_t outLength;
} VELD_SE_RSA_REQUEST;

/* Trusted operation (command 144): argument bytes go in and come back; `result` is the
 * trusted world's answer, which the caller judges. */
typedef struct VELD_SE_TRUSTED_OP {
    uint32_t opcode;
    uint32_t result;
    uintptr_t argument;
    uint32_t length;
} VELD_SE_TRUSTED_OP;

/* ---- Context and initialisation ----------------------------------------------------------- */

void VELD_SE_DBG_Initialize(void);
void VELD_SE_DBG_Shutdown(void);
/* storePath: a file or device used instead of the store partition, or NULL. */
int32_t VELD_SE_Initialize(const char* storePath);
int32_t VELD_SE_Shutdown(void);
int32_t VELD_SE_Suspend(void);
int32_t VELD_SE_Resume(void);
int32_t VELD_SE_L000(void); /* take the engine's lock around a group of calls */
int32_t VELD_SE_L001(void); /* release it */
int32_t VELD_SE_G000(VELD_SE_CTX* ctx); /* VELD_SE_Open */
int32_t VELD_SE_G001(VELD_SE_CTX* ctx); /* VELD_SE_Close */

/* ---- Trusted command channel --------------------------------------------------------------- */

int32_t VELD_SE_G002(VELD_SE_CTX* ctx, const VELD_SE_CHAIN* keyChain); /* VELD_SE_SetKey */
int32_t VELD_SE_G003(VELD_SE_CTX* ctx, uint32_t* option);  /* option selector 0 */
int32_t VELD_SE_G004(VELD_SE_CTX* ctx, uint32_t* option);  /* option selector 128 */
int32_t VELD_SE_G005(VELD_SE_CTX* ctx, const VELD_SE_CHAIN* secondChain);
int32_t VELD_SE_G006(VELD_SE_CTX* ctx, uint32_t* option);  /* option selector 1 */
int32_t VELD_SE_G007(VELD_SE_CTX* ctx, uint32_t* option);  /* option selector 129 */
int32_t VELD_SE_G008(VELD_SE_CTX* ctx, VELD_SE_KEY_RECORD* records, int32_t count);
int32_t VELD_SE_G009(VELD_SE_CTX* ctx); /* VELD_SE_ClearSet */
int32_t VELD_SE_G010(uint8_t* buffer, int32_t length); /* random bytes */
int32_t VELD_SE_G011(VELD_SE_CTX* ctx, VELD_SE_BLOCK_OP* op); /* VELD_SE_RunBlockOperation */
int32_t VELD_SE_G012(VELD_SE_CTX* ctx, VELD_SE_HASH_REQUEST* request);
int32_t VELD_SE_G013(VELD_SE_CTX* ctx, VELD_SE_RSA_REQUEST* request); /* VELD_SE_RunRSAOperation */
int32_t VELD_SE_G014(VELD_SE_CTX* ctx, VELD_SE_TRUSTED_OP* op);
int32_t VELD_SE_CC000(uint8_t* buffer, uint32_t length, int32_t encrypt); /* VELD_SE_CryptUnique */
int32_t VELD_SE_CC001(uint8_t* buffer, uint32_t length, int32_t encrypt); /* VELD_SE_CryptCommon */
int32_t VELD_SE_DP000(uint32_t value);
int32_t VELD_SE_DP001(uint32_t value);
int32_t VELD_SE_GetADC(uint32_t selector, uint32_t words[3]);
int32_t VELD_SE_SetADC(uint32_t selector, const uint32_t words[3]);
int32_t VELD_SE_SB002(void);
int32_t VELD_SE_SB003(uint32_t* out);
int32_t VELD_SE_SM000(uint32_t* secureBase, uint32_t* secureSize);
int32_t VELD_SE_SM001(uint32_t dst, const uint8_t* src, uint32_t length);
int32_t VELD_SE_SM002(void);
int32_t VELD_SE_SM003(uint32_t dst, uint32_t src, uint32_t length);
int32_t VELD_SE_SM004(uint32_t dst, uint8_t value, uint32_t length);
int32_t VELD_SE_SM005(uint32_t first, uint32_t second, uint32_t length);
int32_t VELD_SE_SM006(uint32_t first, uint32_t second, uint32_t length);
int32_t VELD_SE_SM007(uint32_t address, uint32_t size);
int32_t VELD_SE_SD002(uint8_t iv[16], uint8_t* data, uint32_t length);
int32_t VELD_SE_SD003(const uint8_t iv[16], uint8_t* data, uint32_t length);
/* out: 16-byte vector followed by `length` bytes of ciphertext. */
int32_t VELD_SE_SB000(uint8_t* out, const uint8_t* in, uint32_t length);
/* in: 16-byte vector followed by `length` bytes of ciphertext; out: `length` bytes. */
int32_t VELD_SE_SB001(uint8_t* out, const uint8_t* in, uint32_t length);
/* *outSize: room in out on the way in, bytes written on the way out. */
int32_t VELD_SE_SB010(const uint8_t* src, uint32_t length, uint8_t* out, uint32_t* outSize);
int32_t VELD_SE_SB011(const uint8_t* src, uint32_t length, uint8_t* out, uint32_t* outSize);
int32_t VELD_SE_CheckOTP(void);

#ifdef __cplusplus
}  /* extern "C" */

static_assert(sizeof(VELD_SE_CTX) == 9 * sizeof(uintptr_t), "SE context: nine words");
static_assert(sizeof(VELD_SE_TRUSTED_OP) == (sizeof(void*) == 4 ? 16 : 24), "trusted op record");
static_assert(sizeof(void*) != 4 || sizeof(VELD_SE_KEY_RECORD) == 56, "key record: 14 words");
static_assert(sizeof(void*) != 4 || sizeof(VELD_SE_BLOCK_OP) == 48, "block op: 12 words");
static_assert(sizeof(void*) != 4 || sizeof(VELD_SE_HASH_REQUEST) == 36, "hash request: 9 words");
static_assert(sizeof(void*) != 4 || sizeof(VELD_SE_RSA_REQUEST) == 36, "RSA request: 9 words");
static_assert(offsetof(VELD_SE_KEY_RECORD, inAddress) == (sizeof(void*) == 4 ? 28 : 32), "key record word 8");
static_assert(offsetof(VELD_SE_BLOCK_OP, src) == 32, "block op word 9");
#endif

#endif /* SE_ENGINE_H */
