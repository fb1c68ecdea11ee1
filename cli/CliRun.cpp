// SPDX-License-Identifier: MIT
#include "cli/CliRun.h"

#include "cli/BlankCheck.h"
#include "cli/Detect.h"
#include "cli/ProductionRun.h"
#include "cli/TerminalFrontend.h"
#include "cli/UsbCommands.h"
#include "device/Catalogue.h"
#include "operations/CalibrationJournal.h"
#include "operations/Session.h"
#include "operations/Texts.h"
#include "programmer/TraceDriver.h"
#include "programmer/FastSchedule.h"
#include "settings/DriverFactory.h"
#include "settings/Settings.h"
#include "sim/SimulatedDriver.h"

#include <QSettings>

#include <bit>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

constexpr auto kTick = std::chrono::milliseconds(10);
constexpr int kAttachTicks = 100;   // one second for the programmer to answer its first poll
constexpr double kSimTurnaroundMs = 1.0;

double wallMicroseconds() {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string hex4(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
    return text;
}

}  // namespace

std::vector<std::string> defaultCatalogueDirs() {
    std::vector<std::string> dirs;
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && !self.empty()) dirs.push_back(self.parent_path().string());
    dirs.emplace_back(KORVALIN_INSTALL_DATADIR);
    return dirs;
}

std::string locateCatalogue(const std::vector<std::string>& dirs) {
    for (const std::string& dir : dirs) {
        const std::filesystem::path candidate = std::filesystem::path(dir) / texts::catalogueFileName;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate.string();
    }
    return {};
}

CliRun::CliRun(const CliOptions& options, TerminalFrontend& frontend,
               const volatile std::sig_atomic_t& interrupt)
    : options_(options), frontend_(frontend), interrupt_(interrupt) {}

