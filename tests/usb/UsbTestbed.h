// SPDX-License-Identifier: MIT
#pragma once

#include "tests/usb/EmulatedProgrammer.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

// The emulated USB bus of one test process (umockdev). It must exist before the process's
// first libusb_init, and the process must run with umockdev's preload library linked in, so
// that every sysfs, /dev, netlink and ioctl access of libusb lands here and never on real
// hardware.
class UsbTestbed {
public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    // True when the preload library is active and the testbed is in place.
    bool mocked() const;

    // Where and as what a device is plugged in: port 1 of bus 1 is where the programmer goes
    // back to when re-plugged; a device not shaped like the programmer has a HID interface.
    struct Place {
        int port = 1;
        std::string serial;   // "" none
        bool programmerShaped = true;
    };

    // Plugs in a programmer with this ID at the next device number (as the kernel numbers a
    // re-plugged device afresh) and sends the "add" event.
    EmulatedProgrammer& plug(uint16_t vendorId, uint16_t productId, const Place& place);
    EmulatedProgrammer& plug(uint16_t vendorId, uint16_t productId) { return plug(vendorId, productId, Place{}); }

    // The folder a child process is given as UMOCKDEV_DIR to see this bus.
    std::string rootDir() const;
    // Unplugs it as the kernel does: transfers in flight end, later calls fail, the "remove"
    // event goes out and the device leaves sysfs and /dev.
    void unplug(EmulatedProgrammer& device);
    void unplugAll();

    // Makes the device node unreadable, as for a user without the udev rule.
    void denyAccess(EmulatedProgrammer& device);

private:
    UMockdevTestbed* testbed_ = nullptr;
    int nextDeviceNumber_ = 2;
    std::vector<std::unique_ptr<EmulatedProgrammer>> devices_;
    std::vector<EmulatedProgrammer*> plugged_;
};

// The process's emulated bus, made by main() before anything can call libusb_init.
UsbTestbed& usbTestbed();

inline long long millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

