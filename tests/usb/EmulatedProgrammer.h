// SPDX-License-Identifier: MIT
#pragma once

#include "tests/usb/Answerer.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <string>

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// One programmer on the emulated bus, at the usbfs level: the ioctls libusb issues on
// /dev/bus/usb/BBB/DDD are answered here, on umockdev's thread, and the bytes of the two bulk
// endpoints go to an Answerer. An IN transfer the answerer leaves silent stays in flight until
// libusb discards it (its time-out) or the unplug ends it.
//
// Made and unplugged through UsbTestbed; lives as long as the testbed, because libusb may
// still issue ioctls on an unplugged device's open file.
class EmulatedProgrammer {
public:
    EmulatedProgrammer(std::string devnode, std::string syspath, Answerer* answerer);
    ~EmulatedProgrammer();
    EmulatedProgrammer(const EmulatedProgrammer&) = delete;
    EmulatedProgrammer& operator=(const EmulatedProgrammer&) = delete;

    const std::string devnode;
    const std::string syspath;
    UMockdevIoctlBase* handler() const { return handler_; }
    int inFlight() const;   // submitted and not yet reaped

    // Read by the tests on their own thread.
    std::atomic<int> claims{0};
    std::atomic<int> claimAttempts{0};   // refused ones too: a driver that waits retries
    std::atomic<int> releases{0};    // release_interface calls, also those after an unplug
    std::atomic<int> discarded{0};   // IN transfers libusb gave up on
    std::atomic<int> shutDown{0};    // transfers ended by the unplug
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

    mutable std::mutex mutex_;
    Answerer* answerer_ = nullptr;
    bool disconnected_ = false;
    bool claimed_ = false;
    std::deque<Urb> waiting_;      // IN transfers without an answer yet
    std::deque<Urb> completed_;    // ready to reap, oldest first
};
