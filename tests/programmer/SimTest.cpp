// SPDX-License-Identifier: MIT
// Every catalogue device against the simulated programmer and a simulated chip of that device:
// the catalogue line's methods must program, read and erase the chip as its silicon behaves,
// through the Programmer where a test needs its parts and through the operations core's chains
// otherwise, which must keep a calibrated chip's factory calibration.

#include "device/Catalogue.h"
#include "operations/Verify.h"
#include "programmer/FastSchedule.h"
#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"
#include "tests/operations/SessionFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string kCatalogue = std::string(KORVALIN_DATA_DIR) + "/PicDeviceList.txt";

std::vector<std::string> catalogueDeviceNames()
{
    std::vector<std::string> out;
    for (const std::string& name : readCatalogueNames(kCatalogue).names)
        if (!name.empty())
            out.push_back(name);
    return out;
}

// A simulated programmer with a chip of a catalogue device in it, and a Programmer set up from
// that device's catalogue line the way a device selection does it.
struct DeviceRig {
    DeviceRecord record;
    SimulatedDriver sim;
    Programmer p{&sim};
    LinkState link;

    explicit DeviceRig(const std::string& device, SimConfig config = {})
        : record(findCatalogueDevice(kCatalogue, device).record), sim((config.chip = device, config))
    {
        p.setGeometry(static_cast<uint32_t>(record.programWordCount), record.blankWord,
                      static_cast<uint32_t>(record.eepromByteCount));
        p.setMethods(record.entrySequence, record.programMethod, record.eepromMethod, record.family,
                     record.reservedValue, record.blockWords, record.eraseMethod);
        p.calibrationAddress = record.calibrationAddress;
        p.calibrationBitsMask = record.calibrationBitsMask;
    }

    // Attach as the first tick does, then choose the device's socket (or ICSP).
    bool connect() { return pollConnection(p, link) == "Korvalin Connect" && p.selectSocket(record.socketPins); }

    uint16_t configMask1() const { return static_cast<uint16_t>(record.configKeepMask & record.blankWord); }
    uint16_t configMask2() const { return configWord2KeepMask(record.configBitTags) & 0x3FFF; }

    // A seeded random image: every program word, EEPROM byte and user ID location, and the
    // configuration's low option bits, with code protection off.
    void fillRandom(uint32_t seed)
    {
        std::mt19937 rng(seed);
        for (uint32_t i = 0; i < p.programWordCount; ++i)
            p.programWords[i] = static_cast<uint16_t>(rng() & p.blankWord);
        for (uint32_t i = 0; i < p.eepromByteCount; ++i)
            p.eepromBytes[i] = static_cast<uint16_t>(rng() & 0xFF);
        p.userId = static_cast<uint16_t>(rng());
        p.configWord = static_cast<uint16_t>(configMask1() & ~(rng() & 0x000F));
        p.configWord2 = static_cast<uint16_t>(configMask2() & ~(rng() & 0x0003));
        p.writeUserId = 1;
    }
};

// Whatever ran, the host spoke the protocol cleanly and left the chip out of programming mode,
// its supply off and MCLR held at reset.
void expectLeftSafe(const SimulatedDriver& sim)
{
    EXPECT_EQ(sim.malformedScriptCount(), 0u);
    EXPECT_EQ(sim.protocolErrorCount(), 0u);
    EXPECT_FALSE(sim.chipInProgrammingMode());
    EXPECT_FALSE(sim.chipRefusedEntry());
    const SimOutputs out = sim.outputs();
    EXPECT_FALSE(out.power5v);
    EXPECT_FALSE(out.dcdc);
    EXPECT_EQ(out.mclr, SimMclr::Reset);
}

class SimDevice : public testing::TestWithParam<std::string> {
protected:
    DeviceRig rig{GetParam()};
    Programmer& p = rig.p;

    void SetUp() override
    {
        ASSERT_TRUE(rig.record.valid) << rig.record.invalidReason;
        ASSERT_TRUE(rig.connect());
        const int32_t id = p.readDeviceId();
        ASSERT_NE(id, -1);
        EXPECT_EQ(id & rig.record.deviceIdMask, rig.record.expectedDeviceId) << "device ID " << std::hex << id;
    }

    void TearDown() override { expectLeftSafe(rig.sim); }
};

