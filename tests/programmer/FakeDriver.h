#pragma once

#include "programmer/Programmer.h"
#include "programmer/UsbDriver.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <algorithm>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// A scripted programmer for unit tests: records every script written and answers each read
// from a callback (zeros of the requested length by default). Faults are set per exchange
// index (0 = the first script written): the write fails, the read fails, the answer comes back
// short, or the read stalls until its time-out.
class FakeDriver : public UsbDriver {
public:
    using Bytes = std::vector<uint8_t>;
    // Gets the script just written and the requested length; returns the answer to give.
    using AnswerFn = std::function<Bytes(const Bytes& script, std::size_t requested)>;

    bool present = true;
    int handle = 7;
    std::atomic<int> removed{0};
    int opens = 0;
    int closes = 0;
    std::vector<int> pipeIndexes;   // index argument of every openPipe call
    AnswerFn answer;

    int64_t failWriteAt = -1;
    int64_t failReadAt = -1;
    int64_t shortReadAt = -1;       // this exchange's answer is cut to shortLength bytes
    std::size_t shortLength = 0;
    int64_t stallAt = -1;

    struct Record {
        Bytes script;
        std::size_t requested = 0;
        int writeTimeoutMs = 0;
        int readTimeoutMs = 0;
    };

    std::vector<Record> records() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    std::vector<Bytes> scripts() const
    {
        std::vector<Bytes> out;
        for (const Record& r : records())
            out.push_back(r.script);
        return out;
    }
    std::size_t exchanges() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_.size();
    }
    void clearRecords()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.clear();
    }

    int openProgrammer() override
    {
        ++opens;
        return present && removed.load() == 0 ? handle : -1;
    }
    UsbPipe* openPipe(int, int, int index) override
    {
        pipeIndexes.push_back(index);
        return index == 1 ? static_cast<UsbPipe*>(&out_) : static_cast<UsbPipe*>(&in_);
    }
    int isRemoved(int) override { return removed.load(); }
    void closeProgrammer(int) override { ++closes; }

private:
    class Out : public UsbPipe {
    public:
        explicit Out(FakeDriver& d) : d_(d) {}
        int write(const uint8_t* data, std::size_t length, int timeoutMs) override
        {
            std::lock_guard<std::mutex> lock(d_.mutex_);
            const int64_t index = static_cast<int64_t>(d_.records_.size());
            d_.records_.push_back(Record{Bytes(data, data + length), 0, timeoutMs, 0});
            if (d_.removed.load() != 0 || index == d_.failWriteAt)
                return -1;
            return static_cast<int>(length);
        }
        int read(uint8_t*, std::size_t, int) override { return -1; }

    private:
        FakeDriver& d_;
    };

    class In : public UsbPipe {
    public:
        explicit In(FakeDriver& d) : d_(d) {}
        int write(const uint8_t*, std::size_t, int) override { return -1; }
        int read(uint8_t* data, std::size_t length, int timeoutMs) override
        {
            int64_t index;
            Bytes script;
            {
                std::lock_guard<std::mutex> lock(d_.mutex_);
                if (d_.records_.empty())
                    return -1;
                index = static_cast<int64_t>(d_.records_.size()) - 1;
                d_.records_.back().requested = length;
                d_.records_.back().readTimeoutMs = timeoutMs;
                script = d_.records_.back().script;
            }
            if (index == d_.stallAt) {
                std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
                return -1;
            }
            if (d_.removed.load() != 0 || index == d_.failReadAt)
                return -1;
            Bytes reply = d_.answer ? d_.answer(script, length) : Bytes(length, 0);
            if (reply.size() > length)
                reply.resize(length);
            if (index == d_.shortReadAt)
                reply.resize(std::min(reply.size(), d_.shortLength));
            std::copy(reply.begin(), reply.end(), data);
            return static_cast<int>(reply.size());
        }

    private:
        FakeDriver& d_;
    };

    mutable std::mutex mutex_;
    std::vector<Record> records_;
    Out out_{*this};
    In in_{*this};
};

// Opens the driver's programmer into the Programmer the way the link poll does, but without
// the attach queries, so that a test sees only the exchanges of the operation it runs.
inline void attach(Programmer& p, UsbDriver& driver)
{
    p.driver = &driver;
    p.deviceHandle = driver.openProgrammer();
    p.writePipe = driver.openPipe(p.deviceHandle, 0, 1);
    p.readPipe = driver.openPipe(p.deviceHandle, 0, 0);
}

// "83 02 46 02" -> bytes.
inline std::vector<uint8_t> hexBytes(const std::string& text)
{
    std::vector<uint8_t> out;
    std::istringstream in(text);
    std::string token;
    while (in >> token)
        out.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    return out;
}
