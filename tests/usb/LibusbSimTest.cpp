// The whole path a real programmer's traffic takes, without the programmer: Programmer ->
// LibusbDriver -> libusb -> usbfs ioctls (umockdev) -> the simulated programmer and chip.

#include "device/Catalogue.h"
#include "programmer/usb/LibusbDriver.h"
#include "sim/SimulatedDriver.h"
#include "tests/usb/UsbTestbed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

constexpr uint16_t kVendor = 0x1209;
constexpr uint16_t kProduct = 0x4B56;

TEST(LibusbSimTest, ProgramAndVerifyAWholeChipThroughLibusb)
{
    // Block programming keeps the exchange count (and the run time on a busy machine) modest.
    const DeviceRecord record =
        findCatalogueDevice(std::string(KORVALIN_DATA_DIR) + "/PicDeviceList.txt", "PIC16F873A").record;
    ASSERT_TRUE(record.valid) << record.invalidReason;
    SimConfig config;
    config.chip = "PIC16F873A";
    config.clock = 16;
    SimulatedDriver sim(config);
    const int simHandle = sim.openProgrammer();
    ASSERT_NE(simHandle, -1);
    Answerer answerer;
    answerer.forwardTo(sim.openPipe(simHandle, 0, 1), sim.openPipe(simHandle, 0, 0));
    usbTestbed().plug(kVendor, kProduct, &answerer);

    LibusbDriver driver{kVendor, kProduct};
    Programmer p{&driver};
    LinkState link;
    p.programmerClock = 4;
    ASSERT_EQ(pollUntilConnected(p, link), "Korvalin Connect") << driver.lastError();
    EXPECT_EQ(p.programmerClock, 16);   // the clock query went all the way and back
    p.setGeometry(static_cast<uint32_t>(record.programWordCount), record.blankWord,
                  static_cast<uint32_t>(record.eepromByteCount));
    p.setMethods(record.entrySequence, record.programMethod, record.eepromMethod, record.family,
                 record.reservedValue, record.blockWords, record.eraseMethod);
    ASSERT_TRUE(p.selectSocket(record.socketPins));
    EXPECT_EQ(p.readDeviceId() & record.deviceIdMask, record.expectedDeviceId);

    // A seeded random image with code protection off.
    std::mt19937 rng(0x4B564E);
    for (uint32_t i = 0; i < p.programWordCount; ++i)
        p.programWords[i] = static_cast<uint16_t>(rng() & p.blankWord);
    for (uint32_t i = 0; i < p.eepromByteCount; ++i)
        p.eepromBytes[i] = static_cast<uint16_t>(rng() & 0xFF);
    p.userId = 0xA5C3;
    p.writeUserId = 1;
    const uint16_t configMask = static_cast<uint16_t>(record.configKeepMask & record.blankWord);
    p.configWord = static_cast<uint16_t>(configMask & ~0x0005u);
    const std::vector<uint16_t> words(p.programWords.begin(), p.programWords.begin() + p.programWordCount);
    const std::vector<uint16_t> eeprom(p.eepromBytes.begin(), p.eepromBytes.begin() + p.eepromByteCount);
    const uint16_t written = p.configWord;
    ASSERT_TRUE(p.programAll());

    // Verify: forget what was sent, read the chip back and compare.
    p.setGeometry(p.programWordCount, p.blankWord, p.eepromByteCount);
    ASSERT_TRUE(p.readAll());
    EXPECT_EQ(std::vector<uint16_t>(p.programWords.begin(), p.programWords.begin() + p.programWordCount), words);
    EXPECT_EQ(std::vector<uint16_t>(p.eepromBytes.begin(), p.eepromBytes.begin() + p.eepromByteCount), eeprom);
    EXPECT_EQ(p.userId, 0xA5C3);
    EXPECT_EQ(p.configWord & configMask, written);

    // And the silicon itself holds it, not just what came back over the pipes.
    const SimChipState chip = sim.chipState();
    ASSERT_GE(chip.programWords.size(), words.size());
    EXPECT_TRUE(std::equal(words.begin(), words.end(), chip.programWords.begin()));
    EXPECT_EQ(sim.protocolErrorCount(), 0u);
    EXPECT_EQ(sim.malformedScriptCount(), 0u);
    usbTestbed().unplugAll();
}

} // namespace
