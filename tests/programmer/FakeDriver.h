// SPDX-License-Identifier: MIT
#pragma once

#include "programmer/Programmer.h"
#include "programmer/UsbDriver.h"

#include <algorithm>
#include <functional>
#include <vector>

// A scripted programmer, for one thread: logs every script written and answers each read from
// a callback (zeros by default). Faults are set per exchange index, 0 being the first script.
class FakeDriver : public UsbDriver {
public:
    using Bytes = std::vector<uint8_t>;
    using AnswerFn = std::function<Bytes(const Bytes& script, std::size_t requested)>;
    struct Record {
        Bytes script;
        std::size_t requested = 0;
        int writeTimeoutMs = 0;
    };

    std::vector<Record> log;
    AnswerFn answer;
    bool present = true;
    int removed = 0;
    int opens = 0;
    int closes = 0;
    int64_t failWriteAt = -1;
    int64_t failReadAt = -1;
    int64_t shortReadAt = -1;       // this exchange's answer is cut to shortLength bytes
    std::size_t shortLength = 0;

    std::vector<Bytes> scripts() const
    {
        std::vector<Bytes> out;
        for (const Record& r : log)
            out.push_back(r.script);
        return out;
    }

    int openProgrammer() override
    {
        ++opens;
        return present && removed == 0 ? 7 : -1;
    }
    UsbPipe* openPipe(int, int, int index) override { return &pipes_[index == 1 ? 1 : 0]; }
    int isRemoved(int) override { return removed; }
    void closeProgrammer(int) override { ++closes; }

private:
    struct Pipe : UsbPipe {
        Pipe(FakeDriver& driver, bool out) : d(driver), isOut(out) {}
        FakeDriver& d;
        bool isOut;
        int write(const uint8_t* data, std::size_t length, int timeoutMs) override
        {
            if (!isOut)
                return -1;
            d.log.push_back(Record{Bytes(data, data + length), 0, timeoutMs});
            return d.removed || int64_t(d.log.size()) - 1 == d.failWriteAt ? -1 : int(length);
        }
        int read(uint8_t* data, std::size_t length, int) override
        {
            const int64_t index = int64_t(d.log.size()) - 1;
            if (isOut || index < 0)
                return -1;
            d.log.back().requested = length;
            if (d.removed || index == d.failReadAt)
                return -1;
            Bytes reply = d.answer ? d.answer(d.log.back().script, length) : Bytes(length, 0);
            reply.resize(std::min(reply.size(), index == d.shortReadAt ? std::min(length, d.shortLength) : length));
            std::copy(reply.begin(), reply.end(), data);
            return int(reply.size());
        }
    };
    Pipe pipes_[2] = {Pipe(*this, false), Pipe(*this, true)};
};

// Opens the programmer the way the link poll does, without its attach queries, so that a test
// sees only the exchanges of the operation it runs.
inline void attach(Programmer& p, UsbDriver& driver)
{
    p.driver = &driver;
    p.deviceHandle = driver.openProgrammer();
    p.writePipe = driver.openPipe(p.deviceHandle, 0, 1);
    p.readPipe = driver.openPipe(p.deviceHandle, 0, 0);
}
