// SPDX-License-Identifier: MIT
#include "programmer/Programmer.h"

#include "FakeDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <tuple>

namespace {

using Bytes = FakeDriver::Bytes;
using Scripts = std::vector<Bytes>;

const Bytes kEntry1{0x80, 0x00, 0x80, 0x02, 0x81, 0x00, 0x01, 0x00, 0x80, 0x0B, 0x80, 0x05, 0x80, 0x04, 0x80, 0x0A};
const Bytes kExit{0x80, 0x05, 0x80, 0x0B, 0x80, 0x03};

std::size_t framesIn(const Bytes& script)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i + 1 < script.size(); i += (script[i] == 0x81 || script[i] == 0x83) ? 4 : 2)
        n += script[i] == 0x84;
    return n;
}

// Answers the n-th frame read since the start with word(n), and nothing beyond the frames the
// script reads: an answer need carry no more than its script decodes. A word write's read-back
// echoes the word loaded, as a chip that takes it does, so that no mismatch pause slows a run.
FakeDriver::AnswerFn framesOf(std::function<uint16_t(int)> word)
{
    return [word, next = std::make_shared<int>(0)](const Bytes& script, std::size_t requested) {
        const bool echo = script.size() == 12 && script[0] == 0x83 && script[1] == 0x02 && script[10] == 0x84;
        Bytes reply(std::min(requested, 2 * framesIn(script)), 0);
        for (std::size_t k = 0; 2 * k + 1 < reply.size(); ++k) {
            const Frame f = echo ? Frame{script[2], script[3]} : encodeFrame(word((*next)++));
            reply[2 * k] = f.low;
            reply[2 * k + 1] = f.high;
        }
        return reply;
    };
}

class ProgrammerTest : public testing::Test {
protected:
    FakeDriver fake;
    Programmer p;

    void SetUp() override { attach(p, fake); }
    Scripts scriptsOf(bool (Programmer::*operation)())
    {
        fake.log.clear();
        EXPECT_TRUE((p.*operation)());
        return fake.scripts();
    }
};

TEST_F(ProgrammerTest, ABlockSizeThatCannotBeWrittenIsRefusedBeforeAnythingIsSent)
{
    for (const int32_t block : {0, -1, 12, 64}) {
        SCOPED_TRACE(block);
        fake.log.clear();
        p.setMethods(1, 2, 0, 1, 0, block, 4);
        EXPECT_FALSE(p.programAll());
        EXPECT_TRUE(fake.log.empty());
        EXPECT_EQ(p.transferFailed.load(), 1);
        EXPECT_EQ(p.blockSizeRefused.load(), 1);
    }
    // Nor would the link send a script that overflowed.
    ScriptAnswer answer;
    EXPECT_FALSE(p.exchange(writeBlockLoadScript(std::vector<uint16_t>(12, 0x3FFF)), answer));
    EXPECT_TRUE(fake.log.empty());
    // Word-by-word writing never uses blockWords.
    p.setGeometry(2, 0x3FFF, 0);
    p.setMethods(1, 0, 0, 0, 0, 0, 1);
    EXPECT_TRUE(p.programAll());
    EXPECT_EQ(p.blockSizeRefused.load(), 0);
}

// A fast schedule that cannot carry the device's methods leaves the whole write to the standard
// scripts: the same bytes as without it. One that can sends its own.
TEST_F(ProgrammerTest, AFastScheduleTheMethodsCannotUseLeavesTheStandardScripts)
{
    // Word, row, EEPROM, bulk erase and chip erase times.
    const FastSchedule full{3000, 2000, 6000, 10000, 10000};
    const struct {
        const char* why;
        int32_t program, block, eepromMethod;
        FastSchedule schedule;
        bool standard;
    } cases[] = {
        {"carried", 0, 1, 0, full, false},
        {"program method -1", -1, 1, 0, full, true},
        {"a row too long for one script", 2, 10, 0, full, true},
        {"no word time", 0, 1, 0, {0, 2000, 6000, 10000, 10000}, true},
        {"no row time", 2, 4, 0, {3000, 0, 6000, 10000, 10000}, true},
        {"no bulk erase time", 1, 1, 0, {3000, 2000, 6000, 0, 10000}, true},
        {"no chip erase time", 2, 4, 0, {3000, 2000, 6000, 10000, 0}, true},
        {"no EEPROM time", 0, 1, 0, {3000, 2000, 0, 10000, 10000}, true},
        {"EEPROM method 2", 0, 1, 2, full, true},
    };
    p.setGeometry(16, 0x3FFF, 16);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        p.setMethods(1, c.program, c.eepromMethod, 0, 0, c.block, 1);
        p.fastSchedule.reset();
        const Scripts standard = scriptsOf(&Programmer::programAll);
        p.fastSchedule = c.schedule;
        EXPECT_EQ(scriptsOf(&Programmer::programAll) == standard, c.standard);
    }
}

