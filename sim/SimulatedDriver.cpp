// SPDX-License-Identifier: MIT
#include "sim/SimulatedDriver.h"

#include "sim/SimChip.h"
#include "sim/SimImageFile.h"

#include "device/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;

SimPosition resolvePosition(const SimChipInfo& info, SimPosition position) {
    if (position != SimPosition::Auto) return position;
    if (info.pins == 8 || info.pins == 18) return SimPosition::Socket8_18;
    if (info.pins == 28 || info.pins == 40) return SimPosition::Socket28_40;
    return SimPosition::Icsp;
}

} // namespace

struct SimulatedDriver::Impl {
    class Pipe : public UsbPipe {
    public:
        Pipe(Impl& impl, int handle, int index) : impl_(impl), handle_(handle), index_(index) {}
        int write(const uint8_t* data, std::size_t length, int timeoutMs) override {
            return impl_.pipeWrite(handle_, index_, data, length, timeoutMs);
        }
        int read(uint8_t* data, std::size_t length, int timeoutMs) override {
            return impl_.pipeRead(handle_, index_, data, length, timeoutMs);
        }

    private:
        Impl& impl_;
        int handle_;
        int index_;
    };

    explicit Impl(SimConfig c)
        : config(std::move(c)), firmware(config.clock, config.identity), plugged(config.plugged),
          rng(0x5DEECE66Dull ^ config.faults.seed) {}

    mutable std::mutex mutex;
    std::condition_variable changed;
    SimConfig config;
    SimFirmware firmware;
    std::unique_ptr<SimChip> chip;
    SimPosition chipPosition = SimPosition::Icsp;
    bool plugged;
    int currentHandle = -1;
    int nextHandle = 1;
    std::vector<std::unique_ptr<Pipe>> pipes;

    std::optional<std::vector<uint8_t>> pending;
    bool pendingShort = false;
    bool pendingFlip = false;
    Clock::time_point readyAt{};
    bool stalled = false;

    uint64_t exchanges = 0;
    uint64_t closes = 0;
    uint64_t malformed = 0;
    uint64_t protocolErrors = 0;
    uint64_t rng;
    bool imageWritable = true;
    std::string imageError;   // why the image file is not kept; "" while it is
    int imageLockFd = -1;

    ~Impl() {
        if (imageLockFd >= 0) ::close(imageLockFd);
    }

    void refuseImage(std::string why) {
        imageWritable = false;
        imageError = std::move(why);
    }

    // Two processes on one image would each write back their own chip and lose the other's
    // work. The lock lives in a file of its own beside the image: the image itself is replaced
    // by every save, and a lock on the replaced file would guard nothing.
    bool lockImage() {
        std::string target = config.imageFile;
        if (char* resolved = ::realpath(target.c_str(), nullptr)) {
            target = resolved;   // two links to one image share one lock
            std::free(resolved);
        }
        const std::string::size_type slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        const std::string lockPath = folder + (slash == std::string::npos ? "/." : ".") +
                                     base.substr(0, 240) + ".lock";
        imageLockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (imageLockFd < 0) return true;   // an unwritable folder fails at the save, plainly
        if (::flock(imageLockFd, LOCK_EX | LOCK_NB) == 0) return true;
        ::close(imageLockFd);
        imageLockFd = -1;
        return false;
    }

