#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"
#include "programmer/usb/LibusbDriver.h"
#include "tests/usb/RootFileChecks.h"
#include "tests/usb/ScriptedAnswerer.h"
#include "tests/usb/UsbTestEnvironment.h"
#include "tests/usb/UsbTestbed.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t kVendor = 0x1209;
constexpr uint16_t kProduct = 0x4B56;
const Bytes kIdentityAnswer{0x4B, 0x56, 0x4E, 0x01, 0, 0, 0, 0};
const Bytes kClockAnswer{8, 0, 0, 0, 0, 0, 0, 0};

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Polls like the front end's timer until the programmer attaches or the time is up; returns
// the last status text the polls gave ("" when none).
std::string pollUntilConnected(Programmer& programmer, LinkState& link, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    std::string last;
    while (Clock::now() < end) {
        const std::string text = pollConnection(programmer, link);
        if (!text.empty())
            last = text;
        if (text == "Korvalin Connect")
            break;
        std::this_thread::sleep_for(10ms);
    }
    return last;
}

int openWithin(LibusbDriver& driver, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    for (;;) {
        const int handle = driver.openProgrammer();
        if (handle != -1 || Clock::now() >= end)
            return handle;
        std::this_thread::sleep_for(10ms);
    }
}

class LibusbDriverTest : public ::testing::Test {
protected:
    void TearDown() override { usbTestbed().unplugAll(); }

    // One exchange on raw pipes, as the Programmer makes it.
    static int exchange(UsbPipe* out, UsbPipe* in, const Bytes& script, Bytes& answer, int timeoutMs)
    {
        if (out->write(script.data(), script.size(), timeoutMs) != static_cast<int>(script.size()))
            return -1;
        return in->read(answer.data(), answer.size(), timeoutMs);
    }
};

// ---- Finding and opening -------------------------------------------------------------------

TEST_F(LibusbDriverTest, ExchangesOneScriptThroughTheBulkPipes)
{
    ScriptedAnswerer answerer;
    answerer.queueAnswer(kIdentityAnswer);
    usbTestbed().plug(kVendor, kProduct, &answerer);

    LibusbDriver driver(kVendor, kProduct);
    const int handle = driver.openProgrammer();
    ASSERT_NE(handle, -1) << driver.lastError();
    EXPECT_EQ(driver.lastError(), "");
    UsbPipe* out = driver.openPipe(handle, 0, 1);
    UsbPipe* in = driver.openPipe(handle, 0, 0);
    ASSERT_NE(out, nullptr);
    ASSERT_NE(in, nullptr);
    EXPECT_NE(out, in);
    EXPECT_EQ(driver.openPipe(handle, 0, 2), nullptr);

    Bytes answer(8);
    EXPECT_EQ(exchange(out, in, {0x80, 0x80}, answer, 1000), 8);
    EXPECT_EQ(answer, kIdentityAnswer);
    EXPECT_EQ(answerer.scripts(), (std::vector<Bytes>{{0x80, 0x80}}));
    EXPECT_EQ(driver.isRemoved(handle), 0);
    driver.closeProgrammer(handle);
}

TEST_F(LibusbDriverTest, ADeviceWithAnotherIdIsLeftAlone)
{
    ScriptedAnswerer answerer;
    EmulatedProgrammer& other = usbTestbed().plug(kVendor, kProduct + 1, &answerer);
    LibusbDriver driver(kVendor, kProduct);
    EXPECT_EQ(openWithin(driver, 300ms), -1);
    EXPECT_EQ(other.claims(), 0);
}

TEST_F(LibusbDriverTest, AnInterfaceInUseIsReportedAndRetriedSlowly)
{
    ScriptedAnswerer answerer;
    EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct, &answerer);
    device.setClaimError(EBUSY);
    LibusbDriver driver(kVendor, kProduct);
    EXPECT_EQ(driver.openProgrammer(), -1);
    EXPECT_NE(driver.lastError().find("in use by another program"), std::string::npos) << driver.lastError();
    EXPECT_NE(driver.lastError().find("1209:4b56"), std::string::npos) << driver.lastError();

    // The other program lets go; the next slow retry takes the programmer.
    device.setClaimError(0);
    const auto start = Clock::now();
    const int handle = openWithin(driver, 2000ms);
    ASSERT_NE(handle, -1) << driver.lastError();
    EXPECT_GE(millisecondsSince(start), 300);
    EXPECT_EQ(driver.lastError(), "");
    driver.closeProgrammer(handle);
}

