// SPDX-License-Identifier: MIT
#include "SessionFixture.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdlib.h>

std::string describe(const ControlStates& s) {
    return std::string("ok=") + (s.okCancelEnabled ? "1" : "0") + " program=" +
           (s.programIsCancel ? "Cancel" : "Program") + "/" + (s.programEnabled ? "1" : "0") +
           " others=" + (s.othersEnabled ? "1" : "0");
}

std::vector<std::string> RecordingFrontend::with(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& call : calls)
        if (call.rfind(prefix, 0) == 0) out.push_back(call.substr(prefix.size()));
    return out;
}

std::string RecordingFrontend::latest(const std::string& prefix) const {
    const auto all = with(prefix);
    return all.empty() ? "" : all.back();
}

void SessionTest::open(const std::string& device, const std::string& chipName, SimConfig config,
                       const std::string& catalogue) {
    config.chip = chipName;
    closeSession();
    sim = std::make_unique<SimulatedDriver>(config);
    ASSERT_TRUE(initialiseOn(catalogue, device, {KORVALIN_DATA_DIR}));
    session->tick();
    ASSERT_EQ(session->link.connected, config.plugged);
    frontend.calls.clear();
    recorder->clear();
}

bool SessionTest::initialiseOn(const std::string& catalogue, const std::string& device,
                               std::vector<std::string> dirs) {
    closeSession();
    frontend = RecordingFrontend();
    if (!sim) sim = std::make_unique<SimulatedDriver>();
    recorder = std::make_unique<RecordingDriver>(*sim);
    session = std::make_unique<Session>(frontend, recorder.get());
    session->catalogPath = catalogue;
    session->catalogueDirs = std::move(dirs);
    session->deviceName = device;
    session->calibrationJournal = tempPath("state/korvalin-loader/calibration.log");
    return session->initialise();
}

bool SessionTest::tickUntil(const std::function<bool()>& done, int seconds,
                            const std::function<void()>& betweenTicks) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (betweenTicks) betweenTicks();
        session->tick();
    }
    return true;
}

void SessionTest::faultInStep(const std::string& step, int64_t after, bool unplug) {
    session->programmer.transferTimeoutMs = 50;
    frontend.onStatus = [this, step, after, unplug](const std::string& s) {
        if (s != step) return;
        SimFaults faults;
        (unplug ? faults.unplugAfter : faults.stallAfter) =
            static_cast<int64_t>(sim->exchangeCount()) + after;
        sim->setFaults(faults);
    };
}

std::string SessionTest::tempPath(const std::string& name) {
    if (tempDir_.empty()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "korvalin-ops-XXXXXX").string();
        if (::mkdtemp(pattern.data())) tempDir_ = pattern;
    }
    return tempDir_ + "/" + name;
}

std::string SessionTest::writeCatalogue(const std::vector<std::string>& lines) {
    const std::string path = tempPath("catalogue.txt");
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) out << line << "\r\n";
    return path;
}

std::string SessionTest::shippedLine(const std::string& device) {
    std::ifstream in(std::string(KORVALIN_DATA_DIR) + "/PicDeviceList.txt", std::ios::binary);
    std::string line, found;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(device + "\t", 0) == 0) found = line;
    }
    return found;
}

MemoryImage SessionTest::patternImage(uint16_t configWord, uint16_t userId) const {
    MemoryImage image = session->image;   // the device's geometry
    for (uint32_t i = 0; i < image.programWordCount; ++i)
        image.programWords[i] = static_cast<uint16_t>((i * 0x0107 + 0x0123) % 0x3FFF);
    for (uint32_t i = 0; i < image.eepromByteCount; ++i)
        image.eepromBytes[i] = static_cast<uint16_t>((i * 13 + 5) & 0xFF);
    image.configWord = configWord;
    image.userId = userId;
    return image;
}

void SessionTest::TearDown() {
    closeSession();
    std::error_code error;
    if (!tempDir_.empty()) std::filesystem::remove_all(tempDir_, error);
}
