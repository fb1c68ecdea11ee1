// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

// One byte pipe of the programmer. Both calls are synchronous and bounded by timeoutMs; they
// return the number of bytes transferred, or -1 on any failure (time-out, device gone, ...).
class UsbPipe {
public:
    virtual ~UsbPipe() = default;
    virtual int write(const uint8_t* data, std::size_t length, int timeoutMs) = 0;
    virtual int read(uint8_t* data, std::size_t length, int timeoutMs) = 0;
};

// What the system needs from a USB access layer: a handle or -1, two pipes, a removal test and
// a close. Pipes stay valid (though they may fail) until closeProgrammer() on their handle.
// openProgrammer/isRemoved/closeProgrammer are called from the front end's thread only; the
// pipes may be used from one worker thread while isRemoved() runs on the front end's thread.
class UsbDriver {
public:
    virtual ~UsbDriver() = default;
    virtual int openProgrammer() = 0;                              // handle, or -1: none present
    virtual UsbPipe* openPipe(int handle, int reserved, int index) = 0; // index 1 out, 0 in
    virtual int isRemoved(int handle) = 0;                         // non-zero once it has gone
    virtual void closeProgrammer(int handle) = 0;                  // releases handle and pipes
};
