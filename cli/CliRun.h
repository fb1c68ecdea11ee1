// SPDX-License-Identifier: MIT
#pragma once

#include "cli/CliOptions.h"
#include "cli/ExitCode.h"
#include "operations/Operation.h"

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

class Programmer;

class Session;
class TerminalFrontend;
struct DriverChoice;

// One command of korvalin-cli from start to end: settings, catalogue, driver, the session, the
// wait for the programmer, the command itself and the exit status. interrupt is set (to the
// signal number) by the signal handler; the run then cancels what can safely be cancelled.
class CliRun {
public:
    CliRun(const CliOptions& options, TerminalFrontend& frontend,
           const volatile std::sig_atomic_t& interrupt);
    ExitCode run();
    // The interrupt stopped a production run at its prompt: the run's status stands.
    bool interruptAnswered() const { return interruptAnswered_; }

private:
    ExitCode listDevices(const std::string& cataloguePath);
    bool waitForAttach(Session& session, const DriverChoice& choice);
    ExitCode runChain(Session& session);
    void reportStep(Operation step, double seconds);   // -v: a step's name and its time
    ExitCode production(Session& session, const DriverChoice& choice);
    ExitCode chainOutcome(const Session& session) const;
    ExitCode startFailure() const;
    ExitCode detect(Session& session, const std::string& cataloguePath);
    ExitCode blankCheck(Session& session);
    ExitCode calibrationHistory();
    void printCalibrationAdvice(const Session& session);
    bool loadHexFile(Session& session);
    void catalogueUnreadable(const std::string& cataloguePath, bool tooLarge);
    bool keepSimulatedChip(const DriverChoice& choice);
    void printSimStats(const DriverChoice& choice, const Programmer& programmer,
                       const std::string& deviceName, double startMicroseconds,
                       uint64_t startExchanges, double startWallMicroseconds);
    bool interrupted() const { return interrupt_ != 0; }

    const CliOptions& options_;
    TerminalFrontend& frontend_;
    const volatile std::sig_atomic_t& interrupt_;
    bool interruptAnswered_ = false;
};

// Where the catalogue is looked for when none is named: beside the executable, then the
// installed data folder.
std::vector<std::string> defaultCatalogueDirs();
// The first folder holding the catalogue file, as a full path; "" when none does.
std::string locateCatalogue(const std::vector<std::string>& dirs);
