// SPDX-License-Identifier: MIT
#pragma once

#include "SimConfig.h"
#include "sim/SimChipState.h"
#include "sim/SimFirmware.h"
#include "programmer/UsbDriver.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The built-in programmer: firmware (scripts, outputs, waits on a virtual clock) and a PIC16
// mid-range chip model behind it, exposed as an ordinary UsbDriver.
//
// Pipes: every write runs one script at once and leaves its answer; the next read returns that
// answer, exactly as long as requested (zero-padded, or cut). A read with no script before it
// blocks until its time-out and fails, like a device that has nothing to say. Pipe objects live
// as long as the driver, so a worker still holding one after a close only sees failures.
class SimulatedDriver : public UsbDriver {
public:
    explicit SimulatedDriver(SimConfig config = {});
    ~SimulatedDriver() override;

    int openProgrammer() override;
    UsbPipe* openPipe(int handle, int reserved, int index) override;
    int isRemoved(int handle) override;
    void closeProgrammer(int handle) override;

    // Control for tests and demonstrations; safe to call from any thread.
    void plug();
    void unplug();
    bool insertChip(const std::string& device, SimPosition position = SimPosition::Auto);
    void removeChip();
    bool setChipState(const SimChipState& state);   // e.g. a code-protected chip
    SimChipState chipState() const;
    void setFaults(const SimFaults& faults);
    // Takes the chip out of the position and puts the tray's next fresh chip in; false (and an
    // empty position) once every chip of the tray has had its turn, or without a tray.
    bool nextTrayChip();
    uint64_t exchangeCount() const;
    uint64_t closeCount() const;                   // how often closeProgrammer ran
    double virtualMicroseconds() const;            // modelled time spent so far
    bool saveImage() const;                         // writes imageFile now (also on destruction)
    // Why the image file given in the setup is left alone ("" when it is kept): in use by
    // another process, read-only, another chip's, or no chip image at all.
    std::string imageError() const;

    // What a test can check about the host's behaviour.
    uint64_t malformedScriptCount() const;  // unknown opcode or code, truncated, > 64 bytes
    uint64_t protocolErrorCount() const;    // answer left unread, read without a script, or an
                                            // answer longer than the length read
    SimOutputs outputs() const;
    bool chipInProgrammingMode() const;
    bool chipRefusedEntry() const;          // VDD came first on a chip that needs VPP first

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
