// veldctl se: the secure engine's engineering views (the permanent log).
#pragma once

#include "cli.h"

namespace veld::tools {

extern const CommandSpec kSeLogCommand;

}  // namespace veld::tools