TEST_F(LibusbDriverTest, PermissionDeniedNamesTheUdevRule)
{
    ScriptedAnswerer answerer;
    EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct, &answerer);
    usbTestbed().denyAccess(device);
    RootFileChecks asAnOrdinaryUser;   // root would open a mode-000 node regardless
    ASSERT_TRUE(asAnOrdinaryUser.active());

    LibusbDriver driver(kVendor, kProduct);
    EXPECT_EQ(driver.openProgrammer(), -1);
    const std::string message = driver.lastError();
    EXPECT_NE(message.find("permission denied"), std::string::npos) << message;
    EXPECT_NE(message.find("data/60-korvalin.rules"), std::string::npos) << message;
    EXPECT_NE(message.find("1209:4b56"), std::string::npos) << message;
    EXPECT_NE(message.find("udevadm"), std::string::npos) << message;
    EXPECT_EQ(device.claims(), 0);

    // Once the programmer is unplugged the reason no longer applies.
    usbTestbed().unplug(device);
    EXPECT_EQ(openWithin(driver, 600ms), -1);
    EXPECT_EQ(driver.lastError(), "");
}

// ---- Transfers -----------------------------------------------------------------------------

TEST_F(LibusbDriverTest, ATimedOutReadFailsAndTheNextExchangeWorks)
{
    ScriptedAnswerer answerer;
    answerer.queueSilence();
    answerer.queueAnswer({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct, &answerer);
    LibusbDriver driver(kVendor, kProduct);
    const int handle = driver.openProgrammer();
    ASSERT_NE(handle, -1) << driver.lastError();
    UsbPipe* out = driver.openPipe(handle, 0, 1);
    UsbPipe* in = driver.openPipe(handle, 0, 0);

    Bytes answer(10, 0xEE);
    const auto start = Clock::now();
    EXPECT_EQ(exchange(out, in, {0x80, 0x05, 0x80, 0x0B, 0x80, 0x03}, answer, 200), -1);
    const long long elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 150);
    EXPECT_LT(elapsed, 1500);
    EXPECT_EQ(device.discarded(), 1);
    EXPECT_EQ(answer, Bytes(10, 0xEE));   // nothing arrived, nothing was written
    // A time-out is not a removal.
    EXPECT_EQ(driver.isRemoved(handle), 0);

    EXPECT_EQ(exchange(out, in, {0x80, 0x00}, answer, 200), 10);
    EXPECT_EQ(answer, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(device.inFlight(), 0);
    driver.closeProgrammer(handle);
}

TEST_F(LibusbDriverTest, AShortAnswerComesBackAsItsLength)
{
    ScriptedAnswerer answerer;
    answerer.queueAnswer({0x68, 0x24});
    usbTestbed().plug(kVendor, kProduct, &answerer);
    LibusbDriver driver(kVendor, kProduct);
    const int handle = driver.openProgrammer();
    ASSERT_NE(handle, -1) << driver.lastError();
    Bytes answer(64);
    EXPECT_EQ(exchange(driver.openPipe(handle, 0, 1), driver.openPipe(handle, 0, 0), {0x84, 0x04}, answer, 500), 2);
    EXPECT_EQ(answer[0], 0x68);
    EXPECT_EQ(answer[1], 0x24);
    driver.closeProgrammer(handle);
}

TEST_F(LibusbDriverTest, CloseReleasesOnceAndStaleHandlesGetNothing)
{
    ScriptedAnswerer answerer;
    EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct, &answerer);
    LibusbDriver driver(kVendor, kProduct);
    const int handle = driver.openProgrammer();
    ASSERT_NE(handle, -1) << driver.lastError();
    UsbPipe* out = driver.openPipe(handle, 0, 1);

    driver.closeProgrammer(handle);
    driver.closeProgrammer(handle);
    EXPECT_EQ(device.releases(), 1);
    const uint8_t byte = 0x80;
    EXPECT_EQ(out->write(&byte, 1, 100), -1);
    EXPECT_EQ(driver.openPipe(handle, 0, 1), nullptr);
    EXPECT_NE(driver.isRemoved(handle), 0);

    // Still plugged in: it opens again, under a new handle.
    const int again = driver.openProgrammer();
    ASSERT_NE(again, -1) << driver.lastError();
    EXPECT_NE(again, handle);
    EXPECT_NE(driver.openPipe(again, 0, 1), out);
    EXPECT_EQ(out->write(&byte, 1, 100), -1);   // an old pipe never reaches the new handle
    EXPECT_EQ(answerer.scripts().size(), 0u);
    driver.closeProgrammer(handle);   // the old handle no longer closes anything
    EXPECT_EQ(device.releases(), 1);
    EXPECT_EQ(driver.isRemoved(again), 0);
    driver.closeProgrammer(again);
    EXPECT_EQ(device.releases(), 2);
}

