// SPDX-License-Identifier: MIT
// Every catalogue device against the simulated programmer and a simulated chip of that device:
// the catalogue line's methods must program, read and erase the chip as its silicon behaves,
// and the operations core's chains must keep a calibrated chip's factory calibration.

#include "SimRig.h"
#include "tests/operations/SessionFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

class SimDevice : public testing::TestWithParam<std::string> {
protected:
    SimRig rig{GetParam()};
    Programmer& p = rig.p;

    void SetUp() override
    {
        ASSERT_TRUE(rig.record.valid) << rig.record.invalidReason;
        ASSERT_TRUE(rig.connect());
        const int32_t id = p.readDeviceId();
        ASSERT_NE(id, -1);
        EXPECT_EQ(id & rig.record.deviceIdMask, rig.record.expectedDeviceId) << "device ID " << std::hex << id;
    }

    void TearDown() override
    {
        // Whatever ran, the host spoke the protocol cleanly and left the chip out of
        // programming mode, its supply off and MCLR held at reset.
        EXPECT_EQ(rig.sim.malformedScriptCount(), 0u);
        EXPECT_EQ(rig.sim.protocolErrorCount(), 0u);
        EXPECT_FALSE(rig.sim.chipInProgrammingMode());
        EXPECT_FALSE(rig.sim.chipRefusedEntry());
        const SimOutputs out = rig.sim.outputs();
        EXPECT_FALSE(out.power5v);
        EXPECT_FALSE(out.dcdc);
        EXPECT_EQ(out.mclr, SimMclr::Reset);
    }

    // What a full read should give back.
    struct Expected {
        std::vector<uint16_t> words, eeprom;
        uint16_t userId, config1, config2;
    };
    Expected written() const
    {
        return {std::vector<uint16_t>(p.programWords.begin(), p.programWords.end() - 1),
                std::vector<uint16_t>(p.eepromBytes.begin(), p.eepromBytes.begin() + p.eepromByteCount), p.userId,
                static_cast<uint16_t>(p.configWord & rig.configMask1()),
                static_cast<uint16_t>(p.configWord2 & rig.configMask2())};
    }
    // A blank chip but for the calibration word and bits given.
    Expected blank(uint16_t calibrationWord, uint16_t calibrationBits) const
    {
        Expected e{std::vector<uint16_t>(p.programWordCount, p.blankWord), std::vector<uint16_t>(p.eepromByteCount, 0xFF),
                   0xFFFF, static_cast<uint16_t>((rig.configMask1() & ~rig.record.calibrationBitsMask) | calibrationBits),
                   rig.configMask2()};
        if (rig.record.hasCalibrationWord)
            e.words[p.calibrationAddress] = calibrationWord;
        return e;
    }

    void expectChipHolds(const Expected& e, bool userIdWritten = true)
    {
        p.setGeometry(p.programWordCount, p.blankWord, p.eepromByteCount);   // forget what was sent
        ASSERT_TRUE(p.readAll());
        EXPECT_EQ(p.progressPosition.load(), p.progressTotal);
        const auto mismatch = std::mismatch(e.words.begin(), e.words.end(), p.programWords.begin());
        EXPECT_TRUE(mismatch.first == e.words.end())
            << "program word 0x" << std::hex << (mismatch.first - e.words.begin()) << " reads 0x" << *mismatch.second;
        EXPECT_EQ(std::vector<uint16_t>(p.eepromBytes.begin(), p.eepromBytes.begin() + p.eepromByteCount), e.eeprom);
        if (userIdWritten) {
            EXPECT_EQ(p.userId, e.userId);
        }
        EXPECT_EQ(p.configWord, e.config1) << std::hex << p.configWord << " vs " << e.config1;
        if (p.family == 2) {
            EXPECT_EQ(p.configWord2, e.config2);
        }
        EXPECT_EQ(p.deviceId & rig.record.deviceIdMask, rig.record.expectedDeviceId);
    }
};

TEST_P(SimDevice, ProgramsARandomImageAndReadsItBackAtEitherClock)
{
    rig.fillRandom(0xC0FFEE);
    ASSERT_TRUE(p.programAll());
    EXPECT_EQ(p.progressPosition.load(), p.progressTotal);
    const Expected e = written();
    expectChipHolds(e);

    // Again without the user ID: the chip's own survives the bulk erase ahead of the write
    // (read first, written back), and the plain word-by-word method never touches it; only the
    // chip erase of the block method clears it.
    p.userId = 0x1234;
    p.writeUserId = 0;
    ASSERT_TRUE(p.programAll());
    expectChipHolds(e, false);
    EXPECT_EQ(p.userId, p.programMethod == 2 ? 0xFFFF : e.userId);

    // A programmer answering clock 4 gets the second column of waits: still long enough.
    SimConfig config;
    config.clock = 4;
    SimRig slow(GetParam(), config);
    ASSERT_TRUE(slow.connect());
    ASSERT_EQ(slow.p.programmerClock, 4);
    slow.fillRandom(4);
    ASSERT_TRUE(slow.p.programAll());
    const SimChipState chip = slow.sim.chipState();
    EXPECT_EQ(chip.programWords, std::vector<uint16_t>(slow.p.programWords.begin(), slow.p.programWords.end() - 1));
    EXPECT_EQ(chip.configWord & slow.configMask1(), slow.p.configWord & slow.configMask1());
    EXPECT_EQ(slow.sim.protocolErrorCount(), 0u);
}

