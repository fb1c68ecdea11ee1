// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// One chip of a production run, as its log line records it.
struct ChipLogEntry {
    std::chrono::system_clock::time_point time;
    std::string programmerSerial;
    std::string device;
    std::string file;
    std::string sha256;          // of the image written, lower-case hex
    int32_t deviceId = -1;       // as read; < 0 when none was read
    std::string serial;          // as written; empty when the run writes none
    std::string result;
    int64_t durationMs = 0;
};

// SHA-256 of data as 64 lower-case hex digits, the form sha256sum prints.
std::string sha256Hex(std::string_view data);

// Local time with its offset from UTC, to the second: 2026-12-07T09:15:02+01:00.
std::string isoTime(std::chrono::system_clock::time_point time);

// The CSV line of an entry, with its line end; fields that hold a comma, a quote or a line
// end are quoted, so a file name cannot add a column or a line.
std::string chipLogLine(const ChipLogEntry& entry);
std::string_view chipLogHeader();

// Appends one line to the log at path, creating it with the header first. The line goes in
// with one write under an exclusive flock, so several runs can share one log and a reader
// never sees half a line. False with a plain-English error when the log cannot be written.
bool appendChipLog(const std::string& path, const ChipLogEntry& entry, std::string& error);
