#include "cli/CliOptions.h"

#include <array>
#include <string_view>
#include <utility>

namespace {

struct CommandInfo {
    const char* name;
    CliCommand command;
    bool takesFile;
};

constexpr std::array<CommandInfo, 7> kCommands{{
    {"list", CliCommand::List, false},
    {"detect", CliCommand::Detect, false},
    {"read", CliCommand::Read, true},
    {"program", CliCommand::Program, true},
    {"verify", CliCommand::Verify, true},
    {"erase", CliCommand::Erase, false},
    {"blank-check", CliCommand::BlankCheck, false},
}};

const CommandInfo* findCommand(std::string_view name) {
    for (const CommandInfo& info : kCommands)
        if (name == info.name) return &info;
    return nullptr;
}

bool takesFile(CliCommand command) {
    for (const CommandInfo& info : kCommands)
        if (info.command == command) return info.takesFile;
    return false;
}

ParseResult refuse(std::string why) {
    ParseResult result;
    result.error = std::move(why);
    return result;
}

}  // namespace

const char* commandName(CliCommand command) {
    for (const CommandInfo& info : kCommands)
        if (info.command == command) return info.name;
    return "";
}

ParseResult parseArguments(const std::vector<std::string>& args) {
    CliOptions options;
    std::vector<std::string> positional;
    bool optionsEnded = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }

        // "--name=value" and "--name value" alike; short options only in the separate form.
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            const auto equals = arg.find('=');
            if (equals != std::string::npos) {
                name = arg.substr(0, equals);
                inlineValue = arg.substr(equals + 1);
            }
        }
        auto value = [&](std::string& out) -> bool {
            if (inlineValue) {
                out = *inlineValue;
            } else {
                if (i + 1 >= args.size()) return false;
                out = args[++i];
            }
            return true;
        };
        auto flag = [&](auto& target, auto setTo) -> bool {
            if (inlineValue) return false;
            target = setTo;
            return true;
        };

        bool good = true;
        if (name == "-d" || name == "--device") {
            std::string device;
            good = value(device);
            if (good && device.empty()) return refuse("the device name given to " + name + " is empty");
            options.device = device;
        } else if (name == "--catalogue") {
            good = value(options.catalogue);
            if (good && options.catalogue.empty()) return refuse("--catalogue needs a file");
        } else if (name == "--sim") {
            good = value(options.sim);
            if (good && options.sim.empty()) return refuse("--sim needs a chip name or \"empty\"");
        } else if (name == "--trace") {
            good = value(options.trace);
            if (good && options.trace.empty()) return refuse("--trace needs a file");
        } else if (name == "--icsp") {
            good = flag(options.icsp, true);
        } else if (name == "--skip-id-check") {
            good = flag(options.skipDeviceIdCheck, 1);
        } else if (name == "--no-user-id") {
            good = flag(options.userIdOff, 1);
        } else if (name == "--protect-off") {
            good = flag(options.protectOff, 1);
        } else if (name == "-q" || name == "--quiet") {
            good = flag(options.quiet, true);
        } else if (name == "--fast") {
            good = flag(options.fast, true);
        } else if (name == "--sim-stats") {
            good = flag(options.simStats, true);
        } else if (name == "-h" || name == "--help") {
            good = flag(options.help, true);
        } else if (name == "--version") {
            good = flag(options.version, true);
        } else {
            return refuse("unknown option " + arg);
        }
        if (!good)
            return refuse(inlineValue ? name + " takes no value" : name + " needs a value");
    }

    ParseResult result;
    if (options.help || options.version) {
        result.ok = true;
        result.options = options;
        return result;
    }
    if (positional.empty()) return refuse("no command given");
    const CommandInfo* info = findCommand(positional[0]);
    if (!info) return refuse("unknown command \"" + positional[0] + "\"");
    options.command = info->command;
    std::size_t expected = 1;
    if (takesFile(options.command)) {
        if (positional.size() < 2) return refuse(std::string(info->name) + " needs a HEX file");
        if (positional[1].empty()) return refuse(std::string(info->name) + " needs a HEX file");
        options.file = positional[1];
        expected = 2;
    }
    if (positional.size() > expected)
        return refuse("unexpected argument \"" + positional[expected] + "\"");

    result.ok = true;
    result.options = options;
    return result;
}

std::string usageText(const std::string& program) {
    return "Usage: " + program + R"( [options] COMMAND

Commands:
  list               print the catalogue's device names in file order
  detect             read the chip's device ID and print every catalogue device it matches
  read FILE          read the chip and save it as an Intel HEX file
  program FILE       load FILE, write it to the chip (keeping the chip's oscillator
                     calibration where the device has one), then verify
  verify FILE        load FILE and compare the chip with it
  erase              erase the chip (keeping the oscillator calibration where there is one)
  blank-check        read the chip and tell whether it is blank

Options:
  -d, --device NAME  catalogue device (default: the device remembered by the window)
  --catalogue FILE   catalogue (default: PicDeviceList.txt beside the executable, then in
                     the installed data folder)
  --icsp             reach the chip over the ICSP cable instead of the device's socket
  --skip-id-check    do not check the device ID before each operation
  --no-user-id       neither write nor verify the user ID
  --protect-off      force the code-protect bits of a loaded file to "unprotected"
                     (without these three options the window's remembered choices apply)
  --sim SETUP        use the simulated programmer:
                       CHIP|empty[,image=FILE][,clock=N][,unplug-after=N][,stall-after=N]
                       [,noprogram=ADDR]
                     CHIP is the chip in the position its package fits (empty: none);
                     image keeps the chip's memories in FILE between runs; unplug-after and
                     stall-after make the programmer vanish or stop answering after N
                     exchanges; noprogram is a word address (hex) whose writes do not take.
                     KORVALIN_SIM=SETUP does the same.
  --fast             program by the chip's own longest programming times and several
                     words per exchange instead of the standard fixed waits (a device
                     without checked times keeps the standard schedule, and says so)
  --trace FILE       write every exchange with the programmer to FILE (also KORVALIN_TRACE)
  -q, --quiet        no progress bar (none is drawn either when stderr is not a terminal)
  -h, --help         this text
  --version          the version

The remembered settings are read, never written: a script run does not change what the
window remembers. The real programmer's USB ID comes from KORVALIN_USB_ID=vvvv:pppp, else
from VendorId/ProductId in group Settings/Usb of the same settings.

Exit status:
  0  success
  1  verify found a difference, or the chip is not blank
  2  usage error (bad option, unknown device)
  3  programmer not connected
  4  device ID mismatch, or no chip in the position
  5  file error (HEX file or trace cannot be read or written)
  6  transfer failure
  7  catalogue missing, or its line for the device unusable
  130  interrupted by Ctrl-C (a write or read is cancelled; an erase, and the write of a
       device with a calibration word, finish first so the chip is left whole)
)";
}
