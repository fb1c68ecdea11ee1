#pragma once

#include <optional>
#include <string>
#include <vector>

enum class CliCommand { None, List, Detect, Read, Program, Verify, Erase, BlankCheck };

struct CliOptions {
    CliCommand command = CliCommand::None;
    std::string file;                    // read, program, verify
    std::optional<std::string> device;   // unset: the remembered device
    std::string catalogue;               // empty: found beside the executable, then installed
    bool icsp = false;
    // Each set by its option for this run; unset: the remembered value.
    std::optional<int> skipDeviceIdCheck;
    std::optional<int> userIdOff;
    std::optional<int> protectOff;
    std::string sim;                     // simulator setup; empty: KORVALIN_SIM or the real programmer
    std::string trace;
    bool quiet = false;
    bool fast = false;                   // program by the device's fast schedule where it has one
    bool simStats = false;               // hidden: modelled against measured time, for the bench
    bool help = false;
    bool version = false;
};

struct ParseResult {
    bool ok = false;
    CliOptions options;
    std::string error;                   // why the arguments were refused
};

// argv without the program name. Options may stand before or after the command; "--" ends
// the options.
ParseResult parseArguments(const std::vector<std::string>& args);

const char* commandName(CliCommand command);
std::string usageText(const std::string& program);
