#pragma once

#include "tests/usb/Answerer.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// One programmer on the emulated bus, at the usbfs level: the ioctls libusb issues on
// /dev/bus/usb/BBB/DDD are answered here, on umockdev's thread, and the bytes of the two bulk
// endpoints go to an Answerer. Nothing here blocks: an IN transfer the answerer leaves
// unanswered stays in flight until libusb discards it (its time-out).
//
// Made and unplugged through UsbTestbed; lives as long as the testbed, because libusb may
// still issue ioctls on an unplugged device's open file.
class EmulatedProgrammer {
public:
    EmulatedProgrammer(std::string devnode, std::string syspath);
    ~EmulatedProgrammer();
    EmulatedProgrammer(const EmulatedProgrammer&) = delete;
    EmulatedProgrammer& operator=(const EmulatedProgrammer&) = delete;

    const std::string& devnode() const { return devnode_; }
    const std::string& syspath() const { return syspath_; }
    UMockdevIoctlBase* handler() const { return handler_; }

    // Counters for the tests, read on the test's thread.
    int claims() const;
    int releases() const;        // release_interface calls, also those after an unplug
    int discarded() const;       // IN transfers libusb gave up on
    int inFlight() const;        // submitted and not yet reaped
    int shutDown() const;        // transfers ended by the unplug

    // claim_interface fails with this errno (0: succeeds).
    void setClaimError(int error);

    // The first half of an unplug, as the kernel does it: transfers in flight end with
    // ESHUTDOWN and every later ioctl fails with ENODEV. UsbTestbed then removes the device.
    void disconnect();
    // The answerer is gone: transfers fail from now on.
    void detachAnswerer();
    void setAnswerer(Answerer* answerer);

private:
    struct Urb {
        UMockdevIoctlData* urb = nullptr;      // our reference to the resolved usbdevfs_urb
        UMockdevIoctlData* buffer = nullptr;   // and to its data buffer
        unsigned long clientAddress = 0;
    };

    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    static void finish(Urb& urb, int status, int actualLength);
    static void release(Urb& urb);

    const std::string devnode_;
    const std::string syspath_;
    UMockdevIoctlBase* handler_ = nullptr;
    unsigned long signalId_ = 0;

    mutable std::mutex mutex_;
    Answerer* answerer_ = nullptr;
    bool disconnected_ = false;
    int claimError_ = 0;
    std::deque<Urb> waiting_;      // IN transfers without an answer yet
    std::deque<Urb> completed_;    // ready to reap, oldest first
    int claims_ = 0;
    int releases_ = 0;
    int discarded_ = 0;
    int shutDown_ = 0;
};