// The program phase's cancels are run against every simulated chip; a read's are run here.
TEST_F(ProgrammerTest, ACancelledReadKeepsItsFramingAndWhatWasRead)
{
    // A cancel made before the worker runs is kept: each phase is only entered and left.
    p.setGeometry(64, 0x3FFF, 16);
    p.requestCancel();
    EXPECT_EQ(scriptsOf(&Programmer::readAll), (Scripts{kEntry1, kExit, kEntry1, kExit, kEntry1, kExit}));

    // A cancel during a read keeps what was read.
    p.cancelRequested = 0;
    p.setGeometry(64, 0x3FFF, 0);
    fake.answer = [&](const Bytes& script, std::size_t n) {
        if (script.size() == 64)
            p.requestCancel();
        return Bytes(n, 0);
    };
    EXPECT_EQ(scriptsOf(&Programmer::readAll).size(), 5u);   // one block, then the empty configuration phase
    EXPECT_EQ(p.programWords[0], 0);
    EXPECT_EQ(p.programWords[16], 0x3FFF);
    EXPECT_EQ(p.progressPosition.load(), 16u + 8u);
}

TEST_F(ProgrammerTest, WindowOperationsNeedOnlyTheirDataAndReportFailedTransfers)
{
    // Of the 8 bytes asked for, only the decoded ones must arrive: 4 and 1.
    fake.answer = [](const Bytes& script, std::size_t) {
        return script[1] == 0x80 ? Bytes{0x4B, 0x56, 0x4E, 0x01} : Bytes{20};
    };
    EXPECT_EQ(p.queryIdentity(), 0x4B564E01);
    EXPECT_EQ(p.queryClock(), 20);
    EXPECT_FALSE(p.sendControl(0x100));
    EXPECT_FALSE(p.sendControl(-1));
    EXPECT_EQ(fake.log.size(), 2u);
    fake.answer = [](const Bytes&, std::size_t) { return Bytes{0, 0, 0}; };
    EXPECT_EQ(p.queryIdentity(), -1);
    fake.answer = [](const Bytes&, std::size_t) { return Bytes{0x42}; };
    EXPECT_EQ(p.readDeviceId(), -1);
    fake.answer = {};
    fake.log.clear();
    fake.failReadAt = 1;   // the device ID probe
    EXPECT_EQ(p.readDeviceId(), -1);

    // A null pipe fails at once; without a handle the window sends nothing and reports no fault.
    p.writePipe = nullptr;
    fake.log.clear();
    EXPECT_FALSE(p.readAll());
    p.deviceHandle = -1;
    EXPECT_TRUE(p.sendControl(0x00));
    EXPECT_TRUE(p.resetOutputs());
    EXPECT_EQ(p.queryIdentity(), -1);
    EXPECT_EQ(p.queryClock(), -1);
    EXPECT_EQ(p.programmerClock, 20);   // as last answered
    EXPECT_TRUE(fake.log.empty());
}

