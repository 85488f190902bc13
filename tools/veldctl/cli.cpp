// veldctl's dispatcher (see cli.h): the command table, help texts built from the specs, and the
// argument checks every command shares.
#include "cli.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "screenshot.h"
#include "gpu.h"
#include "metrics.h"
#include "se.h"
#include "sim.h"

namespace veld::tools {
namespace {

// Every command, in the order veldctl --help lists them. A family ("reg read", "reg write")
// keeps its members next to each other.
constexpr const CommandSpec* kCommands[] = {
    &kPingCommand,   &kSendCommand,     &kKeyCommand,    &kMonitorCommand,
    &kRegtoolCommand, &kRegReadCommand, &kRegWriteCommand, &kStatusCommand,
    &kCleanCommand,  &kScreenshotCommand, &kSimStartCommand, &kSimStopCommand,
    &kSimStatusCommand, &kSeLogCommand, &kSeShellCommand, &kGpuStatusCommand,
    &kGpuDecodeCommand, &kGpuShotCommand, &kMetricsCommand,
};

std::string_view firstWord(std::string_view name) { return name.substr(0, name.find(' ')); }

std::string_view secondWord(std::string_view name) {
    const size_t space = name.find(' ');
    return space == std::string_view::npos ? std::string_view() : name.substr(space + 1);
}

std::string text(std::string_view view) { return std::string(view); }

bool isHelp(std::string_view arg) { return arg == "--help" || arg == "-h"; }

// "-5" and "-" are arguments, not options.
bool isOption(std::string_view arg) {
    return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

// Appended piece by piece: g++ 12 at -O2 takes `" " + std::string` temporaries for an
// overlapping copy (-Wrestrict), a false warning.
std::string usageLine(const CommandSpec& command) {
    std::string line = "veldctl ";
    line += text(command.name);
    if (!command.arguments.empty()) line.append(" ").append(text(command.arguments));
    for (const OptionSpec& o : command.options) {
        line.append(" [").append(text(o.name));
        if (!o.valueName.empty()) line.append(" ").append(text(o.valueName));
        line += "]";
    }
    return line;
}

void printHelp(const CommandSpec& command) {
    std::printf("usage: %s\n%.*s", usageLine(command).c_str(), static_cast<int>(command.details.size()),
                command.details.data());
}

void printOverview(FILE* out) {
    std::fprintf(out, "usage: veldctl COMMAND [ARGS] (veldctl COMMAND --help for details)\n\n");
    for (const CommandSpec* c : kCommands)
        std::fprintf(out, "  %-12s %.*s\n", text(c->name).c_str(), static_cast<int>(c->summary.size()),
                     c->summary.data());
    std::fprintf(out,
                 "\nThe daemon is found under $VELD_ROOT (default /) in namespace $VELD_NS.\n"
                 "Exit status: 0 done, 1 failed (daemon not running or not answering, ...),\n"
                 "%d usage error.\n",
                 kUsageStatus);
}

// The members of a family, as "read, write".
std::string familyMembers(std::string_view family) {
    std::string members;
    for (const CommandSpec* c : kCommands) {
        if (firstWord(c->name) != family || secondWord(c->name).empty()) continue;
        if (!members.empty()) members += ", ";
        members += text(secondWord(c->name));
    }
    return members;
}

int familyError(std::string_view family, const std::string& message) {
    std::fprintf(stderr, "veldctl %s: %s (see veldctl %s --help)\n", text(family).c_str(),
                 message.c_str(), text(family).c_str());
    return kUsageStatus;
}

const OptionSpec* findOption(const CommandSpec& command, std::string_view name) {
    for (const OptionSpec& o : command.options)
        if (o.name == name) return &o;
    return nullptr;
}

}  // namespace

bool parseNumber(std::string_view text, uint32_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    uint64_t v = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (v > 0xFFFFFFFFull) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

bool Invocation::has(std::string_view option) const { return value(option).has_value(); }

std::optional<std::string_view> Invocation::value(std::string_view option) const {
    std::optional<std::string_view> found;
    for (const auto& [name, v] : options_)
        if (name == option) found = v;
    return found;
}

uint32_t Invocation::number(std::string_view option, uint32_t otherwise) const {
    uint32_t n = otherwise;
    if (auto v = value(option)) parseNumber(*v, n);  // checked when parsed
    return n;
}

int Invocation::usageError(const std::string& message) const {
    std::fprintf(stderr, "veldctl %s: %s (see veldctl %s --help)\n", text(command_.name).c_str(),
                 message.c_str(), text(command_.name).c_str());
    return kUsageStatus;
}

int Invocation::failure(const std::string& message) const {
    std::fprintf(stderr, "veldctl %s: %s\n", text(command_.name).c_str(), message.c_str());
    return kFailureStatus;
}

int runVeldctl(int argc, char** argv) {
    if (argc < 2) {
        printOverview(stderr);
        return kUsageStatus;
    }
    const std::string_view word = argv[1];
    if (isHelp(word) || word == "help") {
        printOverview(stdout);
        return 0;
    }
    // The command: one word, or a family's word and its member's.
    const CommandSpec* command = nullptr;
    bool family = false;
    for (const CommandSpec* c : kCommands) {
        if (firstWord(c->name) != word) continue;
        if (secondWord(c->name).empty()) {
            command = c;
            break;
        }
        family = true;
        if (argc > 2 && secondWord(c->name) == argv[2]) {
            command = c;
            break;
        }
    }
    if (!command && !family) {
        std::fprintf(stderr, "veldctl: unknown command '%s' (see veldctl --help)\n", argv[1]);
        return kUsageStatus;
    }
    if (!command) {
        if (argc > 2 && isHelp(argv[2])) {
            for (const CommandSpec* c : kCommands)
                if (firstWord(c->name) == word) printHelp(*c);
            return 0;
        }
        if (argc < 3) return familyError(word, "missing subcommand (" + familyMembers(word) + ")");
        return familyError(word, "unknown subcommand '" + std::string(argv[2]) + "' (" +
                                     familyMembers(word) + ")");
    }

    Invocation call(*command);
    bool optionsEnd = false;
    for (int i = family ? 3 : 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnd && isHelp(arg)) {
            printHelp(*command);
            return 0;
        }
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (optionsEnd || !isOption(arg)) {
            call.args_.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const OptionSpec* option = findOption(*command, name);
        if (!option) return call.usageError("unknown option " + text(arg));
        std::string_view value;
        if (option->valueName.empty()) {
            if (equals != std::string_view::npos) return call.usageError(text(name) + " takes no value");
        } else if (equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return call.usageError(text(name) + " needs " + text(option->valueName));
        }
        uint32_t ignored = 0;
        if (option->number && !parseNumber(value, ignored))
            return call.usageError(text(name) + " needs a number (" + text(option->valueName) +
                                   "), not '" + text(value) + "'");
        call.options_.emplace_back(name, value);
    }
    const int given = static_cast<int>(call.args_.size());
    if (given < command->minArgs)
        return call.usageError("missing argument (usage: " + usageLine(*command) + ")");
    if (given > command->maxArgs) return call.usageError("unexpected argument '" + text(call.args_[command->maxArgs]) + "'");
    return command->run(call);
}

}  // namespace veld::tools
