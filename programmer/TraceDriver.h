// SPDX-License-Identifier: MIT
#pragma once

#include "programmer/UsbDriver.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Wraps another driver and writes every exchange on its pipes to a text file, one line per
// transfer, flushed as it is written so that a trace survives a crash:
//
//   W 80 81                 a write and the bytes it sent
//   W FAIL 80 81            a write that failed or sent fewer bytes; the bytes it tried to send
//   R 08 10 00 00 ...       a read: the length asked for, then the bytes received (maybe fewer)
//   R 08 FAIL               a read that failed (time-out, device gone, ...)
//
// All numbers are upper-case two-digit hexadecimal separated by single spaces; lines end in LF.
// Opening, removal tests and closing are not traced.
class TraceDriver : public UsbDriver {
public:
    TraceDriver(std::unique_ptr<UsbDriver> inner, const std::string& path);
    ~TraceDriver() override;
    TraceDriver(const TraceDriver&) = delete;
    TraceDriver& operator=(const TraceDriver&) = delete;

    bool isOpen() const { return file_ != nullptr; }   // false when the file could not be made
    // A line could not be written (a full disk): the trace is incomplete.
    bool writeFailed() const { return writeFailed_.load(); }
    UsbDriver* inner() const { return inner_.get(); }

    int openProgrammer() override;
    UsbPipe* openPipe(int handle, int reserved, int index) override;
    int isRemoved(int handle) override;
    void closeProgrammer(int handle) override;

    void writeLine(const std::string& line);

private:
    class Pipe;
    std::unique_ptr<UsbDriver> inner_;
    std::FILE* file_ = nullptr;
    std::mutex mutex_;   // a worker and the window may both trace, one after the other
    std::atomic<bool> writeFailed_{false};
    std::map<int, std::vector<std::unique_ptr<Pipe>>> pipes_;
};

// The trace line of one write or read, as TraceDriver writes it (without the line end).
std::string traceWriteLine(const uint8_t* data, std::size_t length, bool failed);
std::string traceReadLine(std::size_t requested, const uint8_t* data, int received);
