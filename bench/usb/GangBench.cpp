// SPDX-License-Identifier: MIT
// The costs of finding and sharing programmers, on umockdev's emulated bus (no hardware):
//   - usb-list: the candidate list with 20 devices plugged in, 2 of them shaped like the
//     programmer; budget 100 ms.
//   - two programmers programmed in parallel against one alone; budget 1.1x. Once in one
//     process (a driver and a thread each, one emulated bus), once as a bench runs it: one
//     process per programmer, each with its own emulated bus. The simulator answers in
//     modelled time: the emulated bus hands each read to it with no time to wait, so its
//     real-time model cannot stand behind umockdev.
//
//   korvalin_usb_gang_bench [ROUNDS]

#include "device/Catalogue.h"
#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"
#include "programmer/usb/LibusbDriver.h"
#include "sim/SimulatedDriver.h"
#include "tests/usb/UsbTestbed.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Polls like the front end's timer until the programmer attaches or the time is up (a device
// plugged in after the driver started is heard of a moment later); the last status text the
// polls gave, "" when none.
std::string pollUntilConnected(Programmer& programmer, LinkState& link,
                               std::chrono::milliseconds limit = std::chrono::seconds(2))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string last;
    while (std::chrono::steady_clock::now() < end && last != "Korvalin Connect") {
        if (std::string text = pollConnection(programmer, link); !text.empty())
            last = text;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return last;
}

using Clock = std::chrono::steady_clock;
constexpr uint16_t kVendor = 0x1209;
constexpr uint16_t kProduct = 0x4B56;
constexpr const char* kChip = "PIC16F84A";

UsbTestbed* bed = nullptr;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One programmer with its simulated chip, reached through libusb.
struct Station {
    explicit Station(const std::string& serial, int port)
    {
        SimConfig config;
        config.chip = kChip;
        sim = std::make_unique<SimulatedDriver>(config);
        const int handle = sim->openProgrammer();
        bed->plug(kVendor, kProduct, {port, serial, true}).forwardTo(sim->openPipe(handle, 0, 1), sim->openPipe(handle, 0, 0));
        UsbChoice choice;
        choice.vendorId = kVendor;
        choice.productId = kProduct;
        choice.pick = serial;
        driver = std::make_unique<LibusbDriver>(choice);
        programmer = std::make_unique<Programmer>(driver.get());
    }
    std::unique_ptr<SimulatedDriver> sim;
    std::unique_ptr<LibusbDriver> driver;
    std::unique_ptr<Programmer> programmer;
    LinkState link;
};

bool prepare(Station& s, const DeviceRecord& record)
{
    if (pollUntilConnected(*s.programmer, s.link) != "Korvalin Connect")
        return false;
    Programmer& p = *s.programmer;
    p.setGeometry(static_cast<uint32_t>(record.programWordCount), record.blankWord,
                  static_cast<uint32_t>(record.eepromByteCount));
    p.setMethods(record.entrySequence, record.programMethod, record.eepromMethod, record.family,
                 record.reservedValue, record.blockWords, record.eraseMethod);
    for (uint32_t i = 0; i < p.programWordCount; ++i)
        p.programWords[i] = static_cast<uint16_t>((i * 7) & p.blankWord);
    return p.selectSocket(record.socketPins);
}

double programAll(std::vector<Station*> stations)
{
    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (Station* s : stations)
        workers.emplace_back([s] { s->programmer->programAll(); });
    for (std::thread& t : workers)
        t.join();
    return msSince(start);
}

// Child: one programmer on its own emulated bus, programmed once.
int runStation()
{
    UsbTestbed testbed;
    if (!testbed.mocked())
        return 1;
    bed = &testbed;
    const DeviceRecord record =
        findCatalogueDevice(std::string(KORVALIN_DATA_DIR) + "/PicDeviceList.txt", kChip).record;
    Station station("KVN-A", 2);
    if (!record.valid || !prepare(station, record))
        return 1;
    const bool ok = station.programmer->programAll();
    testbed.unplugAll();
    return ok ? 0 : 1;
}

double stationsInProcesses(const char* self, int count)
{
    const auto start = Clock::now();
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            execl(self, self, "--station", static_cast<char*>(nullptr));
            _exit(127);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::fprintf(stderr, "a station failed\n");
    }
    return msSince(start);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--station") == 0)
        return runStation();
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    UsbTestbed testbed;
    if (!testbed.mocked()) {
        std::fprintf(stderr, "umockdev's preload library is not active\n");
        return 1;
    }
    bed = &testbed;
    bool withinBudget = true;

    // 18 other devices and 2 candidates.
    {
        for (int port = 1; port <= 20; ++port) {
            const bool candidate = port == 7 || port == 15;
            testbed.plug(candidate ? kVendor : static_cast<uint16_t>(0x1000 + port), kProduct,
                         {port, candidate ? "KVN-" + std::to_string(port) : "", candidate});
        }
        std::vector<double> times;
        std::size_t found = 0;
        for (int i = 0; i < rounds * 5; ++i) {
            std::vector<UsbCandidate> list;
            std::string error;
            const auto start = Clock::now();
            listUsbCandidates(list, error);
            times.push_back(msSince(start));
            found = list.size();
        }
        const double ms = median(times);
        std::printf("usb-list, 20 devices, %zu candidates: median %.1f ms (budget 100 ms)\n", found, ms);
        withinBudget = withinBudget && ms < 100.0 && found == 2;
        testbed.unplugAll();
    }

    // One alone, then two side by side.
    const DeviceRecord record =
        findCatalogueDevice(std::string(KORVALIN_DATA_DIR) + "/PicDeviceList.txt", kChip).record;
    Station a("KVN-A", 2);
    Station b("KVN-B", 3);
    if (!record.valid || !prepare(a, record) || !prepare(b, record)) {
        std::fprintf(stderr, "the emulated programmers did not attach\n");
        return 1;
    }
    std::vector<double> alone;
    std::vector<double> together;
    for (int i = 0; i < rounds; ++i) {
        alone.push_back(programAll({&a}));
        together.push_back(programAll({&a, &b}));
    }
    const double ratio = median(together) / median(alone);
    std::printf("program %s, one process: one alone %.0f ms, two in parallel %.0f ms, ratio %.2f (budget 1.10)\n",
                kChip, median(alone), median(together), ratio);
    testbed.unplugAll();

    std::vector<double> aloneApart;
    std::vector<double> togetherApart;
    for (int i = 0; i < rounds; ++i) {
        aloneApart.push_back(stationsInProcesses(argv[0], 1));
        togetherApart.push_back(stationsInProcesses(argv[0], 2));
    }
    const double ratioApart = median(togetherApart) / median(aloneApart);
    std::printf("program %s, a process each: one alone %.0f ms, two in parallel %.0f ms, ratio %.2f (budget 1.10)\n",
                kChip, median(aloneApart), median(togetherApart), ratioApart);
    withinBudget = withinBudget && std::max(ratio, ratioApart) <= 1.10;
    return withinBudget ? 0 : 2;
}
