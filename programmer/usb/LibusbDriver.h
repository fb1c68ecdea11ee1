// SPDX-License-Identifier: MIT
#pragma once

#include "programmer/UsbDriver.h"
#include "programmer/UsbId.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A USB device that can be the programmer: a vendor-specific interface 0 with a bulk OUT
// endpoint 0x01 and a bulk IN endpoint 0x81 of 64 bytes. The strings come from sysfs, so they
// are known also for a device this user may not open.
struct UsbCandidate {
    std::string path;           // bus and ports, "1-1.4": where it is plugged in
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string manufacturer;   // "" where the device has none
    std::string product;
    std::string serial;
    std::string devnode;        // /dev/bus/usb/BBB/DDD
    bool accessible = false;    // this user may open its device node
};

// Which programmer to use. Several plugged in and nothing to tell them apart: refused, unless
// firstOfSeveral (the window, which then shows which one it took).
struct UsbChoice {
    uint16_t vendorId = 0;      // 0:0 nothing configured: never opens anything
    uint16_t productId = 0;
    std::string serial;         // "" any
    std::string pick;           // a serial number or a bus-port path; "" any (wins over serial)
    bool firstOfSeveral = false;
    bool debugLog = false;      // libusb's own debug log on stderr (korvalin-cli -vv)
};

// Every device on the bus shaped like the programmer, in bus order; false with a plain message
// in error when USB cannot be used at all.
bool listUsbCandidates(std::vector<UsbCandidate>& candidates, std::string& error, bool debugLog = false);

// The real programmer over libusb-1.0: bulk OUT 0x01 is pipe 1, bulk IN 0x81 is pipe 0, on
// interface 0 of the device the UsbChoice names.
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
    explicit LibusbDriver(const UsbChoice& choice, bool useHotplug = true);
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

    // Looks for another programmer from now on (front end's thread, no worker running). An
    // open programmer that is not the new choice reads as removed, so the link poll lets it go
    // and then opens the chosen one.
    void choose(const UsbChoice& choice);

    // True when lastError() will not go away by waiting: nothing configured, several
    // programmers and no choice, or the chosen one in use by another program.
    bool refused() const;
    // The chosen programmer is claimed by another program.
    bool busy() const;

    // The bus-port path of the device last opened or refused; "" before.
    std::string devicePath() const;

    // Whether libusb delivers hot-plug events here (otherwise the driver scans).
    bool usesHotplug() const;

    // How often the bus has been scanned for the programmer; a figure for tests and benches.
    uint64_t scanCount() const;

    static constexpr unsigned char kOutEndpoint = 0x01;
    static constexpr unsigned char kInEndpoint = 0x81;
    static constexpr int kInterface = 0;

private:
    void start();   // libusb and the hot-plug watch for the current choice

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
