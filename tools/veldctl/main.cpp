// veldctl: the operator's client of veldd and of the simulated platform. The daemon, its
// root and its namespace are found through VELD_ROOT and VELD_NS, as the daemon finds them.
#include "cli.h"

int main(int argc, char** argv) { return veld::tools::runVeldctl(argc, argv); }
