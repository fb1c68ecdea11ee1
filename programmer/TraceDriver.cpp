// SPDX-License-Identifier: MIT
#include "programmer/TraceDriver.h"

namespace {

void appendHex(std::string& line, unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    line += ' ';
    line += digits[(value >> 4) & 0x0F];
    line += digits[value & 0x0F];
}

} // namespace

std::string traceWriteLine(const uint8_t* data, std::size_t length, bool failed)
{
    std::string line = failed ? "W FAIL" : "W";
    for (std::size_t i = 0; i < length; ++i)
        appendHex(line, data[i]);
    return line;
}

std::string traceReadLine(std::size_t requested, const uint8_t* data, int received)
{
    std::string line = "R";
    appendHex(line, static_cast<unsigned>(requested));
    if (received < 0) {
        line += " FAIL";
        return line;
    }
    for (int i = 0; i < received; ++i)
        appendHex(line, data[i]);
    return line;
}

class TraceDriver::Pipe : public UsbPipe {
public:
    Pipe(TraceDriver& owner, UsbPipe* inner) : owner_(owner), inner_(inner) {}

    int write(const uint8_t* data, std::size_t length, int timeoutMs) override
    {
        const int sent = inner_->write(data, length, timeoutMs);
        owner_.writeLine(traceWriteLine(data, length, sent != static_cast<int>(length)));
        return sent;
    }

    int read(uint8_t* data, std::size_t length, int timeoutMs) override
    {
        const int received = inner_->read(data, length, timeoutMs);
        owner_.writeLine(traceReadLine(length, data, received));
        return received;
    }

private:
    TraceDriver& owner_;
    UsbPipe* inner_;
};

TraceDriver::TraceDriver(std::unique_ptr<UsbDriver> inner, const std::string& path)
    : inner_(std::move(inner)), file_(std::fopen(path.c_str(), "w"))
{
}

TraceDriver::~TraceDriver()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

int TraceDriver::openProgrammer()
{
    return inner_ ? inner_->openProgrammer() : -1;
}

UsbPipe* TraceDriver::openPipe(int handle, int reserved, int index)
{
    if (!inner_)
        return nullptr;
    UsbPipe* pipe = inner_->openPipe(handle, reserved, index);
    if (pipe == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    auto& list = pipes_[handle];
    list.push_back(std::make_unique<Pipe>(*this, pipe));
    return list.back().get();
}

int TraceDriver::isRemoved(int handle)
{
    return inner_ ? inner_->isRemoved(handle) : 1;
}

void TraceDriver::closeProgrammer(int handle)
{
    if (inner_)
        inner_->closeProgrammer(handle);
    std::lock_guard<std::mutex> lock(mutex_);
    pipes_.erase(handle);
}

void TraceDriver::writeLine(const std::string& line)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr)
        return;
    const bool written = std::fputs(line.c_str(), file_) >= 0 && std::fputc('\n', file_) != EOF &&
                         std::fflush(file_) == 0;
    if (!written)
        writeFailed_.store(true);
}