// The bare erase of a protected chip is pinned through the session: Program writes a protected
// file again after its verify (tests/operations).
TEST_P(SimDevice, CancelInTheProgramPhaseWritesNoConfiguration)
{
    rig.fillRandom(3);
    const SimChipState before = rig.sim.chipState();
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
        DeviceRig fast(GetParam(), config);
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

// Every catalogue device through the operations core's chains: Program writes a file's image
// whole and verifies it at either programmer clock (at 4 the second column of waits); Program
// without the user ID keeps the chip's own, but where the block method's chip erase clears it;
// Erase blanks the chip. A calibrated chip keeps its factory word and bits through all of it,
// whatever the file holds there.
class DeviceChain : public SessionTest, public testing::WithParamInterface<std::string> {};

TEST_P(DeviceChain, ProgramAtEitherClockWithAndWithoutTheUserIdThenErase)
{
    const std::set<std::string> chipEraseClearsUserId = {"PIC16F873A", "PIC16F874A", "PIC16F876A",
                                                         "PIC16F877A", "PIC16F819",  "PIC16F88"};
    for (const int clock : {4, 16}) {
        SCOPED_TRACE(testing::Message() << "clock " << clock);
        SimConfig config;
        config.clock = clock;
        ASSERT_NO_FATAL_FAILURE(open(GetParam(), GetParam(), config));
        const SimChipState factory = chip();
        const bool calibrated = findSimChip(GetParam())->hasCalibration;
        const std::size_t words = factory.programWords.size();   // the last may be the calibration
        MemoryImage file = patternImage(static_cast<uint16_t>(session->image.configWord & ~0x0003), 0x4321);
        file.programWords[words - 1] = 0x3400;
        if (session->configWord2KeepMask != 0xFFFF)
            file.configWord2 = 0x3FFC;
        ASSERT_NO_FATAL_FAILURE(openImage(file));
        press(&Session::onProgramButton);
        EXPECT_EQ(frontend.messages(), std::vector<std::string>{});
        EXPECT_EQ(frontend.statuses().back(), texts::verifyOk);
        expectLeftSafe(*sim);
        std::vector<uint16_t> expected(file.programWords.begin(), file.programWords.begin() + words);
        if (calibrated)
            expected.back() = factory.factoryCalibrationWord;
        SimChipState written = chip();
        EXPECT_EQ(written.programWords, expected);
        for (std::size_t i = 0; i < written.eepromBytes.size(); ++i)
            ASSERT_EQ(written.eepromBytes[i], file.eepromBytes[i]) << "byte " << i;
        for (uint16_t i = 0; i < 4; ++i)
            EXPECT_EQ(written.userIds[i] & 0x000F, i + 1);
        EXPECT_EQ(written.configWord & 0x000F, 0x000C);
        if (session->configWord2KeepMask != 0xFFFF) {
            EXPECT_EQ(written.configWord2 & 0x0003, 0x0000);
        }
        if (calibrated) {
            EXPECT_EQ(written.configWord & 0x3000, factory.factoryCalibrationBits);
        }
        if (clock == 4)
            continue;

        session->applyUserId(0x5678, 1);
        press(&Session::onProgramButton);
        EXPECT_EQ(frontend.statuses().back(), texts::verifyOk);
        written = chip();
        EXPECT_EQ(written.programWords, expected);
        const bool cleared = chipEraseClearsUserId.count(GetParam()) != 0;
        for (uint16_t i = 0; i < 4; ++i) {
            if (cleared)
                EXPECT_EQ(written.userIds[i], 0x3FFF) << i;
            else
                EXPECT_EQ(written.userIds[i] & 0x000F, i + 1) << "the chip's own user ID survives";
        }

        press(&Session::onEraseButton);
        EXPECT_EQ(frontend.messages(), std::vector<std::string>{});
        expectLeftSafe(*sim);
        const SimChipState erased = chip();
        std::vector<uint16_t> blank(words, 0x3FFF);
        if (calibrated)
            blank.back() = factory.factoryCalibrationWord;
        EXPECT_EQ(erased.programWords, blank);
        EXPECT_EQ(erased.eepromBytes, std::vector<uint8_t>(erased.eepromBytes.size(), 0xFF));
        if (calibrated) {
            EXPECT_EQ(erased.configWord & 0x3000, factory.factoryCalibrationBits);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, DeviceChain, testing::ValuesIn(catalogueDeviceNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

} // namespace
