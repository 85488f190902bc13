// veldctl se: the secure engine's engineering views (the permanent log).
#pragma once

namespace veld::tools {

int runSe(int argc, char** argv);

}  // namespace veld::tools
