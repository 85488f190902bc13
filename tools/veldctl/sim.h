// veldctl sim: the simulators of the current root and namespace (start, stop, status).
#pragma once

#include "cli.h"

namespace veld::tools {

extern const CommandSpec kSimStartCommand;
extern const CommandSpec kSimStopCommand;
extern const CommandSpec kSimStatusCommand;

}  // namespace veld::tools
