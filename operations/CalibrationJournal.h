// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One calibration read, as the journal keeps it: one line per read,
//   2026-12-07T00:31:05Z PIC12F675 0FC3 3450 2
// the UTC time, the device name, the device ID read at the start check ("----" when the check
// was off), the calibration word and the band-gap bits (0..3), separated by single spaces.
struct CalibrationRecord {
    std::string time;
    std::string device;
    std::string deviceId;
    uint16_t word = 0x3FFF;
    int bits = 3;
};

// A factory calibration word is a RETLW k instruction (0x34kk). A protected chip reads 0000,
// an erased one 3FFF: writing either back would leave the oscillator uncalibrated for good.
bool isFactoryCalibration(uint16_t word);

// $XDG_STATE_HOME/korvalin-loader/calibration.log, or the same under ~/.local/state; "" when
// neither variable gives an absolute folder.
std::string calibrationJournalPath();

std::string journalLine(const CalibrationRecord& record);
std::optional<CalibrationRecord> parseJournalLine(const std::string& line);
std::string journalTimeNow();

// Appends one line under an exclusive lock and has it on the disk before returning: the erase
// that may follow must never run ahead of the record. Creates the folder when missing.
bool appendToJournal(const std::string& path, const CalibrationRecord& record);

// The lines of the journal as they stand; an absent journal is empty, not a failure.
struct JournalContents {
    bool readable = true;
    std::vector<std::string> lines;
};
JournalContents readJournal(const std::string& path);

// The last factory word recorded for that device.
std::optional<CalibrationRecord> lastFactoryRecord(const std::vector<std::string>& lines,
                                                   const std::string& device);
