// SPDX-License-Identifier: MIT
#pragma once

#include "cli/CliOptions.h"
#include "cli/ExitCode.h"
#include "operations/RepeatRun.h"

#include <csignal>
#include <functional>
#include <string>

class Session;
class SimulatedDriver;
class TerminalFrontend;
struct DriverChoice;

// program with --repeat, --serial, --log or --watch: the terminal as the bench of a production
// run (prompts on standard error, the operator's answers on standard input, so that a script
// can drive it), and the loop that programs again whenever the file changes.
class ProductionRun : public ChipStation {
public:
    struct Hooks {
        std::function<ExitCode()> program;   // Program of session.image, through its verify
        std::function<bool()> reload;        // the file loaded into the session again
    };
    // tray: the simulator whose tray gives a fresh chip for each answer; null for a real bench.
    ProductionRun(const CliOptions& options, TerminalFrontend& frontend, Session& session,
                  SimulatedDriver* tray, std::string programmerSerial, Hooks hooks,
                  const volatile std::sig_atomic_t& interrupt);

    // Checks what can be checked before a chip is touched (the serial fits its field, the log
    // can be written); Usage or FileError with the reason printed, else Success.
    ExitCode prepare();
    // Chip after chip (one without --repeat), then the summary; the worst chip's status.
    ExitCode repeat();
    // Programs now and after every settled change of the file, until Ctrl-C.
    ExitCode watch();
    // Ctrl-C came while the run waited for the operator: a stop, not a broken chip.
    bool interruptAnswered() const { return interruptAnswered_; }

    Outcome programAndVerify(const MemoryImage& image) override;
    void safeState() override;
    bool nextChipWanted() override;
    void chipDone(const Report& report) override;

private:
    RepeatSettings settings() const;
    bool readFileDigest();
    bool interrupted() const { return interrupt_ != 0; }
    // One line from standard input; false at its end or on Ctrl-C.
    bool readAnswer(std::string& line);
    ExitCode runStatus(const RepeatSummary& summary);

    const CliOptions& options_;
    TerminalFrontend& frontend_;
    Session& session_;
    SimulatedDriver* tray_;
    std::string programmerSerial_;
    Hooks hooks_;
    const volatile std::sig_atomic_t& interrupt_;
    std::string digest_;
    uint64_t nextSerial_;
    bool watching_ = false;
    bool interruptAnswered_ = false;
};

// What the log calls the programmer: its USB serial number (else its bus-port path), or
// "simulator".
std::string programmerName(const DriverChoice& choice);
