#include "tests/usb/SimAnswerer.h"

SimAnswerer::SimAnswerer(SimConfig config) : sim_(std::move(config))
{
    const int handle = sim_.openProgrammer();
    if (handle != -1) {
        out_ = sim_.openPipe(handle, 0, 1);
        in_ = sim_.openPipe(handle, 0, 0);
    }
}

int SimAnswerer::onOut(const uint8_t* data, std::size_t length)
{
    return out_ != nullptr ? out_->write(data, length, 0) : -1;
}

int SimAnswerer::onIn(uint8_t* data, std::size_t length)
{
    const int64_t from = holdFrom_.load();
    if (in_ == nullptr || (from >= 0 && answered_.load() >= from)) {
        holding_.store(true);
        return -1;
    }
    // A zero time-out: the simulator answers at once or (stalled) not at all, and then the
    // transfer stays in flight like one the real firmware never answers.
    const int n = in_->read(data, length, 0);
    if (n >= 0)
        answered_.fetch_add(1);
    return n;
}
