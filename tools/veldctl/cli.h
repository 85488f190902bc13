// veldctl's command line: the table of commands, and the one place that parses and checks their
// arguments. A command declares its name (one word, or two for a family such as "reg read"),
// its positional arguments, its options and its help; the dispatcher refuses missing, extra
// and unknown arguments the same way for every command, with exit status kUsageStatus, before
// the command runs. The command then reads what it was given from an Invocation.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veld::tools {

// Exit status of every usage error (unknown command or option, missing, extra or malformed
// argument). Failures of a well-formed command (daemon not answering, ...) exit with 1.
constexpr int kUsageStatus = 2;
constexpr int kFailureStatus = 1;

// The documented default time-out of the commands that wait for the daemon.
constexpr uint32_t kDefaultTimeoutMs = 2000;

struct OptionSpec {
    std::string_view name;       // "--timeout"
    std::string_view valueName;  // "MS"; empty for a flag
    bool number = false;         // the value must be a number (decimal or 0x hex)
};

class Invocation;

struct CommandSpec {
    std::string_view name;       // "ping", "reg read"
    std::string_view arguments;  // the positional arguments as the usage line shows them
    int minArgs;
    int maxArgs;
    std::span<const OptionSpec> options;
    std::string_view summary;  // one line for veldctl --help
    std::string_view details;  // what --help adds below the usage line
    int (*run)(const Invocation&);
};

// What a command was given, checked against its description.
class Invocation {
public:
    explicit Invocation(const CommandSpec& command) : command_(command) {}

    const CommandSpec& command() const { return command_; }
    const std::vector<std::string_view>& args() const { return args_; }
    bool has(std::string_view option) const;
    // The value of an option (the last one given), or nullopt.
    std::optional<std::string_view> value(std::string_view option) const;
    // The value of a number option, or `otherwise` when it was not given.
    uint32_t number(std::string_view option, uint32_t otherwise) const;

    // Prints "veldctl NAME: message (see veldctl NAME --help)" and returns kUsageStatus.
    int usageError(const std::string& message) const;
    // Prints "veldctl NAME: message" and returns kFailureStatus.
    int failure(const std::string& message) const;

private:
    friend int runVeldctl(int argc, char** argv);
    const CommandSpec& command_;
    std::vector<std::string_view> args_;
    std::vector<std::pair<std::string_view, std::string_view>> options_;
};

// A number as the operator writes it: decimal, or hexadecimal after 0x. A leading zero is
// decimal, never octal, so "010" is ten. False for anything else or above 32 bits.
bool parseNumber(std::string_view text, uint32_t& value);

// veldctl's main: finds the command of argv[1] (and argv[2] for a family), checks the
// arguments and runs it. Returns the process exit status.
int runVeldctl(int argc, char** argv);

}  // namespace veld::tools
