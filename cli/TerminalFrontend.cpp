// SPDX-License-Identifier: MIT
#include "cli/TerminalFrontend.h"

#include "cli/ProgressBar.h"

#include <algorithm>

namespace {
constexpr int kBarWidth = 30;
}

TerminalFrontend::TerminalFrontend(std::FILE* out, std::FILE* err, ProgressStyle progress)
    : out_(out), err_(err), progress_(progress) {}

TerminalFrontend::~TerminalFrontend() { finishProgress(); }

void TerminalFrontend::clearBar() {
    if (!barDrawn_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    barDrawn_ = false;
}

void TerminalFrontend::printLine(const std::string& text) {
    clearBar();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void TerminalFrontend::printError(const std::string& text) {
    clearBar();
    std::fflush(out_);
    std::fprintf(err_, "%s\n", text.c_str());
    std::fflush(err_);
}

void TerminalFrontend::finishProgress() {
    clearBar();
    lastPercent_ = -1;
}

void TerminalFrontend::showMessage(const std::string& text) {
    messages_.push_back(text);
    printError(text);
}

void TerminalFrontend::setStatusText(const std::string& text) {
    status_ = text;
    lastPercent_ = -1;
    stepStart_ = std::chrono::steady_clock::now();
    printLine(text);
}

void TerminalFrontend::setControls(const ControlStates& states) { controls_ = states; }

void TerminalFrontend::setProgress(int percent) {
    if (progress_ == ProgressStyle::None || percent == lastPercent_) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stepStart_).count();
    if (progress_ == ProgressStyle::Plain) {
        // One line each time a new tenth is reached, however far the step jumps.
        const int tenth = std::clamp(percent, 0, 100) / 10;
        const int lastTenth = lastPercent_ < 0 ? 0 : std::clamp(lastPercent_, 0, 100) / 10;
        lastPercent_ = percent;
        if (tenth <= lastTenth) return;
        std::fprintf(err_, "%s %3d%% %s\n", status_.c_str(), tenth * 10, durationText(elapsed).c_str());
        std::fflush(err_);
        return;
    }
    lastPercent_ = percent;
    std::fprintf(err_, "\r%s", progressBarText(status_, percent, kBarWidth, elapsed).c_str());
    std::fflush(err_);
    barDrawn_ = true;
}

void TerminalFrontend::showVerifyError(const std::string& program, const std::string& eeprom,
                                       const std::string& config) {
    verifyErrorShown_ = true;
    printLine("Verify Error");
    printLine("Program Memorys : " + program);
    printLine("EEPROM Memorys : " + eeprom);
    printLine("Config Word : " + config);
}

bool TerminalFrontend::sawMessage(const std::string& text) const {
    return std::find(messages_.begin(), messages_.end(), text) != messages_.end();
}
