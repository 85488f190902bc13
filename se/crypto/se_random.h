// The one source of random bytes for the crypto library. Until the trusted world's random
// source is reachable it reads the kernel's generator; tests install a deterministic source.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veld::se {

// Fills `out` with `length` random bytes; 0 on success, -1 on failure.
int randomBytes(uint8_t* out, size_t length);

// Replaces the source (tests). A null source restores the default.
using RandomSource = int (*)(uint8_t* out, size_t length, void* context);
void setRandomSource(RandomSource source, void* context);

}  // namespace veld::se