// ---- Finding and losing it, on hot-plug events and by scanning ------------------------------

// The driver learns of arrivals and removals from libusb's hot-plug events where there are any,
// else from a bus scan at most twice a second; both ways must work.
class LibusbDiscoveryTest : public LibusbDriverTest, public ::testing::WithParamInterface<bool> {
protected:
    LibusbDriver driver{kVendor, kProduct, GetParam()};
    // How long either way may take to notice a change.
    static constexpr auto kNoticeLimit = 1500ms;
};

TEST_P(LibusbDiscoveryTest, LookingForAnAbsentProgrammerIsCheap)
{
    if (GetParam())
        ASSERT_TRUE(driver.usesHotplug()) << "libusb on Linux reports hot-plug events";
    else
        ASSERT_FALSE(driver.usesHotplug());
    // The link poll asks every 10 ms for as long as the window is open.
    const auto start = Clock::now();
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(driver.openProgrammer(), -1);
        if (!GetParam() && i % 50 == 0)
            std::this_thread::sleep_for(10ms);
    }
    const long long elapsed = millisecondsSince(start);
    if (driver.usesHotplug())
        EXPECT_EQ(driver.scanCount(), 0u);
    else
        EXPECT_LE(driver.scanCount(), 1u + static_cast<uint64_t>(elapsed / 500));
    EXPECT_GE(driver.scanCount(), driver.usesHotplug() ? 0u : 1u);
    EXPECT_LT(elapsed, 1000) << "500 opens took " << elapsed << " ms";
    EXPECT_EQ(driver.lastError(), "");
}

TEST_P(LibusbDiscoveryTest, AProgrammerPluggedInLaterIsFound)
{
    ASSERT_EQ(driver.openProgrammer(), -1);
    ScriptedAnswerer answerer;
    EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct, &answerer);
    const int handle = openWithin(driver, kNoticeLimit);
    ASSERT_NE(handle, -1) << driver.lastError();
    EXPECT_EQ(device.claims(), 1);
    driver.closeProgrammer(handle);
}

TEST_P(LibusbDiscoveryTest, AnIdleUnplugIsNoticedAndPipesFailAtOnce)
{
    ScriptedAnswerer answerer;
    EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct, &answerer);
    const int handle = openWithin(driver, kNoticeLimit);
    ASSERT_NE(handle, -1) << driver.lastError();
    UsbPipe* out = driver.openPipe(handle, 0, 1);
    UsbPipe* in = driver.openPipe(handle, 0, 0);

    usbTestbed().unplug(device);
    const auto start = Clock::now();
    while (driver.isRemoved(handle) == 0 && millisecondsSince(start) < 3000)
        std::this_thread::sleep_for(10ms);
    EXPECT_NE(driver.isRemoved(handle), 0);
    EXPECT_LT(millisecondsSince(start), std::chrono::milliseconds(kNoticeLimit).count());

    const auto failStart = Clock::now();
    Bytes answer(8);
    EXPECT_EQ(exchange(out, in, {0x80, 0x80}, answer, 5000), -1);
    EXPECT_EQ(in->read(answer.data(), answer.size(), 5000), -1);
    EXPECT_LT(millisecondsSince(failStart), 100);

    driver.closeProgrammer(handle);
    EXPECT_EQ(device.releases(), 1);
    EXPECT_EQ(openWithin(driver, 600ms), -1);
}

