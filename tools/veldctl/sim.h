// veldctl sim: the simulators of the current root and namespace (start, stop, status).
#pragma once

namespace veld::tools {

int runSim(int argc, char** argv);

}  // namespace veld::tools
