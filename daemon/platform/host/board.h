// The simulated board record (see board.cpp).
#pragma once

#include <functional>

#include "veldcore_host.h"

namespace veld::host {

// Applies `change` to the board's state under its lock; -1 when the board can't be mapped.
int32_t boardUpdate(const std::function<void(VELD_BOARD_STATE&)>& change);

}  // namespace veld::host