ExitCode CliRun::run() {
    if (options_.command == CliCommand::CalibrationHistory) return calibrationHistory();
    // The window's store: the CLI follows whatever device and options the window last kept.
    std::unique_ptr<QSettings> store = openSettingsStore(QString::fromLatin1(kWindowApplicationName));
    setLanguage(loadLanguage(*store, options_.lang));
    const RememberedSettings remembered = loadSettings(*store);
    switch (options_.command) {
    case CliCommand::UsbList: return usbList(options_, frontend_, *store);
    case CliCommand::UsbUse: return usbUse(options_, frontend_, *store);
    case CliCommand::UdevRule: return udevRule(options_, frontend_, *store);
    default: break;
    }

    std::string cataloguePath = options_.catalogue;
    if (cataloguePath.empty()) {
        const std::vector<std::string> dirs = defaultCatalogueDirs();
        cataloguePath = locateCatalogue(dirs);
        if (cataloguePath.empty()) {
            frontend_.showMessage(texts::catalogueMissing);
            std::string where;
            for (const std::string& dir : dirs) where += (where.empty() ? "" : ", ") + dir;
            frontend_.printError(std::string("(looked for ") + texts::catalogueFileName + " in " +
                                 where + ")");
            return ExitCode::CatalogueError;
        }
    }
    if (options_.command == CliCommand::List) return listDevices(cataloguePath);

    const bool deviceGiven = options_.device.has_value();
    if (!deviceGiven && remembered.picUnreadable) {
        frontend_.printError("the window's remembered device (PIC in group Settings/Device of " +
                             store->fileName().toStdString() + ") cannot be read; choose one with -d");
        return ExitCode::Usage;
    }
    const std::string deviceName = deviceGiven ? *options_.device : remembered.pic.toStdString();
    const CatalogueLookup lookup = findCatalogueDevice(cataloguePath, deviceName);
    if (!lookup.opened) {
        catalogueUnreadable(cataloguePath, lookup.tooLarge);
        return ExitCode::CatalogueError;
    }
    if (!lookup.found) {
        frontend_.printError("device \"" + deviceName + "\"" +
                             (deviceGiven ? "" : " (the remembered device)") +
                             " is not in the catalogue " + cataloguePath +
                             "; choose one of `list` with -d");
        return ExitCode::Usage;
    }
    if (!lookup.record.valid) {
        frontend_.showMessage(texts::catalogueInvalid);
        frontend_.printError("(" + cataloguePath + ", line of " + deviceName + ": " +
                             lookup.record.invalidReason + ")");
        return ExitCode::CatalogueError;
    }
    // A script that leaves out -d must still be able to tell which chip it programmed.
    if (!deviceGiven) frontend_.printError("Device: " + deviceName + " (remembered by the window)");

    // A word given for a device that has none would be dropped without a trace.
    if (options_.calibration && !lookup.record.hasCalibrationWord) {
        frontend_.printError(deviceName + " has no calibration word; --calibration does not apply");
        return ExitCode::Usage;
    }

    if (options_.verbosity > 0) frontend_.printError("Catalogue: " + cataloguePath);
    DriverChoice choice = chooseDriver(options_.sim, options_.trace, store.get(), options_.usb,
                                       false, options_.verbosity >= 2);
    if (!choice.driver) {
        frontend_.printError(choice.error);
        switch (choice.failure) {
        case DriverFailure::SimSetup:
        case DriverFailure::BadUsbId: return ExitCode::Usage;
        case DriverFailure::Trace: return ExitCode::FileError;
        default: return ExitCode::NotConnected;
        }
    }

    // A simulated chip that cannot be kept would make the next run see a different chip: find
    // out before anything is written to it (an unwritable place, or a file that is no chip
    // image and is left alone).
    if (!keepSimulatedChip(choice)) return ExitCode::FileError;

    ExitCode result = ExitCode::Success;
    {
        Session session(frontend_, choice.driver.get());
        session.catalogPath = cataloguePath;
        session.deviceName = deviceName;
        session.skipDeviceIdCheck = options_.skipDeviceIdCheck.value_or(0);
        session.userIdOff = options_.userIdOff.value_or(0);
        session.protectOff = options_.protectOff.value_or(0);
        if (!session.initialise()) return ExitCode::CatalogueError;
        session.socketMode = !options_.icsp;
        session.programmer.writeUserId = session.userIdOff ? 0 : 1;
        session.calibrationJournal = calibrationJournalPath();
        session.calibrationOverride = options_.calibration;
        if (options_.fast) {
            session.programmer.fastSchedule = fastScheduleFor(deviceName);
            if (!session.programmer.fastSchedule)
                frontend_.printLine("--fast: no checked programming times for " + deviceName +
                                    "; programming by the standard schedule");
        }

        // The file is judged before the programmer hears anything.
        const bool takesFile =
            options_.command == CliCommand::Program || options_.command == CliCommand::Verify;
        if (takesFile && !loadHexFile(session)) return ExitCode::FileError;

        if (!waitForAttach(session, choice)) {
            if (interrupted()) return ExitCode::Interrupted;
            frontend_.showMessage(texts::notConnected);
            if (choice.whyNotOpen) {
                const std::string why = choice.whyNotOpen();
                if (!why.empty()) frontend_.printError("(" + why + ")");
            }
            return ExitCode::NotConnected;
        }

        const double simStart = choice.simulator ? choice.simulator->virtualMicroseconds() : 0.0;
        const uint64_t exchangesStart = choice.simulator ? choice.simulator->exchangeCount() : 0;
        const double wallStart = wallMicroseconds();
        switch (options_.command) {
        case CliCommand::Detect:
            result = detect(session, cataloguePath);
            break;
        case CliCommand::Program:
            if (options_.repeat || options_.watch || options_.writeSerial || !options_.log.empty()) {
                result = production(session, choice);
                break;
            }
            session.onProgramButton();
            result = runChain(session);
            break;
        case CliCommand::Verify:
            session.onVerifyButton();
            result = runChain(session);
            break;
        case CliCommand::Read:
            session.onReadButton();
            result = runChain(session);
            if (result == ExitCode::Success && options_.file == "-") {
                if (!session.writeHexStream(stdout)) return ExitCode::FileError;
            } else if (result == ExitCode::Success) {
                if (!session.saveHexFile(options_.file)) return ExitCode::FileError;
                frontend_.printLine("Saved " + options_.file);
            }
            break;
        case CliCommand::Erase:
            session.onEraseButton();
            result = runChain(session);
            break;
        case CliCommand::BlankCheck:
            session.onReadButton();
            result = runChain(session);
            if (result == ExitCode::Success) result = blankCheck(session);
            break;
        default:
            break;
        }
        if (options_.simStats) printSimStats(choice, session.programmer, deviceName, simStart, exchangesStart, wallStart);
    }
    // The session is gone (worker joined): what the run did to the chip is final now.
    if (!keepSimulatedChip(choice) && result == ExitCode::Success) return ExitCode::FileError;
    if (choice.trace && choice.trace->writeFailed()) {
        frontend_.printError("cannot write the exchange trace to " + choice.traceFile +
                             ": it is incomplete");
        if (result == ExitCode::Success) return ExitCode::FileError;
    }
    return result;
}