// The bare erase takes the calibration too; keeping it is the chains' work (below).
TEST_P(SimDevice, EraseBlanksEverythingEvenOnACodeProtectedChip)
{
    if (p.eraseMethod == 0)
        GTEST_SKIP() << "erase does nothing on this device";
    const uint16_t erasedBits = rig.record.calibrationBitsMask;
    rig.fillRandom(2);
    ASSERT_TRUE(p.programAll());
    ASSERT_TRUE(p.eraseChip());
    expectChipHolds(blank(p.blankWord, erasedBits));

    SimChipState state = rig.sim.chipState();
    for (std::size_t i = 0; i < state.programWords.size(); ++i)
        state.programWords[i] = static_cast<uint16_t>(0x0100 + i);
    std::fill(state.eepromBytes.begin(), state.eepromBytes.end(), 0x5A);
    state.configWord = static_cast<uint16_t>(state.configWord & ~rig.record.protectOffBits);
    ASSERT_TRUE(rig.sim.setChipState(state));
    ASSERT_TRUE(p.readAll());
    EXPECT_EQ(p.programWords[1], 0) << "protected memory reads as zeros";
    const bool dataProtected = rig.record.configBitTags.find("[CPD]") != std::string::npos;
    if (p.eepromByteCount != 0) {
        EXPECT_EQ(p.eepromBytes[0], dataProtected ? 0 : 0x5A);
    }
    ASSERT_TRUE(p.eraseChip());
    expectChipHolds(blank(p.blankWord, erasedBits));
}

TEST_P(SimDevice, CancelInTheProgramPhaseWritesNoConfiguration)
{
    rig.fillRandom(3);
    const SimChipState before = rig.sim.chipState();
    // A cancel made before the worker runs: nothing but framing reaches the chip.
    p.requestCancel();
    ASSERT_TRUE(p.programAll());
    EXPECT_EQ(rig.sim.chipState().programWords, before.programWords);
    EXPECT_EQ(rig.sim.chipState().configWord, before.configWord);

    // Cancelled as the seventh script goes out.
    struct Tap : UsbPipe {
        UsbPipe* inner;
        Programmer& p;
        int writes = 0;
        Tap(UsbPipe* pipe, Programmer& programmer) : inner(pipe), p(programmer) {}
        int write(const uint8_t* data, std::size_t length, int timeoutMs) override
        {
            if (++writes == 7)
                p.requestCancel();
            return inner->write(data, length, timeoutMs);
        }
        int read(uint8_t* data, std::size_t length, int timeoutMs) override { return inner->read(data, length, timeoutMs); }
    } tap(p.writePipe, p);
    p.cancelRequested = 0;
    p.writePipe = &tap;
    ASSERT_TRUE(p.programAll());
    p.writePipe = tap.inner;
    const int writes = tap.writes;
    const SimChipState after = rig.sim.chipState();
    // Method 1 erases from configuration space before the first word, so the configuration
    // word and user IDs are blank there; no method writes them after a cancel.
    const bool erasedFirst = p.programMethod == 1;
    EXPECT_EQ(after.configWord, erasedFirst ? rig.configMask1() : before.configWord);
    EXPECT_EQ(after.userIds[0], erasedFirst ? 0x3FFF : before.userIds[0]);
    EXPECT_LE(p.progressPosition.load(), 3u * static_cast<uint32_t>(std::max(1, p.blockWords)) + 8u);
    // Entry and exit of the program phase, then of each later phase: nothing but framing.
    EXPECT_LE(writes, 7 + 1 + 2 + (p.eepromByteCount != 0 ? 2 : 0) + 2);
    EXPECT_EQ(after.programWords[100], before.programWords[100]) << "words past the cancel were sent";
}

