// SPDX-License-Identifier: MIT
// The whole path a real programmer's traffic takes, without the programmer: korvalin-cli ->
// LibusbDriver -> libusb -> usbfs ioctls (umockdev) -> the simulated programmer and chip.

#include "device/Catalogue.h"
#include "programmer/usb/LibusbDriver.h"
#include "sim/SimulatedDriver.h"
#include "tests/usb/UsbTestbed.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr uint16_t kVendor = 0x1209;
constexpr uint16_t kProduct = 0x4B56;

#ifdef KORVALIN_CLI
// One korvalin-cli on the emulated bus: the preload library and the testbed's folder let it see
// exactly the devices this process has plugged in, answered by this process.
class CliProcess {
public:
    CliProcess(const std::string& dir, const std::string& name, const std::vector<std::string>& args)
        : output_(dir + "/" + name + ".txt")
    {
        // None of the caller's choices reach the child: only the ones made here.
        const char* asan = std::getenv("ASAN_OPTIONS");
        std::vector<std::string> argv{"/usr/bin/env", "-u", "KORVALIN_SIM", "-u", "KORVALIN_TRACE", "-u", "KORVALIN_USB",
                                      "-u", "KORVALIN_LANG", std::string("LD_PRELOAD=") + UMOCKDEV_PRELOAD,
                                      "UMOCKDEV_DIR=" + usbTestbed().rootDir(), "XDG_CONFIG_HOME=" + dir + "/config",
                                      "KORVALIN_USB_ID=1209:4b56",
                                      std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0",
                                      KORVALIN_CLI, "-q", "--catalogue", std::string(KORVALIN_DATA_DIR) + "/PicDeviceList.txt"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> argp;
        for (std::string& a : argv)
            argp.push_back(a.data());
        argp.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&files, 1, 2);
        if (posix_spawn(&pid_, argp[0], &files, nullptr, argp.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&files);
    }

    bool running()
    {
        return pid_ > 0 && status_ < 0 && waitpid(pid_, &status_, WNOHANG) == 0 ? (status_ = -1, true) : false;
    }
    int exitCode()
    {
        if (pid_ > 0 && status_ < 0)
            waitpid(pid_, &status_, 0);
        return status_ >= 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    // Standard output and error, interleaved as written.
    std::string output() const
    {
        std::ifstream file(output_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    std::string output_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// A production bench: two programmers of one ID told apart by serial and by place, two runs side
// by side, each on its own chip, and a third run that finds its programmer taken.
TEST(LibusbSimTest, TwoProgrammersWorkSideBySideAndABusyOneIsRefusedAtOnce)
{
    char dirTemplate[] = "/tmp/korvalin-gang-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    struct Station {
        const char* serial;
        int port;
        std::unique_ptr<SimulatedDriver> sim;
    };
    Station stations[2] = {{"KVN-A", 2, nullptr}, {"KVN-B", 3, nullptr}};
    // Nothing plugged in: nothing to list.
    CliProcess none(dir, "none", {"-vv", "usb-list"});
    EXPECT_EQ(none.exitCode(), 3) << none.output();
    EXPECT_NE(none.output().find("no USB device that can be the programmer is plugged in"), std::string::npos);

    EmulatedProgrammer* a = nullptr;
    EmulatedProgrammer* b = nullptr;
    for (Station& s : stations) {
        SimConfig config;
        config.chip = "PIC16F84A";
        s.sim = std::make_unique<SimulatedDriver>(config);
        const int handle = s.sim->openProgrammer();
        ASSERT_NE(handle, -1);
        EmulatedProgrammer& device = usbTestbed().plug(kVendor, kProduct, {s.port, s.serial, true});
        device.forwardTo(s.sim->openPipe(handle, 0, 1), s.sim->openPipe(handle, 0, 0));
        (a == nullptr ? a : b) = &device;
    }
    // Two more of another ID that cannot be asked: one another program holds, one that never
    // answers.
    EmulatedProgrammer& held = usbTestbed().plug(kVendor, kProduct + 1, {4, "", true});
    held.claimError = EBUSY;
    EmulatedProgrammer& mute = usbTestbed().plug(kVendor, kProduct + 1, {5, "", true});
    mute.queueSilence();
    // The list tells them apart and, asked, each answers as the programmer does.
    CliProcess list(dir, "list", {"usb-list", "--probe", "--usb", "KVN-B"});
    ASSERT_EQ(list.exitCode(), 0) << list.output();
    for (const char* line : {"1-2  1209:4b56  manufacturer \"Tessmark\"  product \"KVN Writer\"  serial \"KVN-A\"\n",
                             "1-3  1209:4b56  manufacturer \"Tessmark\"  product \"KVN Writer\"  serial \"KVN-B\"  (configured)\n",
                             "    probe: identity 4B564E01, clock 16 MHz\n",
                             "1-4  1209:4b57  manufacturer \"Tessmark\"  product \"KVN Writer\"  serial -\n",
                             "    probe: the programmer (USB ID 1209:4b57, 1-4) is in use by another program",
                             "1-5  1209:4b57  manufacturer \"Tessmark\"  product \"KVN Writer\"  serial -\n"
                             "    this user may open it\n    probe: no answer to the programmer's queries\n"})
        EXPECT_NE(list.output().find(line), std::string::npos) << line << " in\n" << list.output();
    usbTestbed().unplug(held);
    usbTestbed().unplug(mute);
    EXPECT_EQ(a->claims.load(), 1) << "the probe opens each candidate once";
    EXPECT_EQ(a->releases.load(), 1);

    // Different files, so that a run that reached the other's chip shows.
    const std::string fileB = dir + "/retlw.hex";
    std::ofstream(fileB) << ":020000000034CA\n:00000001FF\n";
    // One by serial number, the other by its place on the bus.
    // The second starts once the first holds its programmer: two libusb start-ups at the same
    // instant can fail inside the emulated bus (not on a real one), which is not what this tests.
    auto waitForClaim = [](EmulatedProgrammer* device, const CliProcess& run) {
        const auto start = std::chrono::steady_clock::now();
        while (device->claims.load() == 1 && millisecondsSince(start) < 20000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(device->claims.load(), 2) << run.output();
    };
    CliProcess first(dir, "first", {"-d", "PIC16F84A", "--usb", "KVN-A", "program",
                                    std::string(KORVALIN_DATA_DIR) + "/../tests/data/cli-small-16f84a.hex"});
    ASSERT_NO_FATAL_FAILURE(waitForClaim(a, first));
    CliProcess second(dir, "second", {"-d", "PIC16F84A", "--usb", "1-3", "program", fileB});
    ASSERT_NO_FATAL_FAILURE(waitForClaim(b, second));

    // At once, not after the attach time-out: a run that waited would retry the claim (every
    // half second, for a second) and so try more than once.
    const int attempts = a->claimAttempts.load();
    CliProcess third(dir, "third", {"-d", "PIC16F84A", "--usb", "KVN-A", "detect"});
    EXPECT_EQ(third.exitCode(), 3) << third.output();
    EXPECT_EQ(a->claimAttempts.load() - attempts, 1) << "the busy programmer must be reported at once";
    ASSERT_TRUE(first.running()) << "the first run ended before the third could find its programmer taken";
    EXPECT_NE(third.output().find("in use by another program"), std::string::npos) << third.output();

    EXPECT_EQ(first.exitCode(), 0) << first.output();
    EXPECT_EQ(second.exitCode(), 0) << second.output();
    for (CliProcess* run : {&first, &second})
        EXPECT_NE(run->output().find("Program Verify - OK"), std::string::npos) << run->output();
    // Each chip holds its own program: nothing crossed over.
    const SimChipState chipA = stations[0].sim->chipState();
    const SimChipState chipB = stations[1].sim->chipState();
    EXPECT_EQ(chipA.programWords.at(0), 0x3001);
    EXPECT_EQ(chipB.programWords.at(0), 0x3400);
    EXPECT_EQ(stations[0].sim->protocolErrorCount() + stations[1].sim->protocolErrorCount(), 0u);
    usbTestbed().unplugAll();
    std::filesystem::remove_all(dir);
}
#endif

} // namespace
