// SPDX-License-Identifier: MIT
#include "programmer/usb/LibusbDriver.h"
#include "tests/usb/UsbTestbed.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

constexpr uint16_t kVendor = 0x1209;
constexpr uint16_t kProduct = 0x4B56;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = EmulatedProgrammer::Bytes;

const Bytes kIdentityAnswer{0x4B, 0x56, 0x4E, 0x01, 0, 0, 0, 0};

int openWithin(LibusbDriver& driver, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    int handle = driver.openProgrammer();
    for (; handle == -1 && Clock::now() < end; handle = driver.openProgrammer())
        std::this_thread::sleep_for(10ms);
    return handle;
}

// One exchange on raw pipes, as the Programmer makes it.
int exchange(UsbPipe* out, UsbPipe* in, const Bytes& script, Bytes& answer, int timeoutMs)
{
    if (out->write(script.data(), script.size(), timeoutMs) != static_cast<int>(script.size()))
        return -1;
    return in->read(answer.data(), answer.size(), timeoutMs);
}

// While it lives, the thread is subject to file permission checks even as root: it drops
// CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH, so the test sees what an ordinary user sees.
struct AsAnOrdinaryUser {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    bool active = false;
    AsAnOrdinaryUser()
    {
        if (syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~AsAnOrdinaryUser()
    {
        if (active)
            syscall(SYS_capset, &header, saved);
    }
};

class LibusbDriverTest : public ::testing::Test {
protected:
    void TearDown() override { usbTestbed().unplugAll(); }
    LibusbDriver driver{kVendor, kProduct};
};

// ---- Finding and opening -------------------------------------------------------------------

// A programmer found but not usable: what the user is told, whether waiting can help, and that
// the driver tries again only at its slow pace. A device that vanished while being opened is
// forgotten until it arrives again.
TEST_F(LibusbDriverTest, AProgrammerThatCannotBeUsedIsExplainedAndRetriedSlowly)
{
    enum class Obstacle { Claim, NodeClosed, NodeGone };
    const struct {
        const char* name;
        Obstacle obstacle;
        int claimError;
        bool refused;   // waiting will not help
        std::vector<std::string> said;
        bool recovers;  // opens once the obstacle is gone
    } cases[] = {
        {"in use", Obstacle::Claim, EBUSY, true, {"is in use by another program", "(USB ID 1209:4b56, 1-1)"}, true},
        {"gone while claiming", Obstacle::Claim, ENODEV, false, {"its interface cannot be claimed"}, false},
        {"node closed to this user", Obstacle::NodeClosed, 0, false,
         {"permission denied", "udev-rule 1209:4b56 | sudo ", "/install-udev-rule"}, false},
        {"node missing", Obstacle::NodeGone, 0, false, {"(USB ID 1209:4b56) was found but cannot be opened"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct);
        device.claimError = c.claimError;
        if (c.obstacle == Obstacle::NodeClosed)
            usbTestbed().denyAccess(device);
        if (c.obstacle == Obstacle::NodeGone) {
            ASSERT_TRUE(std::filesystem::remove(usbTestbed().rootDir() + device.devnode));
        }
        // Plugged in before the driver starts: its very first open meets the device.
        LibusbDriver tried(kVendor, kProduct);
        const auto refusedAt = Clock::now();
        {
            AsAnOrdinaryUser user;   // root would open a mode-000 node regardless
            ASSERT_TRUE(user.active);
            EXPECT_EQ(tried.openProgrammer(), -1);
        }
        for (const std::string& part : c.said)
            EXPECT_NE(tried.lastError().find(part), std::string::npos) << part << " in " << tried.lastError();
        EXPECT_EQ(tried.refused(), c.refused);
        EXPECT_EQ(tried.busy(), c.claimError == EBUSY);
        EXPECT_EQ(device.claims.load(), 0);

        if (c.recovers) {
            device.claimError = 0;
            const int handle = openWithin(tried, 2000ms);
            ASSERT_NE(handle, -1) << tried.lastError();
            EXPECT_GE(millisecondsSince(refusedAt), 450);
            EXPECT_EQ(tried.lastError(), "");
            EXPECT_EQ(device.claims.load(), 1);
            tried.closeProgrammer(handle);
        } else {
            // Once the programmer is unplugged, or forgotten, the reason no longer applies.
            if (c.obstacle == Obstacle::NodeClosed)
                usbTestbed().unplug(device);
            EXPECT_EQ(openWithin(tried, 600ms), -1);
            EXPECT_EQ(tried.lastError(), "");
            EXPECT_EQ(device.claims.load(), 0);
        }
        usbTestbed().unplugAll();
    }
}

// Two programmers of one ID and a keyboard on the bus, the second programmer's node closed to
// ordinary users: what the list shows, which one each choice opens, and the window's switch.
TEST_F(LibusbDriverTest, OfSeveralListsAllAndOpensOnlyTheOneChosen)
{
    EmulatedProgrammer& a = usbTestbed().plug(kVendor, kProduct, {2, "KVN-A", true});
    EmulatedProgrammer& b = usbTestbed().plug(kVendor, kProduct, {3, "KVN-B", true});
    usbTestbed().plug(0x046d, 0xc31c, {4, "", false});
    usbTestbed().denyAccess(b);
    std::vector<UsbCandidate> found;
    std::string error;
    {
        AsAnOrdinaryUser user;
        ASSERT_TRUE(user.active);
        ASSERT_TRUE(listUsbCandidates(found, error)) << error;
    }
    using Seen = std::tuple<std::string, std::string, bool, std::string>;   // path, serial, accessible, product
    std::vector<Seen> seen;
    for (const UsbCandidate& candidate : found)
        seen.emplace_back(candidate.path, candidate.serial, candidate.accessible, candidate.product);
    EXPECT_EQ(seen, (std::vector<Seen>{{"1-2", "KVN-A", true, "KVN Writer"}, {"1-3", "KVN-B", false, "KVN Writer"}}));
    // Listing claims nothing.
    EXPECT_EQ(a.claims.load() + b.claims.load(), 0);

    // Opened as root from here on: the closed node stands in the way of no choice.
    const struct {
        const char* pick;
        const char* serial;   // as remembered
        bool firstOfSeveral;
        int opensA, opensB;
        bool refused;
        const char* why;      // part of lastError when nothing opens
    } cases[] = {
        {"", "", false, 0, 0, true, "several programmers"},
        {"", "KVN-B", false, 0, 1, false, ""},
        {"1-2", "KVN-B", false, 1, 0, false, ""},   // the one-off choice wins over the remembered
        {"", "", true, 1, 0, false, ""},            // the window: the first, shown in its setup
        {"KVN-C", "", false, 0, 0, false, "\"KVN-C\" is plugged in"},
    };
    UsbChoice choice;
    choice.vendorId = kVendor;
    choice.productId = kProduct;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pick) + "/" + c.serial);
        const int claimsA = a.claims.load();
        const int claimsB = b.claims.load();
        choice.pick = c.pick;
        choice.serial = c.serial;
        choice.firstOfSeveral = c.firstOfSeveral;
        LibusbDriver chosen(choice);
        const int handle = openWithin(chosen, 300ms);
        EXPECT_EQ(handle != -1, c.opensA + c.opensB == 1) << chosen.lastError();
        EXPECT_EQ(a.claims.load() - claimsA, c.opensA);
        EXPECT_EQ(b.claims.load() - claimsB, c.opensB);
        EXPECT_EQ(chosen.refused(), c.refused);
        EXPECT_NE(chosen.lastError().find(c.why), std::string::npos) << chosen.lastError();
        if (handle != -1)
            chosen.closeProgrammer(handle);
    }

