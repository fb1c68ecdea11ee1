#pragma once

#include "programmer/UsbDriver.h"

#include <cstdint>
#include <memory>
#include <string>

// The real programmer over libusb-1.0: bulk OUT 0x01 is pipe 1, bulk IN 0x81 is pipe 0.
class LibusbDriver : public UsbDriver {
public:
    LibusbDriver(uint16_t vendorId, uint16_t productId);
    ~LibusbDriver() override;

    int openProgrammer() override;
    UsbPipe* openPipe(int handle, int reserved, int index) override;
    int isRemoved(int handle) override;
    void closeProgrammer(int handle) override;

    // Why the last open found a device but could not use it (permissions, busy), or "".
    std::string lastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