    // The kept chip, when the image file holds this chip; otherwise the file is refused and
    // left as it is: it is someone's file, or another chip's.
    void openImage(const SimChipInfo& info) {
        const std::string& path = config.imageFile;
        if (!lockImage()) return refuseImage("another process is using it");
        struct stat file{};
        if (::stat(path.c_str(), &file) != 0) {
            if (errno == ENOENT) return;   // a new image
            return refuseImage("it cannot be read");
        }
        if (!S_ISREG(file.st_mode)) return refuseImage("it is not a regular file");
        if ((file.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0)
            return refuseImage("it is read-only");
        std::string text;
        if (!readWholeFile(path, text))
            return refuseImage("it cannot be read, or is far larger than any chip image");
        SimChipState state;
        std::string error;
        if (!parseSimImage(text, state, error))
            return refuseImage("it holds something else than a chip image (" + error + ")");
        if (state.device != info.name)
            return refuseImage("it holds a " + state.device + ", not the " + info.name +
                               " being simulated");
        applyState(state);
    }
    int trayIndex = 0;

    bool alive(int handle) const { return plugged && handle == currentHandle && handle != -1; }

    void dropLink() {
        pending.reset();
        stalled = false;
        changed.notify_all();
    }

    void unplugLocked() {
        if (!plugged) return;
        plugged = false;
        currentHandle = -1;
        firmware.powerOff(chip.get(), chipPosition);
        dropLink();
    }

    void applyFaults() {
        if (!chip) return;
        chip->noProgramAddress = config.faults.noProgramAddress;
        chip->refusesProgramming = config.trayFail > 0 && trayIndex == config.trayFail;
        chip->slowFactor = config.faults.slowFactor;
        chip->slowest = config.faults.slowest;
    }

    void placeChip(const SimChipInfo& info, SimPosition position) {
        if (chip) chip->setPins(false, false, firmware.now);
        chip = std::make_unique<SimChip>(info, config.faults.seed);
        chipPosition = resolvePosition(info, position);
        applyFaults();
        firmware.applyPins(chip.get(), chipPosition);
    }

    void applyState(const SimChipState& s) {
        chip->program = s.programWords;
        chip->eeprom = s.eepromBytes;
        std::copy(std::begin(s.userIds), std::end(s.userIds), chip->userIds);
        for (auto& id : chip->userIds) id &= 0x3FFF;
        chip->config = s.configWord & chip->info().configMask;
        chip->config2 = s.configWord2 & chip->info().config2Mask;
        chip->deviceIdWord = s.deviceIdWord & 0x3FFF;
        chip->factoryCalibrationWord = s.factoryCalibrationWord;
        chip->factoryCalibrationBits = s.factoryCalibrationBits;
    }

    SimChipState snapshot() const {
        SimChipState s;
        if (!chip) return s;
        chip->settle(firmware.now);
        s.present = true;
        s.device = chip->info().name;
        s.programWords = chip->program;
        s.eepromBytes = chip->eeprom;
        std::copy(std::begin(chip->userIds), std::end(chip->userIds), s.userIds);
        s.configWord = chip->config;
        s.configWord2 = chip->config2;
        s.deviceIdWord = chip->deviceIdWord;
        s.factoryCalibrationWord = chip->factoryCalibrationWord;
        s.factoryCalibrationBits = chip->factoryCalibrationBits;
        return s;
    }

    bool saveLocked() const {
        if (config.imageFile.empty() || !chip || !imageWritable) return false;
        return writeFileAtomically(config.imageFile, formatSimImage(snapshot()));
    }

    int pipeWrite(int handle, int index, const uint8_t* data, std::size_t length, int) {
        std::lock_guard lock(mutex);
        if (!alive(handle) || index != 1 || (!data && length)) return -1;
        if (config.faults.unplugAfter >= 0 &&
            exchanges >= static_cast<uint64_t>(config.faults.unplugAfter)) {
            unplugLocked();
            return -1;
        }
        if (pending) ++protocolErrors;
        pending.reset();
        const uint64_t exchange = exchanges++;
        auto from = [&](int64_t n) { return n >= 0 && exchange >= static_cast<uint64_t>(n); };
        if (stalled || from(config.faults.stallAfter)) {
            // The firmware hangs on this script: nothing runs and no answer ever comes.
            stalled = true;
            return static_cast<int>(length);
        }
        auto result = firmware.run(data, length, chip.get(), chipPosition);
        if (result.malformed) ++malformed;
        pending = std::move(result.answer);
        pendingShort = from(config.faults.shortAfter);
        pendingFlip = from(config.faults.flipAfter);
        readyAt = Clock::now();
        if (config.realTime)
            readyAt += std::chrono::microseconds(1000 + static_cast<int64_t>(result.microseconds));
        return static_cast<int>(length);
    }

    int pipeRead(int handle, int index, uint8_t* data, std::size_t length, int timeoutMs) {
        std::unique_lock lock(mutex);
        if (!alive(handle) || index != 0 || (!data && length)) return -1;
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        auto gone = [&] { return !alive(handle); };
        if (stalled || !pending) {
            if (!stalled) ++protocolErrors;
            changed.wait_until(lock, deadline, gone);
            return -1;
        }
        if (readyAt > Clock::now()) {
            // Real time: the firmware is still busy; wait without holding the lock. A timed
            // sleep wakes some tens of microseconds late, which over thousands of exchanges
            // would make the model look slow: sleep most of the way, then watch the clock for
            // the last stretch.
            const auto due = std::min(readyAt, deadline);
            changed.wait_until(lock, due - std::chrono::microseconds(150), gone);
            if (!gone() && pending && Clock::now() < due) {
                lock.unlock();
                while (Clock::now() < due) {
                }
                lock.lock();
            }
            if (gone() || !pending) return -1;
            if (readyAt > deadline) {
                pending.reset();
                return -1;
            }
        }
        std::vector<uint8_t> answer = std::move(*pending);
        pending.reset();
        if (answer.size() > length) ++protocolErrors;
        std::size_t n = length;
        if (pendingShort && n > 0) --n;
        const std::size_t copied = std::min(answer.size(), n);
        if (copied) std::memcpy(data, answer.data(), copied);
        if (n > copied) std::memset(data + copied, 0, n - copied);
        if (pendingFlip && n > 0) {
            rng = rng * 6364136223846793005ull + 1442695040888963407ull;
            const uint64_t bit = (rng >> 33) % (n * 8);
            data[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        }
        return static_cast<int>(n);
    }
};

SimulatedDriver::SimulatedDriver(SimConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {
    auto& d = *impl_;
    if (d.config.chip.empty()) return;
    const SimChipInfo* info = findSimChip(d.config.chip);
    if (!info) return;
    if (d.config.trayCount > 0) d.trayIndex = 1;
    d.placeChip(*info, d.config.position);
    if (d.config.imageFile.empty()) return;
    d.openImage(*info);
}

std::string SimulatedDriver::imageError() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->imageError;
}

SimulatedDriver::~SimulatedDriver() {
    std::lock_guard lock(impl_->mutex);
    impl_->saveLocked();
    impl_->changed.notify_all();
}

int SimulatedDriver::openProgrammer() {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->plugged) return -1;
    impl_->dropLink();
    impl_->currentHandle = impl_->nextHandle++;
    return impl_->currentHandle;
}

UsbPipe* SimulatedDriver::openPipe(int handle, int, int index) {
    std::lock_guard lock(impl_->mutex);
    impl_->pipes.push_back(std::make_unique<Impl::Pipe>(*impl_, handle, index));
    return impl_->pipes.back().get();
}

int SimulatedDriver::isRemoved(int handle) {
    std::lock_guard lock(impl_->mutex);
    return impl_->alive(handle) ? 0 : 1;
}

void SimulatedDriver::closeProgrammer(int handle) {
    std::lock_guard lock(impl_->mutex);
    ++impl_->closes;
    if (handle == impl_->currentHandle) {
        impl_->currentHandle = -1;
        impl_->dropLink();
    }
}

void SimulatedDriver::plug() {
    std::lock_guard lock(impl_->mutex);
    impl_->plugged = true;
}

void SimulatedDriver::unplug() {
    std::lock_guard lock(impl_->mutex);
    impl_->unplugLocked();
}

bool SimulatedDriver::insertChip(const std::string& device, SimPosition position) {
    const SimChipInfo* info = findSimChip(device);
    if (!info) return false;
    std::lock_guard lock(impl_->mutex);
    impl_->placeChip(*info, position);
    return true;
}

void SimulatedDriver::removeChip() {
    std::lock_guard lock(impl_->mutex);
    if (impl_->chip) impl_->chip->setPins(false, false, impl_->firmware.now);
    impl_->chip.reset();
}

bool SimulatedDriver::setChipState(const SimChipState& state) {
    if (!state.present) {
        removeChip();
        return true;
    }
    const SimChipInfo* info = findSimChip(state.device);
    if (!info || state.programWords.size() != info->programWords ||
        state.eepromBytes.size() != info->eepromBytes)
        return false;
    std::lock_guard lock(impl_->mutex);
    auto& d = *impl_;
    if (!d.chip || &d.chip->info() != info)
        d.placeChip(*info, d.chip ? d.chipPosition : SimPosition::Auto);
    d.applyState(state);
    return true;
}

SimChipState SimulatedDriver::chipState() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->snapshot();
}