ExitCode CliRun::production(Session& session, const DriverChoice& choice) {
    ProductionRun::Hooks hooks;
    hooks.program = [&] {
        // Between chips nothing is polled; a programmer that went away is looked for again.
        if (!session.link.connected && !waitForAttach(session, choice)) {
            frontend_.showMessage(texts::notConnected);
            return ExitCode::NotConnected;
        }
        session.onProgramButton();
        return runChain(session);
    };
    hooks.reload = [&] { return loadHexFile(session); };
    ProductionRun production(options_, frontend_, session, choice.simulator, programmerName(choice),
                             std::move(hooks), interrupt_);
    ExitCode result = production.prepare();
    if (result == ExitCode::Success) result = options_.watch ? production.watch() : production.repeat();
    interruptAnswered_ = production.interruptAnswered();
    return result;
}

void CliRun::catalogueUnreadable(const std::string& cataloguePath, bool tooLarge) {
    frontend_.showMessage(tooLarge ? texts::catalogueInvalid : texts::catalogueMissing);
    frontend_.printError("(" + cataloguePath +
                         (tooLarge ? " is far larger than any device list; not read" : "") + ")");
}

bool CliRun::loadHexFile(Session& session) {
    const bool fromStdin = options_.file == "-";
    const std::string name = fromStdin ? "standard input" : options_.file;
    // Nobody types a HEX file: a terminal here means the pipe was forgotten, not a wait.
    if (fromStdin && isatty(STDIN_FILENO)) {
        frontend_.printError("standard input is a terminal; pipe the HEX file in, as in "
                             "`korvalin-cli program - <FILE.hex`");
        return false;
    }
    if (!(fromStdin ? session.openHexStream(stdin) : session.openHexFile(options_.file))) {
        if (session.hexLoadReport.tooLarge)
            frontend_.printError("(" + name + " is larger than " +
                                 std::to_string(MemoryImage::maxHexFileBytes / (1024 * 1024)) +
                                 " MiB; no HEX file of a PIC is)");
        else
            frontend_.printError("(" + name + ")");
        return false;
    }
    // Stray lines and a missing end record leave the data itself whole; the rest means the
    // file is for another device, or damaged.
    const HexLoadReport& report = session.hexLoadReport;
    std::string faults;
    auto add = [&faults](uint32_t count, const std::string& what) {
        if (count > 0) faults += (faults.empty() ? "" : ", ") + what + ": " + std::to_string(count);
    };
    if (report.bytesInDevice == 0) faults = "no data for " + session.deviceName;
    add(report.bytesOutside, "bytes outside " + session.deviceName);
    add(report.checksumErrors, "checksum errors");
    add(report.cutRecords, "records cut short");
    if (faults.empty()) return true;
    if (options_.force) {
        frontend_.printError(name + ": " + faults + "; used anyway (--force)");
        return true;
    }
    frontend_.printError(name + ": " + faults + "; nothing sent to the programmer (--force " +
                         (options_.command == CliCommand::Program ? "programs" : "verifies") +
                         " it anyway)");
    return false;
}

