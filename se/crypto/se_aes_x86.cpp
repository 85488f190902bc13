// Hardware-specific AES engine for x86 CPUs (placeholder until the constant-time path lands).
#include "se_aes.h"

namespace veld::se::aes {

const Engine* hardwareEngine() { return nullptr; }

}  // namespace veld::se::aes
