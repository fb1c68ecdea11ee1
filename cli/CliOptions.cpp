#include "cli/CliOptions.h"

#include "operations/CalibrationJournal.h"

#include <array>
#include <string_view>
#include <utility>

namespace {

enum class Operand { None, File, UsbId, OptionalUsbId };

struct CommandInfo {
    const char* name;
    CliCommand command;
    Operand operand;
};

constexpr std::array<CommandInfo, 11> kCommands{{
    {"list", CliCommand::List, Operand::None},
    {"detect", CliCommand::Detect, Operand::None},
    {"read", CliCommand::Read, Operand::File},
    {"program", CliCommand::Program, Operand::File},
    {"verify", CliCommand::Verify, Operand::File},
    {"erase", CliCommand::Erase, Operand::None},
    {"blank-check", CliCommand::BlankCheck, Operand::None},
    {"calibration-history", CliCommand::CalibrationHistory, Operand::None},
    {"usb-list", CliCommand::UsbList, Operand::None},
    {"usb-use", CliCommand::UsbUse, Operand::UsbId},
    {"udev-rule", CliCommand::UdevRule, Operand::OptionalUsbId},
}};

const CommandInfo* findCommand(std::string_view name) {
    for (const CommandInfo& info : kCommands)
        if (name == info.name) return &info;
    return nullptr;
}

// An option that means something to one command only is refused elsewhere rather than
// silently ignored.
struct CommandOption {
    const char* name;
    CliCommand command;
};

constexpr std::array<CommandOption, 3> kCommandOptions{{
    {"--probe", CliCommand::UsbList},
    {"--serial", CliCommand::UsbUse},
    {"--group", CliCommand::UdevRule},
}};

// A udev rule is run by root: a group name is taken only in the shape useradd allows, so that
// nothing else can be slipped into the rule.
bool plainGroupName(const std::string& name) {
    if (name.empty() || name.size() > 32) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool letter = (c >= 'a' && c <= 'z') || c == '_';
        const bool other = (c >= '0' && c <= '9') || c == '-';
        if (!letter && !(i > 0 && other)) return false;
    }
    return true;
}