bool CliRun::keepSimulatedChip(const DriverChoice& choice) {
    if (!choice.simulator || choice.simImageFile.empty()) return true;
    if (!choice.simulator->chipState().present) return true;
    if (choice.simulator->saveImage()) return true;
    const std::string why = choice.simulator->imageError();
    frontend_.printError("cannot keep the simulated chip in " + choice.simImageFile + ": " +
                         (why.empty() ? "it cannot be written" : why));
    return false;
}

ExitCode CliRun::listDevices(const std::string& cataloguePath) {
    const CatalogueNames names = readCatalogueNames(cataloguePath);
    if (!names.opened) {
        catalogueUnreadable(cataloguePath, names.tooLarge);
        return ExitCode::CatalogueError;
    }
    for (const std::string& name : names.names) frontend_.printLine(name);
    return ExitCode::Success;
}

bool CliRun::waitForAttach(Session& session, const DriverChoice& choice) {
    for (int tick = 0; tick < kAttachTicks; ++tick) {
        if (interrupted()) return false;
        session.tick();
        if (session.link.connected) return true;
        // Busy, ambiguous or not chosen at all: waiting would only delay the same answer.
        if (choice.refused && choice.refused()) return false;
        std::this_thread::sleep_for(kTick);
    }
    return false;
}

// A step counts from its start checks to its end.
static Operation runningStep(const Session& session) {
    return session.currentOperation != Operation::None ? session.currentOperation
                                                       : session.startingOperation;
}

void CliRun::reportStep(Operation step, double seconds) {
    if (options_.verbosity == 0 || step == Operation::None) return;
    char time[32];
    std::snprintf(time, sizeof time, ": %.2f s", seconds);
    frontend_.printError(operationStatusText(step) + time);
}

