#include "SessionFixture.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

class RecordingDriver::Pipe : public UsbPipe {
public:
    Pipe(RecordingDriver& owner, UsbPipe* inner) : owner_(owner), inner_(inner) {}
    int write(const uint8_t* data, std::size_t length, int timeoutMs) override {
        owner_.recordWrite(data, length);
        return inner_ ? inner_->write(data, length, timeoutMs) : -1;
    }
    int read(uint8_t* data, std::size_t length, int timeoutMs) override {
        return inner_ ? inner_->read(data, length, timeoutMs) : -1;
    }

private:
    RecordingDriver& owner_;
    UsbPipe* inner_;
};

RecordingDriver::RecordingDriver(UsbDriver& inner) : inner_(inner) {}
RecordingDriver::~RecordingDriver() = default;

UsbPipe* RecordingDriver::openPipe(int handle, int reserved, int index) {
    UsbPipe* inner = inner_.openPipe(handle, reserved, index);
    std::lock_guard<std::mutex> lock(mutex_);
    pipes_[handle].push_back(std::make_unique<Pipe>(*this, inner));
    return pipes_[handle].back().get();
}

void RecordingDriver::recordWrite(const uint8_t* data, std::size_t length) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (holdAt_ >= 0 && std::this_thread::get_id() != gateSetter_ &&
        scripts_.size() - base_ >= static_cast<std::size_t>(holdAt_)) {
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return holdAt_ < 0; });
        held_ = false;
    }
    scripts_.emplace_back(data, data + length);
}

std::vector<std::vector<uint8_t>> RecordingDriver::scripts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scripts_;
}

std::size_t RecordingDriver::writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scripts_.size();
}

void RecordingDriver::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_.clear();
    base_ = 0;
}

void RecordingDriver::holdAt(std::size_t writeIndex) {
    std::lock_guard<std::mutex> lock(mutex_);
    base_ = scripts_.size();
    holdAt_ = static_cast<int64_t>(writeIndex);
    gateSetter_ = std::this_thread::get_id();
}

bool RecordingDriver::waitUntilHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return held_; });
}

bool RecordingDriver::isHeld() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
}

void RecordingDriver::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    holdAt_ = -1;
    changed_.notify_all();
}

std::string shippedCataloguePath() {
    return std::string(KORVALIN_DATA_DIR) + "/PicDeviceList.txt";
}

std::vector<std::string> callsFrom(const std::vector<std::string>& calls, const std::string& first) {
    for (std::size_t i = 0; i < calls.size(); ++i)
        if (calls[i].rfind(first, 0) == 0) return {calls.begin() + static_cast<long>(i), calls.end()};
    return {};
}

void SessionTest::open(const std::string& device, const std::string& chipName, SimConfig config,
                       const std::string& catalogue) {
    config.chip = chipName;
    sim = std::make_unique<SimulatedDriver>(config);
    recorder = std::make_unique<RecordingDriver>(*sim);
    session = std::make_unique<Session>(frontend, recorder.get());
    if (catalogue.empty())
        session->catalogueDirs = {KORVALIN_DATA_DIR};
    else
        session->catalogPath = catalogue;
    session->deviceName = device;
    ASSERT_TRUE(session->initialise());
    session->tick();
    ASSERT_EQ(session->link.connected, config.plugged);
    frontend.clear();
    recorder->clear();
}

bool SessionTest::runChain(const std::function<void()>& betweenTicks) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (session->chainRunning()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (betweenTicks) betweenTicks();
        session->tick();
    }
    return true;
}

void SessionTest::press(void (Session::*button)()) {
    (session.get()->*button)();
    ASSERT_TRUE(runChain());
}

std::string SessionTest::tempPath(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info->name();
    for (char& c : test)
        if (c == '/') c = '_';
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("korvalin-ops-" + std::to_string(::getpid()) + "-" + test + "-" + name))
                                 .string();
    tempFiles_.push_back(path);
    return path;
}

std::string SessionTest::writeCatalogue(const std::string& name, const std::vector<std::string>& lines) {
    const std::string path = tempPath(name);
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) out << line << "\r\n";
    return path;
}

std::string SessionTest::shippedLine(const std::string& device) {
    std::ifstream in(shippedCataloguePath(), std::ios::binary);
    std::string line, found;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(device + "\t", 0) == 0) found = line;
    }
    return found;
}

MemoryImage SessionTest::patternImage(uint16_t configWord, uint16_t userId) const {
    MemoryImage image;
    image.resize(session->image.programWordCount, session->image.blankWord,
                 session->image.eepromByteCount);
    image.setFamily(session->image.family);
    for (uint32_t i = 0; i < image.programWordCount; ++i)
        image.programWords[i] = static_cast<uint16_t>((i * 0x0107 + 0x0123) % 0x3FFF);
    for (uint32_t i = 0; i < image.eepromByteCount; ++i)
        image.eepromBytes[i] = static_cast<uint16_t>((i * 13 + 5) & 0xFF);
    image.configWord = configWord;
    image.userId = userId;
    return image;
}

void SessionTest::openImage(const MemoryImage& image) {
    const std::string path = tempPath("image.hex");
    ASSERT_TRUE(image.saveHex(path, true, 0x3FFF));
    ASSERT_TRUE(session->openHexFile(path));
}

void SessionTest::TearDown() {
    if (recorder) recorder->release();
    session.reset();
    for (const std::string& path : tempFiles_) {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
}
