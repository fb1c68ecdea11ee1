// SPDX-License-Identifier: MIT
#pragma once

#include "device/MemoryImage.h"
#include "operations/ChipLog.h"
#include "operations/SerialNumber.h"

#include <cstdint>
#include <string>
#include <vector>

// The bench a production run drives: the programmer with its chip, and the operator.
class ChipStation {
public:
    struct Outcome {
        bool ok = false;          // programmed and verified
        int status = 0;           // the exit status this chip alone would give; 0 when ok
        int32_t deviceId = -1;    // as read; < 0 when none was read
        std::string result;       // for the log and the result line, e.g. "OK" or why it failed
    };
    struct Report {
        int chip = 0;             // from 1
        Outcome outcome;
        std::string serial;       // as written; empty when none
        int64_t durationMs = 0;
    };

    virtual ~ChipStation() = default;
    virtual Outcome programAndVerify(const MemoryImage& image) = 0;
    // Every output off: the operator's hands go into the socket next.
    virtual void safeState() = 0;
    // Prompts and waits for the operator; false for "stop" (q, end of input, Ctrl-C).
    virtual bool nextChipWanted() = 0;
    virtual void chipDone(const Report& report) = 0;
};

struct RepeatSettings {
    int count = 0;                // chips at most; 0: until the operator stops
    bool writeSerial = false;
    SerialField serialField;
    uint64_t serialStart = 0;
    uint64_t serialStep = 1;
    std::string serialFile;       // keeps the next serial between runs when not empty
    std::string logFile;          // one CSV line per chip when not empty
    ChipLogEntry logTemplate;     // programmer serial, device, file and digest of every line
};

struct RepeatSummary {
    int ok = 0;
    int failed = 0;
    int worstStatus = 0;          // the highest chip status
    std::vector<int64_t> chipMs;
    // The run stopped before a chip was touched, or after one could not be logged; the chip
    // counts above hold every chip before it.
    bool stoppedOnError = false;
    std::string error;
};

// Programs chip after chip: each chip gets the image with its serial, is programmed and
// verified, the outputs go safe, the chip is logged, and only then is the operator asked for
// the next. A failed chip is counted and the run goes on; its serial goes to the next chip.
class RepeatRun {
public:
    RepeatRun(ChipStation& station, RepeatSettings settings);
    RepeatSummary run(const MemoryImage& image);

private:
    ChipStation& station;
    RepeatSettings settings;
    uint64_t nextSerial = 0;
};
