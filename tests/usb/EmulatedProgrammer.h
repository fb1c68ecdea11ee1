// SPDX-License-Identifier: MIT
#pragma once

#include "programmer/UsbDriver.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// One programmer on the emulated bus, at the usbfs level: the ioctls libusb issues on
// /dev/bus/usb/BBB/DDD are answered here, on umockdev's thread and never blocking. Reads of IN
// 0x81 are answered from a queue of canned answers; with the queue empty, from the pipes it
// forwards to (the simulated programmer and its chip), else with eight zero bytes. A read left
// silent stays in flight, as with a programmer that stalls, until libusb discards it (its
// time-out) or the unplug ends it.
//
// Made and unplugged through UsbTestbed; lives as long as the testbed, because libusb may
// still issue ioctls on an unplugged device's open file.
class EmulatedProgrammer {
public:
    using Bytes = std::vector<uint8_t>;

    EmulatedProgrammer(std::string devnode, std::string syspath);
    ~EmulatedProgrammer();
    EmulatedProgrammer(const EmulatedProgrammer&) = delete;
    EmulatedProgrammer& operator=(const EmulatedProgrammer&) = delete;

    const std::string devnode;
    const std::string syspath;
    UMockdevIoctlBase* handler() const { return handler_; }

    void queueAnswer(Bytes answer);
    void queueSilence();
    void forwardTo(UsbPipe* out, UsbPipe* in);

    // Read by the tests on their own thread.
    std::atomic<int> claims{0};
    std::atomic<int> claimAttempts{0};   // refused ones too: a driver that waits retries
    std::atomic<int> releases{0};    // release_interface calls, also those after an unplug
    std::atomic<int> discarded{0};   // IN transfers libusb gave up on
    std::atomic<int> shutDown{0};    // transfers ended by the unplug
    std::atomic<int> silentReads{0}; // IN transfers left without an answer
    std::atomic<int> claimError{0};  // claim_interface fails with this errno (0: succeeds)

    // The first half of an unplug, as the kernel does it: transfers in flight end with
    // ESHUTDOWN and every later ioctl fails with ENODEV. UsbTestbed then removes the device.
    void disconnect();

private:
    struct Urb {
        UMockdevIoctlData* urb = nullptr;      // our reference to the resolved usbdevfs_urb
        UMockdevIoctlData* buffer = nullptr;   // and to its data buffer
        unsigned long clientAddress = 0;
    };

    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    void handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    static void finish(Urb& urb, int status, int actualLength);
    static void release(Urb& urb);

    UMockdevIoctlBase* handler_ = nullptr;
    unsigned long signalId_ = 0;

    struct Answer {
        bool silent;
        Bytes bytes;
    };

    mutable std::mutex mutex_;
    std::deque<Answer> answers_;
    UsbPipe* forwardOut_ = nullptr;
    UsbPipe* forwardIn_ = nullptr;
    bool disconnected_ = false;
    bool claimed_ = false;
    std::deque<Urb> waiting_;      // IN transfers without an answer yet
    std::deque<Urb> completed_;    // ready to reap, oldest first
};