INSTANTIATE_TEST_SUITE_P(Both, LibusbDiscoveryTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "HotplugEvents" : "Scanning";
                         });

// ---- Through the link poll and the Programmer ----------------------------------------------

class LibusbLinkTest : public LibusbDriverTest {
protected:
    LibusbDriver driver{kVendor, kProduct};
    Programmer programmer{&driver};
    LinkState link;
};

TEST_F(LibusbLinkTest, AttachSendsTheIdentityThenTheClockQuery)
{
    ScriptedAnswerer answerer;
    answerer.queueAnswer(kIdentityAnswer);
    answerer.queueAnswer(kClockAnswer);
    usbTestbed().plug(kVendor, kProduct, &answerer);

    // Plugged in after the driver started: found on the hot-plug event, a moment later.
    ASSERT_EQ(pollUntilConnected(programmer, link, 2000ms), "Korvalin Connect");
    EXPECT_TRUE(link.connected);
    EXPECT_EQ(answerer.scripts(), (std::vector<Bytes>{{0x80, 0x80}, {0x80, 0x81}}));
    EXPECT_EQ(answerer.readsAnswered(), 2);
    EXPECT_EQ(programmer.programmerClock, 8);
    EXPECT_EQ(pollConnection(programmer, link), "");
    EXPECT_EQ(answerer.scripts().size(), 2u);
}

TEST_F(LibusbLinkTest, NoProgrammerAtStartSaysSoOnce)
{
    EXPECT_EQ(pollConnection(programmer, link), "Korvalin Non Connect");
    EXPECT_FALSE(link.connected);
    EXPECT_EQ(pollConnection(programmer, link), "");
    EXPECT_EQ(programmer.deviceHandle, -1);
}

TEST_F(LibusbLinkTest, UnplugDuringAReadEndsTheOperationAndReplugAttachesAfresh)
{
    ScriptedAnswerer answerer;
    answerer.queueAnswer(kIdentityAnswer);
    answerer.queueAnswer(kClockAnswer);
    answerer.queueSilence();   // the first answer of the read never comes
    EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct, &answerer);
    ASSERT_EQ(pollUntilConnected(programmer, link, 2000ms), "Korvalin Connect");
    const int firstHandle = programmer.deviceHandle;

    // Long enough that only the unplug can end the pending read in time.
    programmer.transferTimeoutMs = 8000;
    programmer.setGeometry(64, 0x3FFF, 0);
    programmer.busy.store(1);
    std::atomic<bool> finished{false};
    bool result = true;
    std::thread worker([&] {
        result = programmer.readAll();
        finished.store(true);
        programmer.busy.store(0, std::memory_order_release);
    });
    const auto waitStart = Clock::now();
    while (answerer.readsLeftSilent() == 0 && millisecondsSince(waitStart) < 5000)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(answerer.readsLeftSilent(), 1);

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
    EXPECT_EQ(text, "Korvalin Non Connect");
    EXPECT_FALSE(link.connected);
    EXPECT_EQ(device.shutDown(), 1);

    // The worker has finished: the next polls close the programmer, exactly once.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pollConnection(programmer, link), "");
    EXPECT_EQ(programmer.deviceHandle, -1);
    EXPECT_EQ(programmer.writePipe, nullptr);
    EXPECT_EQ(device.releases(), 1);

    ScriptedAnswerer second;
    second.queueAnswer(kIdentityAnswer);
    second.queueAnswer({16, 0, 0, 0, 0, 0, 0, 0});
    EmulatedProgrammer& again = usbTestbed().plug(kVendor, kProduct, &second);
    EXPECT_EQ(pollUntilConnected(programmer, link, 2000ms), "Korvalin Connect");
    EXPECT_NE(programmer.deviceHandle, firstHandle);
    EXPECT_EQ(second.scripts(), (std::vector<Bytes>{{0x80, 0x80}, {0x80, 0x81}}));
    EXPECT_EQ(programmer.programmerClock, 16);
    EXPECT_EQ(again.claims(), 1);
}

} // namespace
