// veldctl gpu: the simulated GPU of the current root and namespace.
#pragma once

#include "cli.h"

namespace veld::tools {

extern const CommandSpec kGpuStatusCommand;
extern const CommandSpec kGpuDecodeCommand;
extern const CommandSpec kGpuShotCommand;  // gpu_shot.cpp

}  // namespace veld::tools
