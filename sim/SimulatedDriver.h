#pragma once

#include "SimConfig.h"
#include "programmer/UsbDriver.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A snapshot of the simulated chip's memories, for tests and demonstrations.
struct SimChipState {
    bool present = false;
    std::string device;
    std::vector<uint16_t> programWords;
    std::vector<uint8_t> eepromBytes;
    uint16_t userIds[4] = {0x3FFF, 0x3FFF, 0x3FFF, 0x3FFF};
    uint16_t configWord = 0x3FFF;
    uint16_t configWord2 = 0x3FFF;
    uint16_t deviceIdWord = 0x3FFF;     // ID with revision bits, as the chip answers it
    uint16_t factoryCalibrationWord = 0; // the OSCCAL word the chip left the factory with
    uint16_t factoryCalibrationBits = 0; // the BG bits it left the factory with
};

// The built-in programmer: firmware (scripts, outputs, waits on a virtual clock) and a PIC16
// mid-range chip model behind it, exposed as an ordinary UsbDriver.
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
    uint64_t exchangeCount() const;
    uint64_t closeCount() const;                   // how often closeProgrammer ran
    double virtualMicroseconds() const;            // modelled time spent so far
    bool saveImage() const;                         // writes imageFile now (also on destruction)

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