void SimulatedDriver::setFaults(const SimFaults& faults) {
    std::lock_guard lock(impl_->mutex);
    impl_->config.faults = faults;
    impl_->applyFaults();
    // Faults without a stall let a hung firmware recover, so a test can make a passing stall.
    if (faults.stallAfter < 0) impl_->stalled = false;
}

bool SimulatedDriver::nextTrayChip() {
    std::lock_guard lock(impl_->mutex);
    auto& d = *impl_;
    const SimChipInfo* info = d.config.trayCount > 0 ? findSimChip(d.config.chip) : nullptr;
    if (!info || d.trayIndex == 0 || d.trayIndex >= d.config.trayCount) {
        if (d.chip) d.chip->setPins(false, false, d.firmware.now);
        d.chip.reset();
        d.trayIndex = 0;
        return false;
    }
    ++d.trayIndex;
    d.placeChip(*info, d.config.position);
    return true;
}

uint64_t SimulatedDriver::exchangeCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->exchanges;
}

uint64_t SimulatedDriver::closeCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->closes;
}

double SimulatedDriver::virtualMicroseconds() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->firmware.now;
}

bool SimulatedDriver::saveImage() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->saveLocked();
}

uint64_t SimulatedDriver::malformedScriptCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->malformed;
}

uint64_t SimulatedDriver::protocolErrorCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->protocolErrors;
}

SimOutputs SimulatedDriver::outputs() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->firmware.outputs;
}

bool SimulatedDriver::chipInProgrammingMode() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->chip && impl_->chip->inProgrammingMode();
}

bool SimulatedDriver::chipRefusedEntry() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->chip && impl_->chip->entryRefused();
}
