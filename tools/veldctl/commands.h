// veldctl's daemon and board commands; each description (name, arguments, options, help) sits beside
// its code in commands.cpp, and cli.cpp lists them.
#pragma once

#include "cli.h"

namespace veld::tools {

extern const CommandSpec kPingCommand;
extern const CommandSpec kSendCommand;
extern const CommandSpec kKeyCommand;
extern const CommandSpec kMonitorCommand;
extern const CommandSpec kRegtoolCommand;
extern const CommandSpec kRegReadCommand;
extern const CommandSpec kRegWriteCommand;
extern const CommandSpec kStatusCommand;
extern const CommandSpec kCleanCommand;

}  // namespace veld::tools
