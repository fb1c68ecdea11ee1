// SPDX-License-Identifier: MIT
#include "cli/ProductionRun.h"

#include "cli/TerminalFrontend.h"
#include "operations/FileWatch.h"
#include "operations/Session.h"
#include "settings/DriverFactory.h"
#include "sim/SimulatedDriver.h"

#ifdef KORVALIN_HAVE_USB
#include "programmer/usb/LibusbDriver.h"
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <numeric>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

constexpr const char* kPrompt = "insert the next chip, Enter to program, q to stop";
constexpr int kInputLookMs = 50;   // how often a wait for the operator looks for Ctrl-C

const char* failureText(ExitCode code) {
    switch (code) {
    case ExitCode::VerifyFailed: return "verify failed";
    case ExitCode::NotConnected: return "programmer not connected";
    case ExitCode::DeviceMismatch: return "wrong or no chip";
    case ExitCode::CalibrationRefused: return "calibration refused, nothing erased";
    case ExitCode::Interrupted: return "interrupted";
    default: return "transfer failed";
    }
}

}  // namespace

std::string programmerName(const DriverChoice& choice) {
    if (choice.simulator) return "simulator";
#ifdef KORVALIN_HAVE_USB
    if (!choice.usb) return "";
    const std::string path = choice.usb->devicePath();
    std::vector<UsbCandidate> candidates;
    std::string error;
    if (listUsbCandidates(candidates, error))
        for (const UsbCandidate& candidate : candidates)
            if (candidate.path == path && !candidate.serial.empty()) return candidate.serial;
    return path;
#else
    return "";
#endif
}

ProductionRun::ProductionRun(const CliOptions& options, TerminalFrontend& frontend, Session& session,
                             SimulatedDriver* tray, std::string programmerSerial, Hooks hooks,
                             const volatile std::sig_atomic_t& interrupt)
    : options_(options), frontend_(frontend), session_(session), tray_(tray),
      programmerSerial_(std::move(programmerSerial)), hooks_(std::move(hooks)), interrupt_(interrupt),
      nextSerial_(options.serialStart) {}

RepeatSettings ProductionRun::settings() const {
    RepeatSettings s;
    s.count = options_.repeat ? options_.count : 1;
    s.writeSerial = options_.writeSerial;
    s.serialField = options_.serialField;
    s.serialStart = nextSerial_;
    s.serialStep = options_.serialStep;
    s.serialFile = options_.serialFile;
    s.logFile = options_.log;
    s.logTemplate.programmerSerial = programmerSerial_;
    s.logTemplate.device = session_.deviceName;
    s.logTemplate.file = options_.file;
    s.logTemplate.sha256 = digest_;
    return s;
}

// The digest is of the file's bytes as read just after the image was loaded from it.
bool ProductionRun::readFileDigest() {
    std::ifstream in(options_.file, std::ios::binary);
    std::string bytes;
    bytes.reserve(MemoryImage::maxHexFileBytes);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
        frontend_.printError("cannot read " + options_.file + " again for its SHA-256");
        return false;
    }
    digest_ = sha256Hex(bytes);
    return true;
}

ExitCode ProductionRun::prepare() {
    if (options_.writeSerial) {
        // With a serial file the first number is not known yet; the field is checked for fit
        // in the image all the same, and the number before each chip.
        MemoryImage trial = session_.image;
        std::string error;
        if (!placeSerial(trial, options_.serialField, options_.serialFile.empty() ? options_.serialStart : 0, error)) {
            frontend_.printError(error + "; no chip was touched");
            return ExitCode::Usage;
        }
    }
    if (!options_.log.empty()) {
        // Found out now rather than after the first chip, which could then not be traced.
        const int fd = ::open(options_.log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
        if (fd < 0) {
            frontend_.printError("cannot open the log " + options_.log + ": " + std::strerror(errno) +
                                 "; no chip was touched");
            return ExitCode::FileError;
        }
        ::close(fd);
    }
    return readFileDigest() ? ExitCode::Success : ExitCode::FileError;
}

ChipStation::Outcome ProductionRun::programAndVerify(const MemoryImage& image) {
    frontend_.forgetOutcome();
    session_.image = image;
    session_.programmer.deviceId = 0xFFFF;   // nothing read yet from this chip
    const ExitCode code = hooks_.program();
    Outcome outcome;
    outcome.ok = code == ExitCode::Success;
    outcome.status = exitStatus(code);
    outcome.deviceId = session_.programmer.deviceId == 0xFFFF ? -1 : session_.programmer.deviceId;
    outcome.result = outcome.ok ? "OK" : failureText(code);
    return outcome;
}

void ProductionRun::safeState() {
    if (!session_.programmer.resetOutputs())
        frontend_.printError("the programmer did not confirm its outputs off: check the chip is "
                             "not powered before taking it out");
}

bool ProductionRun::readAnswer(std::string& line) {
    line.clear();
    for (;;) {
        if (interrupted()) return false;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, kInputLookMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (c == '\n') return true;
        line += c;
    }
}

bool ProductionRun::nextChipWanted() {
    if (interrupted()) return false;
    for (;;) {
        frontend_.printError(kPrompt);
        std::string answer;
        if (!readAnswer(answer)) {
            interruptAnswered_ = interrupted();
            return false;
        }
        answer.erase(std::remove_if(answer.begin(), answer.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; }),
                     answer.end());
        if (answer == "q" || answer == "Q") return false;
        // Anything but a plain Enter may be a slip of the hand: ask again rather than guess.
        if (answer.empty()) break;
    }
    if (tray_ && !tray_->nextTrayChip()) {
        frontend_.printError("the simulator's tray has no more chips");
        return false;
    }
    return true;
}

