// The AES module state shared by the mode layer (se_aes_modes.cpp) and the MACs
// (se_aes_mac.cpp): one key, one vector and the schedule built from them on first use.
#pragma once

#include "se_aes.h"

namespace veld::se::aes {

// The schedule of the loaded key, built now if SE_AES_SetKey has cleared it; null when no
// key has been loaded yet.
const Schedule* moduleSchedule();

}  // namespace veld::se::aes
