// SPDX-License-Identifier: MIT
#pragma once

#include "sim/SimChip.h"
#include "sim/SimConfig.h"

#include <cstddef>
#include <cstdint>
#include <vector>

enum class SimMclr { Vpp, Reset, Normal };

// The programmer's outputs as the last control codes left them.
struct SimOutputs {
    bool led = false;
    bool dcdc = false;
    SimMclr mclr = SimMclr::Reset;
    SimPosition socket = SimPosition::Icsp;
    bool power5v = false;
};

// The programmer's firmware: runs one command script against its outputs, its virtual clock and
// the chip its selected position reaches, and builds the answer.
//
// Timing: one clock count lasts 16 / clock microseconds. A wait of value v lasts 65536 - v
// counts. Clocking a six-bit ICSP command takes 6 counts, a command with its data frame 24
// (6 + 16 + 2 for the chip's turnaround), a control code 1. The chip sees a command when its six
// bits are in.
class SimFirmware {
public:
    SimFirmware(int clock, uint32_t identity);

    struct Result {
        std::vector<uint8_t> answer; // every read command's two bytes and query answers, in order
        bool malformed = false;      // unknown opcode or code, truncated command, > 64 bytes
        double microseconds = 0;     // modelled time the script took
    };

    // chip may be null (nothing anywhere); chipPosition is where it sits (never Auto).
    Result run(const uint8_t* script, std::size_t length, SimChip* chip, SimPosition chipPosition);
    // Everything off, as when the programmer loses its USB power.
    void powerOff(SimChip* chip, SimPosition chipPosition);
    // Lets a newly inserted or removed chip see the current outputs.
    void applyPins(SimChip* chip, SimPosition chipPosition);

    double microsecondsPerCount() const { return 16.0 / clock; }

    SimOutputs outputs;
    double now = 0; // virtual microseconds
    int clock;
    uint32_t identity;
};
