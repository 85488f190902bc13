// veldctl se: the secure engine's engineering views (the permanent log, the debug shell).
#pragma once

#include "cli.h"

namespace veld::tools {

extern const CommandSpec kSeLogCommand;
extern const CommandSpec kSeShellCommand;

}  // namespace veld::tools
