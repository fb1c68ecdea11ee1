// The whole path a real programmer's traffic takes, without the programmer: Programmer ->
// LibusbDriver -> libusb -> usbfs ioctls (umockdev) -> the simulated programmer and chip.

#include "device/Catalogue.h"
#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"
#include "programmer/usb/LibusbDriver.h"
#include "tests/usb/SimAnswerer.h"
#include "tests/usb/UsbTestEnvironment.h"
#include "tests/usb/UsbTestbed.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kVendor = 0x1209;
constexpr uint16_t kProduct = 0x4B56;

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Polls like the front end's timer until the programmer attaches (the driver may hear of a
// device plugged in after it started only a moment later, through the hot-plug event).
bool attach(Programmer& programmer, LinkState& link)
{
    const auto end = Clock::now() + 2s;
    while (Clock::now() < end) {
        if (pollConnection(programmer, link) == "Korvalin Connect")
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

DeviceRecord catalogueRecord(const std::string& name)
{
    return findCatalogueDevice(std::string(KORVALIN_DATA_DIR) + "/PicDeviceList.txt", name).record;
}

// A Programmer on the libusb driver, set up from a catalogue line as a device selection does.
class LibusbSimTest : public ::testing::Test {
protected:
    void TearDown() override { usbTestbed().unplugAll(); }

    void configure(Programmer& p, const DeviceRecord& record)
    {
        p.setGeometry(static_cast<uint32_t>(record.programWordCount), record.blankWord,
                      static_cast<uint32_t>(record.eepromByteCount));
        p.setMethods(record.entrySequence, record.programMethod, record.eepromMethod, record.family,
                     record.reservedValue, record.blockWords, record.eraseMethod);
        p.calibrationAddress = record.calibrationAddress;
        p.calibrationBitsMask = record.calibrationBitsMask;
    }

    static SimConfig chipConfig(const std::string& chip, int clock)
    {
        SimConfig config;
        config.chip = chip;
        config.clock = clock;
        return config;
    }

    LibusbDriver driver{kVendor, kProduct};
    Programmer programmer{&driver};
    LinkState link;
};

TEST_F(LibusbSimTest, ProgramAndVerifyAWholeChipThroughLibusb)
{
    // Block programming keeps the exchange count (and the run time on a busy machine) modest.
    const DeviceRecord record = catalogueRecord("PIC16F873A");
    ASSERT_TRUE(record.valid) << record.invalidReason;
    SimAnswerer answerer(chipConfig("PIC16F873A", 16));
    ASSERT_TRUE(answerer.ready());
    usbTestbed().plug(kVendor, kProduct, &answerer);

    programmer.programmerClock = 4;
    ASSERT_TRUE(attach(programmer, link)) << driver.lastError();
    EXPECT_EQ(programmer.programmerClock, 16);   // the clock query went all the way and back
    configure(programmer, record);
    ASSERT_TRUE(programmer.selectSocket(record.socketPins));
    const int32_t id = programmer.readDeviceId();
    ASSERT_NE(id, -1);
    EXPECT_EQ(id & record.deviceIdMask, record.expectedDeviceId);

    // A seeded random image with code protection off.
    std::mt19937 rng(0x4B564E);
    Programmer& p = programmer;
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
    const uint16_t config = p.configWord;

    const auto start = Clock::now();
    ASSERT_TRUE(p.programAll());
    const long long programMs = millisecondsSince(start);

    // Verify: forget what was sent, read the chip back and compare.
    p.setGeometry(p.programWordCount, p.blankWord, p.eepromByteCount);
    ASSERT_TRUE(p.readAll());
    EXPECT_EQ(p.progressPosition.load(), p.progressTotal);
    EXPECT_EQ(std::vector<uint16_t>(p.programWords.begin(), p.programWords.begin() + p.programWordCount), words);
    EXPECT_EQ(std::vector<uint16_t>(p.eepromBytes.begin(), p.eepromBytes.begin() + p.eepromByteCount), eeprom);
    EXPECT_EQ(p.userId, 0xA5C3);
    EXPECT_EQ(p.configWord & configMask, config);

    // And the silicon itself holds it, not just what came back over the pipes.
    const SimChipState chip = answerer.sim().chipState();
    ASSERT_GE(chip.programWords.size(), words.size());
    EXPECT_TRUE(std::equal(words.begin(), words.end(), chip.programWords.begin()));
    EXPECT_EQ(answerer.sim().protocolErrorCount(), 0u);
    EXPECT_EQ(answerer.sim().malformedScriptCount(), 0u);
    RecordProperty("program_ms", static_cast<int>(programMs));
    RecordProperty("exchanges", static_cast<int>(answerer.sim().exchangeCount()));
}

TEST_F(LibusbSimTest, UnplugInTheMiddleOfAReadEndsItAndReplugAttachesAfresh)
{
    const DeviceRecord record = catalogueRecord("PIC16F877A");
    ASSERT_TRUE(record.valid) << record.invalidReason;
    SimAnswerer answerer(chipConfig("PIC16F877A", 16));
    EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct, &answerer);
    ASSERT_TRUE(attach(programmer, link)) << driver.lastError();
    const int firstHandle = programmer.deviceHandle;
    configure(programmer, record);
    ASSERT_TRUE(programmer.selectSocket(record.socketPins));

    // Some way into the read, the programmer stops answering and is pulled out.
    answerer.holdReadsFrom(answerer.readsAnswered() + 40);
    programmer.transferTimeoutMs = 8000;   // only the unplug can end the held read in time
    programmer.busy.store(1);
    std::atomic<bool> finished{false};
    bool result = true;
    std::thread worker([&] {
        result = programmer.readAll();
        finished.store(true);
        programmer.busy.store(0, std::memory_order_release);
    });
    const auto waitStart = Clock::now();
    while (!answerer.holdingARead() && millisecondsSince(waitStart) < 10000)
        std::this_thread::sleep_for(2ms);
    ASSERT_TRUE(answerer.holdingARead());
    std::this_thread::sleep_for(20ms);   // the read is in flight inside libusb

    usbTestbed().unplug(device);
    const auto unplugged = Clock::now();
    std::string text;
    while (millisecondsSince(unplugged) < 3000 && (text.empty() || !finished.load())) {
        const std::string now = pollConnection(programmer, link);
        if (!now.empty())
            text = now;
        std::this_thread::sleep_for(10ms);
    }
    worker.join();
    EXPECT_LT(millisecondsSince(unplugged), 1000);
    EXPECT_FALSE(result);
    EXPECT_NE(programmer.transferFailed.load(), 0);
    EXPECT_EQ(text, "Korvalin Non Connect");
    EXPECT_FALSE(link.connected);
    EXPECT_EQ(device.shutDown(), 1);
    pollConnection(programmer, link);
    EXPECT_EQ(programmer.deviceHandle, -1);
    EXPECT_EQ(device.releases(), 1);

    // Plugged in again (the same board, a new device number): attached afresh, and it works.
    SimAnswerer again(chipConfig("PIC16F877A", 8));
    usbTestbed().plug(kVendor, kProduct, &again);
    EXPECT_TRUE(attach(programmer, link)) << driver.lastError();
    EXPECT_NE(programmer.deviceHandle, firstHandle);
    EXPECT_EQ(programmer.programmerClock, 8);
    ASSERT_TRUE(programmer.selectSocket(record.socketPins));
    EXPECT_EQ(programmer.readDeviceId() & record.deviceIdMask, record.expectedDeviceId);
}

} // namespace
