/*
 * se_crypto.h - the secure engine's software crypto library, for callers that work on data in
 * normal memory.
 *
 * Every family keeps one module-wide state (key, vector, hash state, imported RSA key, big
 * integer pool); there are no caller-owned contexts. Calls of one family are therefore not
 * re-entrant: callers serialise them (the secure engine does so with its cross-process lock).
 */
#ifndef SE_CRYPTO_H
#define SE_CRYPTO_H

#include "se_crypto_sym.h"
#include "se_crypto_hash.h"
#include "se_crypto_rsa.h"

#endif /* SE_CRYPTO_H */
