#pragma once

#include "programmer/UsbDriver.h"

#include <cstdint>
#include <memory>
#include <string>

// The real programmer over libusb-1.0: bulk OUT 0x01 is pipe 1, bulk IN 0x81 is pipe 0, on
// interface 0 of the first device with the given vendor and product ID.
//
// Finding it costs next to nothing while none is plugged in: where libusb reports hot-plug
// events the driver only looks at arrivals (and retries a device that could not be opened at
// most twice a second); elsewhere it scans the bus at most twice a second. The removal test
// answers from the hot-plug "left" event, from a transfer that found the device gone, or (with
// no hot-plug support) from the same slow scan. Once the device is known to be gone every pipe
// call fails at once.
//
// Threads: openProgrammer, isRemoved, closeProgrammer and lastError on the front end's thread;
// the two pipes from one other thread at a time, also while isRemoved runs.
class LibusbDriver : public UsbDriver {
public:
    // useHotplug false makes it scan even where libusb has hot-plug events (for tests).
    LibusbDriver(uint16_t vendorId, uint16_t productId, bool useHotplug = true);
    ~LibusbDriver() override;
    LibusbDriver(const LibusbDriver&) = delete;
    LibusbDriver& operator=(const LibusbDriver&) = delete;

    int openProgrammer() override;
    UsbPipe* openPipe(int handle, int reserved, int index) override;
    int isRemoved(int handle) override;
    void closeProgrammer(int handle) override;   // releases interface and handle once

    // Why the last open found a device but could not use it (permissions, busy), or why USB
    // is not usable at all; "" once a device has been opened or none is plugged in.
    std::string lastError() const;

    // Whether libusb delivers hot-plug events here (otherwise the driver scans).
    bool usesHotplug() const;

    // How often the bus has been scanned for the programmer; a figure for tests and benches.
    uint64_t scanCount() const;

    static constexpr unsigned char kOutEndpoint = 0x01;
    static constexpr unsigned char kInEndpoint = 0x81;
    static constexpr int kInterface = 0;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