ExitCode CliRun::runChain(Session& session) {
    if (!session.chainRunning()) return startFailure();
    using Clock = std::chrono::steady_clock;
    const Clock::time_point chainStart = Clock::now();
    Operation step = runningStep(session);
    Clock::time_point stepStart = chainStart;
    auto secondsSince = [](Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    bool waitNoticeShown = false;
    while (session.chainRunning()) {
        if (interrupted()) {
            // Only what cannot harm the chip is cancelled: the first step of a Program chain
            // (while its button would read "Cancel") and reads. An erase, a calibration write or
            // the write of a device with a calibration word runs to its end, so the chip never
            // loses its factory calibration half-way.
            // A step whose start checks still run counts as that step; a cancel then gives it
            // up before it touches the chip.
            const Operation running = runningStep(session);
            const bool cancellable = frontend_.programIsCancel() || session.programButtonIsCancel ||
                                     running == Operation::Read || running == Operation::Verify;
            if (cancellable) {
                if (!session.programmer.cancelRequested.load()) session.programmer.requestCancel();
            } else if (!waitNoticeShown) {
                waitNoticeShown = true;
                frontend_.printError("Interrupted: finishing the running steps first, so that "
                                     "the chip is left whole");
            }
        }
        std::this_thread::sleep_for(kTick);
        session.tick();
        if (runningStep(session) != step) {
            reportStep(step, secondsSince(stepStart));
            step = runningStep(session);
            stepStart = Clock::now();
        }
    }
    frontend_.finishProgress();
    if (options_.verbosity > 0) {
        char total[48];
        std::snprintf(total, sizeof total, "All steps: %.2f s", secondsSince(chainStart));
        frontend_.printError(total);
    }
    printCalibrationAdvice(session);
    if (interrupted()) return ExitCode::Interrupted;
    return chainOutcome(session);
}

// What the window would offer in its dialog, the CLI says as the option to give.
void CliRun::printCalibrationAdvice(const Session& session) {
    const std::string journal = session.calibrationJournal;
    if (session.lastChainCalibrationRefused) {
        if (frontend_.sawMessage(texts::calibrationJournalFailed)) {
            frontend_.printError("(calibration journal " + journal + ")");
            return;
        }
        const std::optional<CalibrationRecord> last =
            lastFactoryRecord(readJournal(journal).lines, session.deviceName);
        if (last) {
            char option[40];
            std::snprintf(option, sizeof option, "--calibration %04X,%d", last->word, last->bits);
            frontend_.printError("Nothing was erased. To write the last good calibration known "
                                 "for " + session.deviceName + " (read " + last->time +
                                 ") instead, run again with " + option);
        } else {
            frontend_.printError("Nothing was erased. No good calibration of " +
                                 session.deviceName + " is on record (" + journal +
                                 "); run again with --calibration 34XX,B giving the chip's own "
                                 "word, from its label or an earlier read");
        }
    } else if (session.lastChainCalibrationLost) {
        char option[40];
        const uint16_t mask = session.programmer.calibrationBitsMask;
        const int bits = mask == 0 ? 0 : (session.programmer.savedCalibrationBits & mask) >>
                                             std::countr_zero(mask);
        std::snprintf(option, sizeof option, "--calibration %04X,%d",
                      session.programmer.calibrationValue, bits);
        frontend_.printError(std::string("The chip has lost its calibration. Restore it by "
                                         "running again with ") + option);
    }
}

ExitCode CliRun::calibrationHistory() {
    const std::string journal = calibrationJournalPath();
    const JournalContents contents = readJournal(journal);
    if (!contents.readable) {
        frontend_.printError("cannot read the calibration journal " + journal);
        return ExitCode::FileError;
    }
    bool any = false;
    for (const std::string& line : contents.lines) {
        const std::optional<CalibrationRecord> record = parseJournalLine(line);
        if (options_.device && (!record || record->device != *options_.device)) continue;
        frontend_.printLine(line);
        any = true;
    }
    if (!any)
        frontend_.printError("no calibration read" +
                             (options_.device ? " of " + *options_.device : std::string()) +
                             " is on record in " + journal);
    return ExitCode::Success;
}

// A start that was refused has shown its reason as a message.
ExitCode CliRun::startFailure() const {
    if (frontend_.sawMessage(texts::notConnected)) return ExitCode::NotConnected;
    if (frontend_.sawMessage(texts::socketEmpty) || frontend_.sawMessage(texts::deviceIdMismatch))
        return ExitCode::DeviceMismatch;
    if (frontend_.sawMessage(texts::transferFailed)) return ExitCode::TransferFailure;
    return ExitCode::TransferFailure;
}

ExitCode CliRun::chainOutcome(const Session& session) const {
    if (session.lastChainCalibrationRefused) return ExitCode::CalibrationRefused;
    // Once a step has run, a programmer that goes away has broken a transfer, whether the
    // worker noticed or the next step's start did: the chip may be half-written.
    // The user was told the programmer is not connected, whatever step it vanished in.
    if (frontend_.sawMessage(texts::notConnected)) return ExitCode::NotConnected;
    if (frontend_.sawMessage(texts::transferFailed)) return ExitCode::TransferFailure;
    if (frontend_.sawMessage(texts::socketEmpty) || frontend_.sawMessage(texts::deviceIdMismatch))
        return ExitCode::DeviceMismatch;
    if (frontend_.verifyErrorShown()) return ExitCode::VerifyFailed;
    if (!session.lastChainOk) return ExitCode::TransferFailure;
    return ExitCode::Success;
}

ExitCode CliRun::detect(Session& session, const std::string& cataloguePath) {
    Programmer& programmer = session.programmer;
    if (!programmer.selectSocket(session.socketPins) ||
        (!session.socketMode && !programmer.selectSocket(0))) {
        frontend_.showMessage(texts::transferFailed);
        return ExitCode::TransferFailure;
    }
    // Read once for both the entry sequences and the match: once per name made a large
    // catalogue take quadratic time.
    const CatalogueRecords catalogue = readCatalogueRecords(cataloguePath);
    if (!catalogue.opened) {
        catalogueUnreadable(cataloguePath, catalogue.tooLarge);
        return ExitCode::CatalogueError;
    }
    // The chosen device's entry first, then the catalogue's other entries: a chip that needs
    // VPP before its supply stays silent under the other order and would look absent.
    std::vector<int32_t> sequences{programmer.entrySequence};
    for (int32_t sequence : catalogueEntrySequences(catalogue))
        if (sequence != sequences.front()) sequences.push_back(sequence);
    const int32_t ownSequence = programmer.entrySequence;
    int32_t id = 0x3FFF;
    for (int32_t sequence : sequences) {
        if (interrupted()) break;
        programmer.entrySequence = sequence;
        id = programmer.readDeviceId();
        if (id < 0 || (id & 0x3FFF) != 0x3FFF) break;
    }
    programmer.entrySequence = ownSequence;
    if (interrupted()) return ExitCode::Interrupted;
    if (id < 0) {
        frontend_.showMessage(texts::transferFailed);
        return ExitCode::TransferFailure;
    }
    frontend_.printLine("Device ID: " + hex4(static_cast<uint32_t>(id)));
    if ((id & 0x3FFF) == 0x3FFF) {
        frontend_.showMessage(texts::socketEmpty);
        return ExitCode::DeviceMismatch;
    }
    const DetectResult found = devicesMatchingId(catalogue, static_cast<uint16_t>(id));
    if (found.matches.empty()) {
        frontend_.printError("no catalogue device has device ID " + hex4(static_cast<uint32_t>(id)));
        return ExitCode::DeviceMismatch;
    }
    for (const std::string& name : found.matches) frontend_.printLine(name);
    return ExitCode::Success;
}

ExitCode CliRun::blankCheck(Session& session) {
    const BlankReport report =
        checkBlank(session.programmer, session.configKeepMask, session.hasCalibrationWord);
    for (const std::string& finding : report.findings) frontend_.printLine(finding);
    frontend_.printLine(report.blank ? "Blank" : "Not blank");
    return report.blank ? ExitCode::Success : ExitCode::VerifyFailed;
}

void CliRun::printSimStats(const DriverChoice& choice, const Programmer& programmer,
                           const std::string& deviceName, double startMicroseconds,
                           uint64_t startExchanges, double startWallMicroseconds) {
    if (!choice.simulator) {
        frontend_.printError("sim-stats: no simulated programmer in use");
        return;
    }
    const double measured = (wallMicroseconds() - startWallMicroseconds) / 1000.0;
    const double modelled = (choice.simulator->virtualMicroseconds() - startMicroseconds) / 1000.0;
    const uint64_t exchanges = choice.simulator->exchangeCount() - startExchanges;
    // On its real-time model the simulated programmer also answers each exchange one USB
    // round trip (1 ms) later; that is part of the least time a run can take.
    const double bound = modelled + static_cast<double>(exchanges) * kSimTurnaroundMs;
    char line[160];
    std::snprintf(line, sizeof line,
                  "sim-stats: exchanges %llu, modelled %.3f ms, bound %.3f ms, measured %.3f ms",
                  static_cast<unsigned long long>(exchanges), modelled, bound, measured);
    std::string text = line;
    if (const std::optional<FastSchedule> times = fastScheduleFor(deviceName)) {
        std::snprintf(line, sizeof line, ", floor %.3f ms", programFloorMs(programmer, *times));
        text += line;
    }
    frontend_.printLine(text);
}
