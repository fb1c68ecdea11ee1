// SPDX-License-Identifier: MIT
#pragma once

#include "operations/Frontend.h"
#include "operations/SerialNumber.h"

#include <optional>
#include <string>
#include <vector>

enum class CliCommand { None, List, Detect, Read, Program, Verify, Erase, BlankCheck, CalibrationHistory, UsbList, UsbUse, UdevRule, CheckCatalogue };

// How progress is shown on stderr: a bar redrawn in place, a line at every tenth, or not at all.
enum class ProgressStyle { Bar, Plain, None };

struct CliOptions {
    CliCommand command = CliCommand::None;
    std::string file;                    // read, program, verify
    std::string usbId;                   // usb-use, udev-rule: "vvvv:pppp" as given
    std::optional<std::string> device;   // unset: the remembered device
    std::string catalogue;               // empty: found beside the executable, then installed
    bool icsp = false;
    // Each set by its option for this run; unset: off, whatever the window remembers, so that
    // a script does the same on every machine.
    std::optional<int> skipDeviceIdCheck;
    std::optional<int> userIdOff;
    std::optional<int> protectOff;
    // --calibration HHHH[,B]: written instead of the chip's calibration (bits -1: the chip's).
    std::optional<CalibrationChoice> calibration;
    std::string sim;                     // simulator setup; empty: KORVALIN_SIM or the real programmer
    std::string trace;
    bool force = false;                  // program or verify a HEX file that looks wrong
    std::string usb;                     // which programmer: a serial number or bus-port path
    bool probe = false;                  // usb-list: ask each candidate who it is
    std::string serial;                  // usb-use: the one board of that ID to take
    // program: a chip after chip (--repeat, at most count chips; 0: until the operator stops),
    // serial numbers from serialStart by serialStep (writeSerial), a log line per chip, or
    // again on every change of the file (--watch).
    bool repeat = false;
    int count = 0;
    bool writeSerial = false;
    uint64_t serialStart = 1;
    uint64_t serialStep = 1;
    SerialField serialField;
    std::string serialFile;
    std::string log;
    bool watch = false;
    std::string group;                   // udev-rule: also a group for SSH and service use
    std::string lang;                    // "en" or "ja"; empty: KORVALIN_LANG, then the window's
    bool quiet = false;                  // no progress, whatever --progress says
    std::optional<ProgressStyle> progress;   // unset: a bar on a terminal, else none
    int verbosity = 0;                   // -v: each step with its time; -vv: libusb's log too
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
// the options. A FILE of "-" is standard input (program, verify) or output (read).
ParseResult parseArguments(const std::vector<std::string>& args);

const char* commandName(CliCommand command);
std::string usageText(const std::string& program);
