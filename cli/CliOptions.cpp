// SPDX-License-Identifier: MIT
#include "cli/CliOptions.h"

#include "device/HexNumber.h"
#include "operations/CalibrationJournal.h"
#include "settings/Settings.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

namespace {

enum class Operand { None, File, OptionalFile, UsbId, OptionalUsbId };

struct CommandInfo {
    const char* name;
    CliCommand command;
    Operand operand;
};

constexpr std::array<CommandInfo, 12> kCommands{{
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
    {"check-catalogue", CliCommand::CheckCatalogue, Operand::OptionalFile},
}};

const CommandInfo* findCommand(std::string_view name) {
    for (const CommandInfo& info : kCommands)
        if (name == info.name) return &info;
    return nullptr;
}

constexpr std::array<std::pair<const char*, ProgressStyle>, 3> kProgressStyles{{
    {"bar", ProgressStyle::Bar},
    {"plain", ProgressStyle::Plain},
    {"none", ProgressStyle::None},
}};

// An option that means something to one command only is refused elsewhere rather than
// silently ignored.
struct CommandOption {
    const char* name;
    CliCommand command;
};

constexpr std::array<CommandOption, 8> kCommandOptions{{
    {"--probe", CliCommand::UsbList},
    {"--group", CliCommand::UdevRule},
    {"--repeat", CliCommand::Program},
    {"--count", CliCommand::Program},
    {"--serial-retlw", CliCommand::Program},
    {"--serial-file", CliCommand::Program},
    {"--log", CliCommand::Program},
    {"--watch", CliCommand::Program},
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
    uint64_t value = 0;
    if (word.size() != 4 || !parseHexNumber(word, 0xFFFF, value)) return std::nullopt;
    CalibrationChoice choice;
    choice.word = static_cast<uint16_t>(value);
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

// Takes an option's value into the options; "" when it is good, else why it is refused.
using TakeValue = std::function<std::string(const std::string&)>;
using TakeFlag = std::function<void(int count)>;

std::string needs(const std::string& value, const char* refusal) {
    return value.empty() ? refusal : "";
}

// The parser and --help are built from the one list below, so that an option is added, and
// documented, by one entry. Texts are broken into lines as --help shows them.
class OptionTable {
public:
    OptionTable(CLI::App& app, std::string& refusal) : app_(app), refusal_(refusal) {}

    void value(const char* names, const char* placeholder, const char* help, TakeValue take) {
        std::string& refusal = refusal_;
        app_.add_option(names)
            ->description(help)
            ->option_text(placeholder)
            ->check(CLI::Validator(
                [take, &refusal](std::string& text) {
                    std::string why = take(text);
                    if (!why.empty() && refusal.empty()) refusal = why;
                    return why;
                },
                "", ""));
    }
    CLI::Option* flag(const char* names, const char* help, TakeFlag take) {
        return app_
            .add_flag_function(names, [take](std::int64_t count) { take(static_cast<int>(count)); }, help)
            ->disable_flag_override();
    }
    // For benches: accepted, not listed by --help.
    void hiddenFlag(const char* names, TakeFlag take) { flag(names, "", std::move(take))->group(""); }

private:
    CLI::App& app_;
    std::string& refusal_;
};

void defineOptions(CLI::App& app, CliOptions& o, std::string& refusal) {
    OptionTable t(app, refusal);
    t.value("-d,--device", "NAME",
            "catalogue device (default: the device remembered by the window,\n"
            "named on standard error)",
            [&o](const std::string& v) {
                o.device = v;
                return needs(v, "the device name given to -d, --device is empty");
            });
    t.value("--catalogue", "FILE",
            "catalogue (default: PicDeviceList.txt beside the executable, then in\n"
            "the installed data folder)",
            [&o](const std::string& v) { o.catalogue = v; return needs(v, "--catalogue needs a file"); });
    t.value("--calibration", "HHHH[,B]",
            "write this calibration word (a RETLW, 34xx) and band-gap bits B (0-3;\n"
            "default: the chip's) instead of what is read from the chip",
            [&o](const std::string& v) {
                o.calibration = parseCalibration(v);
                if (o.calibration) return std::string();
                return "--calibration takes HHHH[,B]: a factory calibration word, RETLW 34xx, and "
                       "band-gap bits 0 to 3; not \"" + v + "\"";
            });
    t.flag("--icsp", "reach the chip over the ICSP cable instead of the device's socket",
           [&o](int) { o.icsp = true; });
    t.flag("--skip-id-check", "do not check the device ID before each operation",
           [&o](int) { o.skipDeviceIdCheck = 1; });
    t.flag("--no-user-id", "neither write nor verify the user ID", [&o](int) { o.userIdOff = 1; });
    t.flag("--protect-off",
           "force the code-protect bits of a loaded file to \"unprotected\"\n"
           "(without them: the ID is checked, the user ID written and verified,\n"
           "the file's protection kept, whatever the window remembers)",
           [&o](int) { o.protectOff = 1; });
    t.value("--sim", "SETUP",
            "use the simulated programmer:\n"
            "  CHIP|empty[,image=FILE][,clock=N][,unplug-after=N][,stall-after=N]\n"
            "  [,noprogram=ADDR][,tray=N[,tray-fail=K]]\n"
            "CHIP is the chip in the position its package fits (empty: none);\n"
            "image keeps the chip's memories in FILE between runs; unplug-after and\n"
            "stall-after make the programmer vanish or stop answering after N\n"
            "exchanges; noprogram is a word address (hex) whose writes do not take.\n"
            "Faults and test benches: short-after=N and flip-after=N (answers cut\n"
            "short or with a flipped bit after N exchanges, seed=N chooses which),\n"
            "slow (a chip at its data-sheet maximum times) or slow=F (F times its\n"
            "usual times), identity=HEX (what the programmer answers to its\n"
            "identity query), unplugged (no programmer attached),\n"
            "position=auto|socket8|socket28|icsp (where the chip sits), realtime\n"
            "(waits take real time), tray=N[,tray-fail=K] (a fresh chip for each of\n"
            "the N chips of --repeat; chip K will not program).\n"
            "KORVALIN_SIM=SETUP does the same.",
            [&o](const std::string& v) { o.sim = v; return needs(v, "--sim needs a chip name or \"empty\""); });
    t.flag("--fast",
           "program by the chip's own longest programming times and several\n"
           "words per exchange instead of the standard fixed waits (a device\n"
           "without checked times keeps the standard schedule, and says so)",
           [&o](int) { o.fast = true; });
    t.flag("--force",
           "program or verify a HEX file even when it has no data for the\n"
           "device, data outside it, checksum errors or a record cut short\n"
           "(without it such a file is refused with status 5)",
           [&o](int) { o.force = true; });
    t.value("--usb", "WHICH",
            "of several programmers, the one with this serial number or at this\n"
            "bus-port path (as usb-list shows it); KORVALIN_USB=WHICH does the same",
            [&o](const std::string& v) { o.usb = v; return needs(v, "--usb needs a serial number or a bus-port path"); });
    t.flag("--probe",
           "usb-list: also ask each device this user may open who it is (this\n"
           "sends the programmer's identity and clock queries to it)",
           [&o](int) { o.probe = true; });
    t.value("--serial", "S",
            "usb-use: of several programmers of that ID, remember the one with\n"
            "serial number S. program: START[,STEP]: write START, START+STEP, ...\n"
            "(hexadecimal, default 1,1) into each chip's user ID, four hex digits;\n"
            "a number moves on only after its chip has verified",
            [&o](const std::string& v) { o.serial = v; return needs(v, "--serial needs a serial number"); });
    t.value("--serial-retlw", "ADDR,N",
            "program: write the serial into N RETLW words (1-8) at program address\n"
            "ADDR (hexadecimal), low byte first, instead of the user ID",
            [&o](const std::string& v) {
                std::string why;
                return parseSerialRetlw(v, o.serialField, why) ? std::string() : why;
            });
    t.value("--serial-file", "FILE",
            "program: take the next serial from FILE and keep it there (locked, so\n"
            "several benches can share it; a missing file starts at START)",
            [&o](const std::string& v) { o.serialFile = v; return needs(v, "--serial-file needs a file"); });
    t.flag("--repeat",
           "program: after each chip switch every output off and ask on standard\n"
           "error for the next (\"insert the next chip, Enter to program, q to\n"
           "stop\", answered on standard input); a failed chip is counted and the\n"
           "run goes on; q, end of input or Ctrl-C at the prompt ends it with a\n"
           "summary and the status of the worst chip",
           [&o](int) { o.repeat = true; });
    t.value("--count", "N", "with --repeat: N chips at most", [&o](const std::string& v) {
        const auto [end, failed] = std::from_chars(v.data(), v.data() + v.size(), o.count);
        if (failed == std::errc() && end == v.data() + v.size() && o.count >= 1) return std::string();
        return "--count needs a number of chips, 1 or more, not \"" + v + "\"";
    });
    t.value("--log", "FILE",
            "program: append a CSV line per chip to FILE (locked; a new file starts\n"
            "with a header): time, programmer, device, file, SHA-256 of the file as\n"
            "read, device ID, serial, result, milliseconds",
            [&o](const std::string& v) { o.log = v; return needs(v, "--log needs a file"); });
    t.flag("--watch",
           "program: program now, then again each time FILE is rewritten or\n"
           "replaced (once quiet for 300 ms), until Ctrl-C",
           [&o](int) { o.watch = true; });
    t.value("--group", "NAME",
            "udev-rule: also give the group NAME read and write access, for benches\n"
            "reached over SSH or run as a service",
            [&o](const std::string& v) {
                o.group = v;
                if (plainGroupName(v)) return std::string();
                return "--group needs a plain group name (lower-case letters, digits, - and _), not \"" + v + "\"";
            });
    t.value("--trace", "FILE", "write every exchange with the programmer to FILE (also KORVALIN_TRACE)",
            [&o](const std::string& v) { o.trace = v; return needs(v, "--trace needs a file"); });
    t.value("--progress", "MODE",
            "bar: a bar with the time taken and the time left, redrawn in place\n"
            "(the default when stderr is a terminal); plain: a line at every 10%,\n"
            "for logs; none (the default otherwise)",
            [&o](const std::string& v) {
                for (const auto& [name, style] : kProgressStyles)
                    if (v == name) {
                        o.progress = style;
                        return std::string();
                    }
                return "--progress takes bar, plain or none; not \"" + v + "\"";
            });
    t.value("--lang", "LANG",
            "the language of the messages: en or ja (the default; also\n"
            "KORVALIN_LANG=LANG, or the window's own choice)",
            [&o](const std::string& v) {
                o.lang = v;
                if (languageFromName(v)) return std::string();
                return "--lang takes en or ja, not \"" + v + "\"";
            });
    t.flag("-q,--quiet", "no progress (the same as --progress none)", [&o](int) { o.quiet = true; });
    t.flag("-v,--verbose",
           "more detail on stderr: each step with its time; twice (-vv) also\n"
           "libusb's debug log",
           [&o](int count) { o.verbosity = count; });
    t.flag("-h,--help", "this text", [&o](int) { o.help = true; });
    t.flag("--version", "the version and the catalogue in use", [&o](int) { o.version = true; });
    t.hiddenFlag("--sim-stats", [&o](int) { o.simStats = true; });
}

// CLI11 reads "--name=" as "--name" followed by the next argument; an empty value is meant.
std::vector<std::string> withEmptyValues(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (arg == "--") optionsEnded = true;
        if (!optionsEnded && arg.size() > 3 && arg.rfind("--", 0) == 0 && arg.back() == '=' &&
            arg.find('=') == arg.size() - 1) {
            out.push_back(arg.substr(0, arg.size() - 1));
            out.emplace_back();
            continue;
        }
        out.push_back(arg);
    }
    return out;
}

// "-d, --device": every name of the option, as --help shows them.
std::string shownNames(const CLI::Option& option) {
    std::string names = option.get_name(false, true);
    for (std::size_t at = names.find(','); at != std::string::npos; at = names.find(',', at + 2))
        names.replace(at, 1, ", ");
    return names;
}

// CLI11's own texts name the option in its own way; ours say what to do about it.
std::string parseErrorText(const CLI::App& app, const CLI::ParseError& error) {
    const std::string what = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const std::vector<std::string> rest = app.remaining();
        return "unknown option " + (rest.empty() ? what : rest.front());
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        if (what.find("flag override") != std::string::npos)
            return "--" + what.substr(0, what.find(' ')) + " takes no value";
        std::string name = what.substr(0, what.find(':'));
        if (const CLI::Option* option = app.get_option_no_throw(name)) name = shownNames(*option);
        return name + " needs a value";
    }
    return what;
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
    std::string refusal;
    CLI::App app;
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    defineOptions(app, options, refusal);
    app.add_option("operands", positional);
    try {
        std::vector<std::string> reversed = withEmptyValues(args);
        std::reverse(reversed.begin(), reversed.end());   // CLI11 takes them from the back
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        return refuse(refusal.empty() ? parseErrorText(app, error) : refusal);
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
    } else if (info->operand == Operand::OptionalFile && positional.size() > 1) {
        options.file = positional[1];
        expected = 2;
    }
    for (const CommandOption& option : kCommandOptions) {
        const std::string_view n = option.name;
        const bool given = (n == "--probe" && options.probe) || (n == "--group" && !options.group.empty()) ||
                           (n == "--repeat" && options.repeat) || (n == "--count" && options.count > 0) ||
                           (n == "--serial-retlw" && options.serialField.retlw) ||
                           (n == "--serial-file" && !options.serialFile.empty()) ||
                           (n == "--log" && !options.log.empty()) || (n == "--watch" && options.watch);
        if (given && options.command != option.command)
            return refuse(std::string(option.name) + " goes with " + commandName(option.command) + " only");
    }
    // --serial names the board for usb-use and the first number for program.
    if (!options.serial.empty() && options.command != CliCommand::UsbUse) {
        if (options.command != CliCommand::Program) return refuse("--serial goes with program or usb-use only");
        std::string why;
        if (!parseSerialStart(options.serial, options.serialStart, options.serialStep, why)) return refuse(why);
    }
    options.writeSerial = options.command == CliCommand::Program &&
                          (!options.serial.empty() || options.serialField.retlw || !options.serialFile.empty());
    if (options.count > 0 && !options.repeat) return refuse("--count goes with --repeat");
    if (options.watch && options.repeat) return refuse("--watch and --repeat do not go together");
    // The user ID would be neither written nor verified: every chip would carry no serial.
    if (options.writeSerial && !options.serialField.retlw && options.userIdOff)
        return refuse("--serial writes the user ID, which --no-user-id leaves alone; use --serial-retlw");
    if (positional.size() > expected)
        return refuse("unexpected argument \"" + positional[expected] + "\"");

    result.ok = true;
    result.options = options;
    return result;
}

namespace {

// The options' part of --help, in the layout help2man and the bash completion read: names and
// placeholder from column 3, the text from column 22 (on a line of its own after a long name).
std::string optionsHelp() {
    CliOptions ignored;
    std::string refusal;
    CLI::App app;
    app.set_help_flag();
    defineOptions(app, ignored, refusal);
    constexpr std::size_t kTextColumn = 21;
    std::string text;
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_group().empty()) continue;
        std::string line = "  " + shownNames(*option);
        if (!option->get_option_text().empty()) line += " " + option->get_option_text();
        if (line.size() + 2 <= kTextColumn) {
            line.resize(kTextColumn, ' ');
        } else {
            text += line + "\n";
            line.assign(kTextColumn, ' ');
        }
        const std::string& help = option->get_description();
        std::size_t start = 0;
        while (true) {
            const std::size_t end = help.find('\n', start);
            text += line + help.substr(start, end - start) + "\n";
            if (end == std::string::npos) break;
            start = end + 1;
            line.assign(kTextColumn, ' ');
        }
    }
    return text;
}

}  // namespace

std::string usageText(const std::string& program) {
    return "Usage: " + program + R"( [options] COMMAND

Commands:
  list               print the catalogue's device names in file order
  detect             read the chip's device ID and print every catalogue device it matches
  read FILE          read the chip and save it as an Intel HEX file (FILE -: write it to
                     standard output; the status lines then go to stderr)
  program FILE       load FILE, write it to the chip (keeping the chip's oscillator
                     calibration where the device has one), then verify (FILE -: read
                     the HEX file from standard input)
  verify FILE        load FILE and compare the chip with it (FILE -: standard input)
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
  check-catalogue [FILE]
                     check every line of the catalogue (default: the one the other
                     commands use, or --catalogue) and print each problem

Options:
)" + optionsHelp() + R"(
Of the window's remembered settings only the device and the language are read, and they are
never written: a script run does not change what the window remembers (usb-use excepted, which
is there to set it). The real programmer's USB ID comes from KORVALIN_USB_ID=vvvv:pppp, else from
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
  With --repeat: the highest status of its chips; at least 5 when a serial did not fit or
  a serial or log line could not be kept, which stops the run.
  130  interrupted by Ctrl-C (a write or read is cancelled; an erase, and the write of a
       device with a calibration word, finish first so the chip is left whole)
)";
}
