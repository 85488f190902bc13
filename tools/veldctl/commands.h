// veldctl's commands. Each takes the arguments after the command's name (argv[0] is the
// command) and returns the process exit status.
#pragma once

namespace veld::tools {

int runPing(int argc, char** argv);
int runSend(int argc, char** argv);
int runKey(int argc, char** argv);
int runMonitor(int argc, char** argv);
int runRegtool(int argc, char** argv);
int runReg(int argc, char** argv);
int runStatus(int argc, char** argv);
int runClean(int argc, char** argv);

}  // namespace veld::tools