    // The window's USB setup: a new choice lets the open programmer go (as an unplug would) and
    // opens the chosen one; the first stays plugged in and can be chosen again.
    const int claimsA = a.claims.load();
    const int claimsB = b.claims.load();
    choice.pick.clear();
    choice.serial.clear();
    choice.firstOfSeveral = true;
    LibusbDriver window(choice);
    int handle = openWithin(window, 300ms);
    ASSERT_NE(handle, -1) << window.lastError();
    EXPECT_EQ(window.devicePath(), "1-2");
    const struct {
        const char* pick;
        bool letsGo;   // the open one reads as removed
        const char* opened;
    } switches[] = {{"KVN-B", true, "1-3"}, {"1-2", true, "1-2"}, {"KVN-A", false, "1-2"}};
    for (const auto& s : switches) {
        SCOPED_TRACE(s.pick);
        choice.pick = s.pick;
        window.choose(choice);
        EXPECT_EQ(window.isRemoved(handle), s.letsGo ? 1 : 0);
        if (s.letsGo) {
            window.closeProgrammer(handle);
            handle = openWithin(window, 600ms);
            ASSERT_NE(handle, -1) << window.lastError();
        }
        EXPECT_EQ(window.devicePath(), s.opened);
    }
    window.closeProgrammer(handle);
    EXPECT_EQ(a.claims.load() - claimsA, 2);
    EXPECT_EQ(b.claims.load() - claimsB, 1);
}

// ---- Finding and losing it, on hot-plug events and by scanning ------------------------------

// The driver learns of arrivals and removals from libusb's hot-plug events where there are any,
// else from a bus scan at most twice a second; both ways must work.
class LibusbDiscoveryTest : public LibusbDriverTest, public ::testing::WithParamInterface<bool> {
protected:
    LibusbDriver driver{kVendor, kProduct, GetParam()};
};

