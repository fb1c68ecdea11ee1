// SPDX-License-Identifier: MIT
// What the window's 10 ms connection poll costs on the libusb driver while nothing happens: the
// process's CPU time over a stretch of polling, with no programmer plugged in and with one
// attached and idle. The budget is 0.5 % of one core.
//
//   korvalin_usb_idle_bench [SECONDS]          runs every case, one child process each
//   korvalin_usb_idle_bench --case NAME [SECONDS]
//
// "timer" is the bare 10 ms loop for comparison. The emulated cases run on umockdev's bus (no hardware needed); "host-bus" uses this
// machine's own USB bus, where no programmer of the bench's ID is expected.

#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"
#include "programmer/usb/LibusbDriver.h"
#include "tests/usb/UsbTestbed.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr uint16_t kVendor = 0x1209;
constexpr uint16_t kProduct = 0x4B56;
constexpr double kBudgetPercent = 0.5;

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Result {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long polls = 0;
    bool stayedAsExpected = true;
};

// Polls every 10 ms on an absolute schedule, as a window timer does, for the given time.
// Without a programmer object it measures the bare timer loop, for comparison.
Result pollFor(Programmer* programmer, LinkState& link, double seconds, bool expectConnected)
{
    Result r;
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = processCpuSeconds();
    auto next = start;
    const auto end = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(seconds));
    while (next < end) {
        if (programmer != nullptr)
            pollConnection(*programmer, link);
        if (link.connected != expectConnected)
            r.stayedAsExpected = false;
        ++r.polls;
        next += 10ms;
        std::this_thread::sleep_until(next);
    }
    r.cpuSeconds = processCpuSeconds() - cpuStart;
    r.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
}

int report(const char* what, const Result& r, const LibusbDriver* driver)
{
    const double percent = 100.0 * r.cpuSeconds / r.wallSeconds;
    std::string how = "bare 10 ms loop";
    if (driver != nullptr)
        how = std::string(driver->usesHotplug() ? "hot-plug" : "scanning") + ", " +
              std::to_string(driver->scanCount()) + " bus scans";
    std::printf("%-38s cpu %7.2f ms over %5.1f s = %5.3f %% of one core  (%ld polls, %s)%s\n", what,
                r.cpuSeconds * 1e3, r.wallSeconds, percent, r.polls, how.c_str(),
                !r.stayedAsExpected ? "  LINK STATE CHANGED" : percent > kBudgetPercent ? "  OVER BUDGET" : "");
    std::fflush(stdout);
    return (percent <= kBudgetPercent && r.stayedAsExpected) ? 0 : 1;
}

int runCase(const std::string& name, double seconds)
{
    if (name == "timer") {
        LinkState link;
        return report("timer only, no driver (baseline)", pollFor(nullptr, link, seconds, false), nullptr);
    }
    if (name == "host-bus") {
        LibusbDriver driver(kVendor, kProduct);
        Programmer programmer(&driver);
        LinkState link;
        return report("no programmer (this machine's bus)", pollFor(&programmer, link, seconds, false), &driver);
    }

    // The emulated bus must be in place before the process's first libusb_init.
    UsbTestbed testbed;
    if (!testbed.mocked()) {
        std::fprintf(stderr, "umockdev's preload library is not active\n");
        return 2;
    }
    if (name == "absent") {
        LibusbDriver driver(kVendor, kProduct);
        Programmer programmer(&driver);
        LinkState link;
        return report("no programmer (emulated bus)", pollFor(&programmer, link, seconds, false), &driver);
    }
    if (name == "attached") {
        EmulatedProgrammer& device = testbed.plug(kVendor, kProduct);
        device.queueAnswer({0x4B, 0x56, 0x4E, 0x01, 0, 0, 0, 0});
        device.queueAnswer({16, 0, 0, 0, 0, 0, 0, 0});
        LibusbDriver driver(kVendor, kProduct);
        Programmer programmer(&driver);
        LinkState link;
        for (int i = 0; i < 200 && !link.connected; ++i) {
            pollConnection(programmer, link);
            std::this_thread::sleep_for(10ms);
        }
        if (!link.connected) {
            std::fprintf(stderr, "the emulated programmer did not attach: %s\n", driver.lastError().c_str());
            return 2;
        }
        const int status = report("programmer attached, idle (emulated)", pollFor(&programmer, link, seconds, true),
                                  &driver);
        testbed.unplugAll();
        return status;
    }
    std::fprintf(stderr, "unknown case %s\n", name.c_str());
    return 2;
}

int runChild(const char* self, const char* name, const std::string& seconds)
{
    const pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, "--case", name, seconds.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return 2;
    return WEXITSTATUS(status);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--case") == 0)
        return runCase(argv[2], argc >= 4 ? std::atof(argv[3]) : 10.0);

    const std::string seconds = argc >= 2 ? argv[1] : "10";
    std::printf("libusb driver, idle connection poll every 10 ms, budget %.1f %% of one core\n", kBudgetPercent);
    std::fflush(stdout);
    int worst = 0;
    for (const char* name : {"timer", "absent", "attached", "host-bus"}) {
        const int status = runChild("/proc/self/exe", name, seconds);
        if (status > worst)
            worst = status;
    }
    return worst;
}
