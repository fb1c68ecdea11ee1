// SPDX-License-Identifier: MIT
#include "operations/RepeatRun.h"

#include "operations/SerialFile.h"

#include <chrono>
#include <memory>
#include <utility>

namespace {
using SteadyClock = std::chrono::steady_clock;
}  // namespace

RepeatRun::RepeatRun(ChipStation& station, RepeatSettings settings)
    : station(station), settings(std::move(settings)), nextSerial(this->settings.serialStart) {}

RepeatSummary RepeatRun::run(const MemoryImage& image) {
    RepeatSummary summary;
    std::unique_ptr<SerialFile> serialFile;
    if (settings.writeSerial && !settings.serialFile.empty())
        serialFile = std::make_unique<SerialFile>(settings.serialFile);

    for (int chip = 1; settings.count == 0 || chip <= settings.count; ++chip) {
        if (chip > 1 && !station.nextChipWanted()) break;
        const auto started = SteadyClock::now();

        MemoryImage chipImage = image;
        uint64_t serial = 0;
        std::string serialText;
        if (settings.writeSerial) {
            std::string error;
            if (serialFile) {
                if (!serialFile->take(settings.serialStart, serial, error)) {
                    summary.stoppedOnError = true;
                    summary.error = error;
                    break;
                }
            } else {
                serial = nextSerial;
            }
            // Refused before the chip is touched: a wrapped serial would repeat an earlier one.
            if (!placeSerial(chipImage, settings.serialField, serial, error)) {
                if (serialFile) serialFile->release();
                summary.stoppedOnError = true;
                summary.error = error;
                break;
            }
            serialText = formatSerial(settings.serialField, serial);
        }

        ChipStation::Report report;
        report.chip = chip;
        report.outcome = station.programAndVerify(chipImage);
        station.safeState();
        report.serial = serialText;

        std::string error;
        bool kept = true;
        if (settings.writeSerial) {
            // The number moves on only for a chip that carries it; a failed chip's number is
            // used again by the next chip.
            if (report.outcome.ok) nextSerial = serial + settings.serialStep;
            if (serialFile) {
                kept = report.outcome.ok ? serialFile->advance(serial + settings.serialStep, error)
                                         : (serialFile->release(), true);
            }
        }
        report.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started).count();

        (report.outcome.ok ? summary.ok : summary.failed) += 1;
        if (report.outcome.status > summary.worstStatus) summary.worstStatus = report.outcome.status;
        summary.chipMs.push_back(report.durationMs);

        if (kept && !settings.logFile.empty()) {
            ChipLogEntry entry = settings.logTemplate;
            entry.time = std::chrono::system_clock::now();
            entry.deviceId = report.outcome.deviceId;
            entry.serial = serialText;
            entry.result = report.outcome.result;
            entry.durationMs = report.durationMs;
            kept = appendChipLog(settings.logFile, entry, error);
        }
        station.chipDone(report);
        if (!kept) {
            // A chip whose serial or log line is lost cannot be traced; stop rather than go on.
            summary.stoppedOnError = true;
            summary.error = error;
            break;
        }
    }
    return summary;
}