void ProductionRun::chipDone(const Report& report) {
    // Serials go on from one run of the watch to the next, as from chip to chip.
    uint64_t written = 0;
    if (report.outcome.ok && parseSerialNumber(report.serial, written)) nextSerial_ = written + options_.serialStep;
    const std::string result = report.outcome.ok ? "OK" : "FAILED (" + report.outcome.result + ")";
    const std::string serial = report.serial.empty() ? "" : ", serial " + report.serial;
    const std::string ms = std::to_string(report.durationMs) + " ms";
    if (watching_)
        frontend_.printLine(isoTime(std::chrono::system_clock::now()) + " " + options_.file + ": " + result + serial +
                            ", " + ms);
    else
        frontend_.printLine("Chip " + std::to_string(report.chip) + ": " + result + serial + ", " + ms);
}

ExitCode ProductionRun::runStatus(const RepeatSummary& summary) {
    int status = summary.worstStatus;
    if (summary.stoppedOnError) {
        frontend_.printError(summary.error + "; the run stops here");
        status = std::max(status, exitStatus(ExitCode::FileError));
    }
    return static_cast<ExitCode>(status);
}

ExitCode ProductionRun::repeat() {
    // A copy: each chip starts from the file's image, not from what the last chip left in it.
    const MemoryImage loaded = session_.image;
    RepeatRun run(*this, settings());
    const RepeatSummary summary = run.run(loaded);
    if (options_.repeat) {
        const int chips = summary.ok + summary.failed;
        std::string line = "Chips: " + std::to_string(summary.ok) + " OK, " + std::to_string(summary.failed) + " failed";
        if (chips > 0) {
            const auto [fastest, slowest] = std::minmax_element(summary.chipMs.begin(), summary.chipMs.end());
            const int64_t total = std::accumulate(summary.chipMs.begin(), summary.chipMs.end(), int64_t{0});
            line += "; " + std::to_string(total / chips) + " ms per chip (fastest " + std::to_string(*fastest) +
                    ", slowest " + std::to_string(*slowest) + ")";
        }
        frontend_.printLine(line);
    }
    return runStatus(summary);
}

ExitCode ProductionRun::watch() {
    FileWatch fileWatch(options_.file);
    std::string error;
    if (!fileWatch.start(error)) {
        frontend_.printError(error);
        return ExitCode::FileError;
    }
    watching_ = true;
    const auto runOnce = [this] {
        const MemoryImage loaded = session_.image;
        return runStatus(RepeatRun(*this, settings()).run(loaded));
    };
    ExitCode last = runOnce();
    for (;;) {
        // The watch waits on its own thread; this one looks for Ctrl-C, which the watch cannot see.
        std::atomic<bool> stop{false};
        std::atomic<bool> done{false};
        bool changed = false;
        std::thread waiter([&] {
            changed = fileWatch.waitForChange(stop);
            done = true;
        });
        while (!done.load()) {
            if (interrupted()) stop = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        waiter.join();
        if (!changed) break;
        if (!hooks_.reload() || !readFileDigest()) {
            frontend_.printLine(isoTime(std::chrono::system_clock::now()) + " " + options_.file +
                                ": FAILED (file not loaded)");
            last = ExitCode::FileError;
            continue;
        }
        last = runOnce();
    }
    return last;
}