TEST_P(LibusbDiscoveryTest, AbsentCostsLittleExchangesTimeOutAndAnUnplugIsNoticed)
{
    ASSERT_EQ(driver.usesHotplug(), GetParam()) << "libusb on Linux reports hot-plug events";
    // The link poll asks every 10 ms for as long as the window is open: no bus scan each time.
    const auto start = Clock::now();
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(driver.openProgrammer(), -1);
    const uint64_t mostScans = GetParam() ? 0 : 1 + static_cast<uint64_t>(millisecondsSince(start) / 500);
    EXPECT_TRUE(driver.scanCount() <= mostScans && driver.scanCount() >= (GetParam() ? 0u : 1u)) << driver.scanCount();
    EXPECT_EQ(driver.lastError(), "");

    EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct);
    device.queueAnswer(kIdentityAnswer);
    device.queueSilence();
    device.queueSilence();
    device.queueAnswer({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});

    int handle = openWithin(driver, 1500ms);
    ASSERT_NE(handle, -1) << driver.lastError();
    EXPECT_EQ(driver.lastError(), "");
    UsbPipe* out = driver.openPipe(handle, 0, 1);
    UsbPipe* in = driver.openPipe(handle, 0, 0);
    ASSERT_TRUE(out != nullptr && in != nullptr && out != in);
    EXPECT_EQ(driver.openProgrammer(), handle) << "asked again while open: the same handle";
    Bytes answer(8);
    EXPECT_EQ(exchange(out, in, {0x80, 0x80}, answer, 1000), 8);
    EXPECT_EQ(answer, kIdentityAnswer);

    // A read that times out fails, leaves the buffer alone and is no removal; the next, shorter
    // answer arrives whole.
    answer.assign(64, 0xEE);
    const auto sent = Clock::now();
    EXPECT_EQ(exchange(out, in, {0x80, 0x05, 0x80, 0x0B, 0x80, 0x03}, answer, 200), -1);
    EXPECT_GE(millisecondsSince(sent), 150);
    EXPECT_EQ(device.discarded.load(), 1);
    EXPECT_EQ(answer, Bytes(64, 0xEE));
    EXPECT_EQ(driver.isRemoved(handle), 0);
    // A time-out of 0 still ends (libusb would wait for ever).
    EXPECT_EQ(in->read(answer.data(), answer.size(), 0), -1);
    EXPECT_EQ(device.discarded.load(), 2);
    EXPECT_EQ(exchange(out, in, {0x80, 0x00}, answer, 200), 10);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 11), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xEE}));

    driver.closeProgrammer(handle);
    driver.closeProgrammer(handle);
    EXPECT_EQ(device.releases.load(), 1);
    const uint8_t byte = 0x80;
    EXPECT_EQ(out->write(&byte, 1, 100), -1);
    EXPECT_EQ(driver.openPipe(handle, 0, 1), nullptr);
    EXPECT_NE(driver.isRemoved(handle), 0);

    // Still plugged in: it opens again, under a new handle the old one never reaches.
    const int again = driver.openProgrammer();
    ASSERT_NE(again, -1) << driver.lastError();
    EXPECT_NE(again, handle);
    EXPECT_NE(driver.openPipe(again, 0, 1), out);
    EXPECT_EQ(out->write(&byte, 1, 100), -1);
    driver.closeProgrammer(handle);
    EXPECT_EQ(device.releases.load(), 1);
    EXPECT_EQ(driver.isRemoved(again), 0);
    handle = again;
    out = driver.openPipe(handle, 0, 1);
    in = driver.openPipe(handle, 0, 0);

    // Time-outs beyond ctest's: a read that waited for its time-out instead of ending
    // with the unplug aborts the run. One is in flight when the programmer is pulled out.
    device.queueSilence();
    const int silentBefore = device.silentReads.load();
    int pendingRead = 0;
    std::thread reader([&] { pendingRead = in->read(answer.data(), answer.size(), 600000); });
    while (device.silentReads.load() == silentBefore)   // ctest's time-out ends a read never sent
        std::this_thread::sleep_for(5ms);
    usbTestbed().unplug(device);
    while (driver.isRemoved(handle) == 0)   // and a removal never noticed
        std::this_thread::sleep_for(10ms);
    reader.join();
    EXPECT_EQ(pendingRead, -1);
    EXPECT_EQ(device.shutDown.load(), 1);
    // Once it is gone, the pipes fail at once.
    EXPECT_EQ(exchange(out, in, {0x80, 0x80}, answer, 600000), -1);
    EXPECT_EQ(in->read(answer.data(), answer.size(), 600000), -1);

    driver.closeProgrammer(handle);
    EXPECT_EQ(device.releases.load(), 2);
    EXPECT_EQ(openWithin(driver, 600ms), -1);
}

INSTANTIATE_TEST_SUITE_P(Both, LibusbDiscoveryTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "HotplugEvents" : "Scanning";
                         });

} // namespace
