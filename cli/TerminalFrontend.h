// SPDX-License-Identifier: MIT
#pragma once

#include "cli/CliOptions.h"
#include "operations/Frontend.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// The terminal's view of the session: status texts and results as lines on out, messages on
// err, and the progress on err: a bar redrawn in place, or for logs a line at every 10 %. It also remembers what
// it was shown, so that the command can turn the outcome into an exit status.
class TerminalFrontend : public Frontend {
public:
    TerminalFrontend(std::FILE* out, std::FILE* err, ProgressStyle progress);
    ~TerminalFrontend() override;

    void showMessage(const std::string& text) override;
    void setStatusText(const std::string& text) override;
    void setControls(const ControlStates& states) override;
    void setProgress(int percent) override;
    void showProgramDump(const std::string&) override {}
    void showEepromDump(const std::string&) override {}
    void setFieldText(Field, const std::string&) override {}
    void setGroupCaptions(const std::string&, const std::string&) override {}
    void setDeviceList(const std::vector<std::string>&) override {}
    void setDeviceListSelection(int) override {}
    void showVerifyError(const std::string& program, const std::string& eeprom,
                         const std::string& config) override;
    void beginWaitCursor() override {}
    void endWaitCursor() override {}

    // A line of the command's own, on out or err; the bar is cleared first.
    void printLine(const std::string& text);
    void printError(const std::string& text);
    // Ends the bar's line, if one is drawn.
    void finishProgress();

    // Forgets the messages and verify errors shown so far, so that the next chain's outcome
    // is judged on its own (a production run's chips one after another).
    void forgetOutcome() {
        messages_.clear();
        verifyErrorShown_ = false;
    }
    const std::vector<std::string>& messages() const { return messages_; }
    bool sawMessage(const std::string& text) const;
    bool verifyErrorShown() const { return verifyErrorShown_; }
    bool programIsCancel() const { return controls_.programIsCancel; }
    const std::string& statusText() const { return status_; }

private:
    void clearBar();

    std::FILE* out_;
    std::FILE* err_;
    ProgressStyle progress_;
    bool barDrawn_ = false;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point stepStart_ = std::chrono::steady_clock::now();
    std::string status_;
    ControlStates controls_;
    std::vector<std::string> messages_;
    bool verifyErrorShown_ = false;
};
