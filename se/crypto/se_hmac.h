// HMAC (RFC 2104) over the SHA family: the module-wide key of SE_HMAC_SetKey and the
// C++ routine the exported SE_HMAC_GetValue and other modules use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "se_sha.h"

namespace veld::se::hmac {

// Longest key the module state keeps.
inline constexpr size_t kMaxKeySize = 128;

// Writes sha::digestSize(a) bytes of HMAC(key, data) to `out`. A key longer than the hash's
// block is replaced by its digest first. Works on private state only.
void compute(sha::Algorithm a, std::span<const uint8_t> key, std::span<const uint8_t> data, uint8_t* out);

// The hash a selector of SE_HMAC_GetValue stands for: 1 SHA-224, 2 SHA-256, 3 SHA-384,
// 4 SHA-512, anything else SHA-1.
sha::Algorithm algorithmForSelector(int32_t selector);

}  // namespace veld::se::hmac
