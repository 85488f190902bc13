// veldctl gpu: the simulated GPU of the current root and namespace.
#pragma once

namespace veld::tools {

int runGpu(int argc, char** argv);

}  // namespace veld::tools