// "HHHH" or "HHHH,B": four hex digits of a RETLW (34xx), then band-gap bits 0..3.
std::optional<CalibrationChoice> parseCalibration(const std::string& text) {
    const std::string word = text.substr(0, text.find(','));
    if (word.size() != 4 || word.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
        return std::nullopt;
    CalibrationChoice choice;
    choice.word = static_cast<uint16_t>(std::stoul(word, nullptr, 16));
    if (!isFactoryCalibration(choice.word)) return std::nullopt;
    if (word.size() < text.size()) {
        const std::string bits = text.substr(word.size() + 1);
        if (bits.size() != 1 || bits[0] < '0' || bits[0] > '3') return std::nullopt;
        choice.bits = bits[0] - '0';
    }
    return choice;
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
        } else if (name == "--calibration") {
            std::string text;
            good = value(text);
            if (good) {
                options.calibration = parseCalibration(text);
                if (!options.calibration)
                    return refuse("--calibration takes HHHH[,B]: a factory calibration word, "
                                  "RETLW 34xx, and band-gap bits 0 to 3; not \"" + text + "\"");
            }
        } else if (name == "--usb") {
            good = value(options.usb);
            if (good && options.usb.empty()) return refuse("--usb needs a serial number or a bus-port path");
        } else if (name == "--probe") {
            good = flag(options.probe, true);
        } else if (name == "--serial") {
            good = value(options.serial);
            if (good && options.serial.empty()) return refuse("--serial needs a serial number");
        } else if (name == "--group") {
            good = value(options.group);
            if (good && !plainGroupName(options.group))
                return refuse("--group needs a plain group name (lower-case letters, digits, - and _), not \"" +
                              options.group + "\"");
        } else if (name == "--icsp") {
            good = flag(options.icsp, true);
        } else if (name == "--skip-id-check") {
            good = flag(options.skipDeviceIdCheck, 1);
        } else if (name == "--no-user-id") {
            good = flag(options.userIdOff, 1);
        } else if (name == "--protect-off") {
            good = flag(options.protectOff, 1);
        } else if (name == "--force") {
            good = flag(options.force, true);
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
    if (info->operand == Operand::File) {
        if (positional.size() < 2) return refuse(std::string(info->name) + " needs a HEX file");
        if (positional[1].empty()) return refuse(std::string(info->name) + " needs a HEX file");
        options.file = positional[1];
        expected = 2;
    } else if (info->operand == Operand::UsbId || (info->operand == Operand::OptionalUsbId && positional.size() > 1)) {
        if (positional.size() < 2 || positional[1].empty())
            return refuse(std::string(info->name) + " needs a USB ID vvvv:pppp");
        options.usbId = positional[1];
        expected = 2;
    }
    for (const CommandOption& option : kCommandOptions) {
        const bool given = (option.command == CliCommand::UsbList && options.probe) ||
                           (option.command == CliCommand::UsbUse && !options.serial.empty()) ||
                           (option.command == CliCommand::UdevRule && !options.group.empty());
        if (given && options.command != option.command)
            return refuse(std::string(option.name) + " goes with " + commandName(option.command) + " only");
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
  calibration-history
                     print the calibration journal: every calibration word and band-gap
                     bits read from a chip (only the device's with -d)
  usb-list           list the USB devices that can be the programmer: place (bus-port),
                     USB ID, strings, whether this user may open it, which one is chosen
  usb-use ID         remember the programmer's USB ID vvvv:pppp (for the window too)
  udev-rule [ID]     print a udev rule that lets the desktop user open the programmer of
                     that ID (default: the remembered one); install it with
                     scripts/install-udev-rule

Options:
  -d, --device NAME  catalogue device (default: the device remembered by the window,
                     named on standard error)
  --catalogue FILE   catalogue (default: PicDeviceList.txt beside the executable, then in
                     the installed data folder)
  --calibration HHHH[,B]
                     write this calibration word (a RETLW, 34xx) and band-gap bits B (0-3;
                     default: the chip's) instead of what is read from the chip
  --icsp             reach the chip over the ICSP cable instead of the device's socket
  --skip-id-check    do not check the device ID before each operation
  --no-user-id       neither write nor verify the user ID
  --protect-off      force the code-protect bits of a loaded file to "unprotected"
                     (without them: the ID is checked, the user ID written and verified,
                     the file's protection kept, whatever the window remembers)
  --sim SETUP        use the simulated programmer:
                       CHIP|empty[,image=FILE][,clock=N][,unplug-after=N][,stall-after=N]
                       [,noprogram=ADDR]
                     CHIP is the chip in the position its package fits (empty: none);
                     image keeps the chip's memories in FILE between runs; unplug-after and
                     stall-after make the programmer vanish or stop answering after N
                     exchanges; noprogram is a word address (hex) whose writes do not take.
                     Faults and test benches: short-after=N and flip-after=N (answers cut
                     short or with a flipped bit after N exchanges, seed=N chooses which),
                     slow (a chip at its data-sheet maximum times) or slow=F (F times its
                     usual times), identity=HEX (what the programmer answers to its
                     identity query), unplugged (no programmer attached),
                     position=auto|socket8|socket28|icsp (where the chip sits), realtime
                     (waits take real time), tray=N[,tray-fail=K] (N chips in turn, chip K
                     will not program).
                     KORVALIN_SIM=SETUP does the same.
  --fast             program by the chip's own longest programming times and several
                     words per exchange instead of the standard fixed waits (a device
                     without checked times keeps the standard schedule, and says so)
  --force            program or verify a HEX file even when it has no data for the
                     device, data outside it, checksum errors or a record cut short
                     (without it such a file is refused with status 5)
  --usb WHICH        of several programmers, the one with this serial number or at this
                     bus-port path (as usb-list shows it); KORVALIN_USB=WHICH does the same
  --probe            usb-list: also ask each device this user may open who it is (this
                     sends the programmer's identity and clock queries to it)
  --serial S         usb-use: of several programmers of that ID, remember the one with
                     serial number S
  --group NAME       udev-rule: also give the group NAME read and write access, for benches
                     reached over SSH or run as a service
  --trace FILE       write every exchange with the programmer to FILE (also KORVALIN_TRACE)
  -q, --quiet        no progress bar (none is drawn either when stderr is not a terminal)
  -h, --help         this text
  --version          the version

Of the window's remembered settings only the device is read, and they are never written: a
script run does not change what the window remembers (usb-use excepted, which is there to set
it). The real programmer's USB ID comes from KORVALIN_USB_ID=vvvv:pppp, else from
VendorId/ProductId in group Settings/Usb of the same settings. With several programmers
plugged in and none chosen (--usb, KORVALIN_USB, or Serial in Settings/Usb) none is opened.

Every calibration read is appended to $XDG_STATE_HOME/korvalin-loader/calibration.log
(default ~/.local/state/korvalin-loader/) before anything is erased.

Exit status:
  0  success
  1  verify found a difference, or the chip is not blank
  2  usage error (bad option, unknown device, malformed setting)
  3  programmer not connected
  4  device ID mismatch, or no chip in the position
  5  file error (HEX file or trace cannot be read or written, or the HEX file looks
     wrong for the device; see --force)
  6  transfer failure
  7  catalogue missing, or its line for the device unusable
  8  calibration word missing or not a factory value; nothing was erased
  130  interrupted by Ctrl-C (a write or read is cancelled; an erase, and the write of a
       device with a calibration word, finish first so the chip is left whole)
)";
}