// The fast schedule against each chip: a typical part and one at its data-sheet maximum take
// the image whole, blank stretches included; the same schedule with every time 10 % short
// must leave the slowest part wrong, or the maximum times would prove nothing. Program and its
// read-back by the same schedule stay within 1.5 times the silicon floor (modelled time, each
// exchange with its 1 ms USB round trip).
TEST_P(SimDevice, FastScheduleProgramsTypicalAndSlowestChipsOnlyWithItsFullTimes)
{
    const std::optional<FastSchedule> schedule = fastScheduleFor(GetParam());
    ASSERT_TRUE(schedule) << "every catalogue device has checked times";
    struct Row {
        const char* what;
        bool slowest;
        double scale;
        bool halfBlank;
        bool takes;
        double floorShare;   // 0: time not judged
    };
    const Row rows[] = {
        {"typical chip", false, 1.0, false, true, 1.5},
        {"slowest chip", true, 1.0, false, true, 0},
        {"slowest chip, half the image blank", true, 1.0, true, true, 0},
        {"slowest chip, every time 10 % short", true, 0.9, false, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SimConfig config;
        config.faults.slowest = row.slowest;
        SimRig fast(GetParam(), config);
        ASSERT_TRUE(fast.connect());
        fast.fillRandom(7);
        if (row.halfBlank) {
            for (uint32_t i = 0; i < fast.p.programWordCount; ++i)
                if (i / 24 % 2 == 1)
                    fast.p.programWords[i] = fast.p.blankWord;
            for (uint32_t i = 0; i < fast.p.eepromByteCount; i += 2)
                fast.p.eepromBytes[i] = 0xFF;
        }
        FastSchedule times = *schedule;
        for (uint32_t* t : {&times.wordUs, &times.rowUs, &times.eepromUs, &times.bulkEraseUs, &times.chipEraseUs})
            *t = static_cast<uint32_t>(*t * row.scale);
        fast.p.fastSchedule = times;
        const double startUs = fast.sim.virtualMicroseconds();
        const uint64_t startExchanges = fast.sim.exchangeCount();
        ASSERT_TRUE(fast.p.programAll());
        EXPECT_EQ(fast.p.progressPosition.load(), fast.p.progressTotal);
        const SimChipState chip = fast.sim.chipState();
        const bool whole =
            chip.programWords == std::vector<uint16_t>(fast.p.programWords.begin(), fast.p.programWords.end() - 1) &&
            std::equal(chip.eepromBytes.begin(), chip.eepromBytes.end(), fast.p.eepromBytes.begin());
        EXPECT_EQ(whole, row.takes);
        EXPECT_EQ(chip.configWord & fast.configMask1(), fast.p.configWord & fast.configMask1());
        if (row.takes) {
            const std::vector<uint16_t> words = fast.p.programWords;
            const std::vector<uint16_t> bytes = fast.p.eepromBytes;
            const double floorMs = programFloorMs(fast.p, times);
            fast.p.setGeometry(fast.p.programWordCount, fast.p.blankWord, fast.p.eepromByteCount);
            ASSERT_TRUE(fast.p.readAll());
            EXPECT_TRUE(fast.p.programWords == words && fast.p.eepromBytes == bytes) << "read back by the same schedule";
            const double boundMs = (fast.sim.virtualMicroseconds() - startUs) / 1000.0 +
                                   static_cast<double>(fast.sim.exchangeCount() - startExchanges);
            if (row.floorShare > 0) {
                EXPECT_LE(boundMs, row.floorShare * floorMs);
            }
        }
        // The calibration read walks to its word by the fast schedule's long steps.
        if (row.takes && fast.record.hasCalibrationWord) {
            ASSERT_TRUE(fast.p.readCalibration());
            EXPECT_EQ(fast.p.calibrationValue, fast.p.programWords[fast.p.calibrationAddress]);
        }
        EXPECT_EQ(fast.sim.malformedScriptCount(), 0u);
        EXPECT_EQ(fast.sim.protocolErrorCount(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, SimDevice, testing::ValuesIn(catalogueDeviceNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

// The Program and Erase buttons through the session, on a chip of each device: whatever the
// image holds at the calibration word, a calibrated chip keeps its factory word and bits.
class DeviceChain : public SessionTest, public testing::WithParamInterface<std::string> {};

TEST_P(DeviceChain, ProgramAndEraseKeepTheFactoryCalibration)
{
    ASSERT_NO_FATAL_FAILURE(open(GetParam(), GetParam()));
    const SimChipState factory = chip();
    const SimChipInfo* info = findSimChip(GetParam());
    ASSERT_TRUE(info);
    const std::size_t last = factory.programWords.size() - 1;   // where the calibration word sits
    const auto expectCalibrationKept = [&] {
        if (!info->hasCalibration)
            return;
        EXPECT_EQ(chip().programWords[last], factory.factoryCalibrationWord);
        EXPECT_EQ(chip().configWord & 0x3000, factory.factoryCalibrationBits);
    };

    for (std::size_t i = 0; i <= last; ++i)
        session->image.programWords[i] = static_cast<uint16_t>(0x0100 + i);
    press(&Session::onProgramButton);
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{});
    expectCalibrationKept();
    EXPECT_EQ(chip().programWords[last - 1], 0x0100 + last - 1);
    EXPECT_EQ(chip().programWords[last], info->hasCalibration ? factory.factoryCalibrationWord : 0x0100 + last);

    press(&Session::onEraseButton);
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{});
    expectCalibrationKept();
    EXPECT_EQ(chip().programWords[0], 0x3FFF);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, DeviceChain, testing::ValuesIn(catalogueDeviceNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

} // namespace
