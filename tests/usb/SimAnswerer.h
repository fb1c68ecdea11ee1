#pragma once

#include "sim/SimConfig.h"
#include "sim/SimulatedDriver.h"
#include "tests/usb/Answerer.h"

#include <atomic>
#include <cstdint>

// The simulated programmer with its chip behind the emulated USB endpoints: the bytes of each
// OUT transfer go to the simulator's write pipe, each IN transfer is answered from its read
// pipe. The simulator runs on virtual time, so nothing here waits.
class SimAnswerer : public Answerer {
public:
    explicit SimAnswerer(SimConfig config);

    SimulatedDriver& sim() { return sim_; }
    bool ready() const { return out_ != nullptr && in_ != nullptr; }

    // From this many answered reads on, reads are left unanswered (the test then unplugs, say).
    void holdReadsFrom(int64_t reads) { holdFrom_.store(reads); }
    int64_t readsAnswered() const { return answered_.load(); }
    bool holdingARead() const { return holding_.load(); }

    int onOut(const uint8_t* data, std::size_t length) override;
    int onIn(uint8_t* data, std::size_t length) override;

private:
    SimulatedDriver sim_;
    UsbPipe* out_ = nullptr;
    UsbPipe* in_ = nullptr;
    std::atomic<int64_t> holdFrom_{-1};
    std::atomic<int64_t> answered_{0};
    std::atomic<bool> holding_{false};
};