// Every worker operation, with two sets of methods between them sending every kind of script,
// against a link that fails at exchange k: false, transferFailed, no exchange after the failing
// one, and the words and buffers it was filling left alone. An answer one byte short of the
// frames its script reads is a failure.
TEST(ProgrammerFaults, ATransferFaultEndsTheOperationAndChangesNothing)
{
    enum Fault { WriteFails, ReadFails, ShortAnswer };
    const auto prepare = [](Programmer& q, FakeDriver& driver, const std::array<int32_t, 8>& m) {
        attach(q, driver);
        driver.answer = framesOf([](int n) { return uint16_t(0x2000 + n); });
        q.setGeometry(48, 0x3FFF, 32);
        q.setMethods(m[0], m[1], m[2], m[3], m[4], m[5], m[6]);
        q.writeUserId = m[7];
        q.calibrationAddress = 5;
        q.calibrationBitsMask = 0x3000;
        q.userId = 0x4321;
        q.configWord = 0x1111;
        q.configWord2 = 0x2222;
        q.calibrationValue = 0x3333;
        q.savedCalibrationBits = 0x1000;
        q.deviceId = 0x0444;
    };
    const auto members = [](const Programmer& q) {
        return std::make_tuple(q.programWords, q.eepromBytes, q.userId, q.configWord, q.configWord2, q.calibrationValue,
                               q.savedCalibrationBits, q.deviceId);
    };
    // Entry, program, EEPROM, family, reserved, block, erase, and whether the user ID is written
    // (without, program method 1 reads the chip's own first to put them back).
    const std::array<int32_t, 8> methodSets[] = {
        {1, 0, 0, 2, 0, 4, 2, 1}, {0, 2, 1, 1, 0, 4, 1, 1}, {2, 1, 0, 0, 0, 1, 3, 0}};
    const std::array operations = {&Programmer::readAll, &Programmer::programAll, &Programmer::eraseChip,
                                   &Programmer::readCalibration, &Programmer::readCalibrationBits,
                                   &Programmer::writeCalibration, &Programmer::restoreCalibrationBits,
                                   &Programmer::writeConfiguration};
    for (std::size_t run = 0; run < std::size(methodSets) * operations.size(); ++run) {
        const std::array<int32_t, 8>& methods = methodSets[run / operations.size()];
        const auto operation = operations[run % operations.size()];
        // Count the exchanges of a clean run first, then fail each one of them in turn.
        FakeDriver clean;
        Programmer q;
        prepare(q, clean, methods);
        ASSERT_TRUE((q.*operation)());
        ASSERT_FALSE(clean.log.empty());
        for (const Fault fault : {WriteFails, ReadFails, ShortAnswer}) {
            for (int64_t k = 0; k < int64_t(clean.log.size()); ++k) {
                const std::size_t frames = framesIn(clean.log[std::size_t(k)].script);
                if (fault == ShortAnswer && frames == 0)
                    continue;
                SCOPED_TRACE(testing::Message() << "run " << run << " fault " << fault << " at " << k);
                FakeDriver bad;
                (fault == WriteFails ? bad.failWriteAt : fault == ReadFails ? bad.failReadAt : bad.shortReadAt) = k;
                bad.shortLength = 2 * frames - 1;
                Programmer r;
                prepare(r, bad, methods);
                const auto before = members(r);
                EXPECT_FALSE((r.*operation)());
                EXPECT_EQ(r.transferFailed.load(), 1);
                EXPECT_EQ(int64_t(bad.log.size()), k + 1);
                EXPECT_EQ(members(r), before);
            }
        }
    }
}

// A read that times out is a failed one; the fault table covers that. What is left is how long
// each transfer may take: the time-out plus the waits of its own script.
TEST_F(ProgrammerTest, EachTransferMayTakeItsTimeOutPlusItsWaits)
{
    p.transferTimeoutMs = 50;
    p.setGeometry(0, 0x3FFF, 0);
    p.eraseMethod = 1;
    ASSERT_TRUE(p.eraseChip());
    // Entry sequence 1 holds one power-up wait of 65535 counts, the bulk erase 16001: at clock 16
    // a count is a microsecond, rounded up to whole milliseconds.
    std::vector<int> timeouts;
    for (const auto& r : fake.log)
        timeouts.push_back(r.writeTimeoutMs);
    EXPECT_EQ(timeouts, (std::vector<int>{50 + 66, 50, 50 + 17, 50}));
}

} // namespace
