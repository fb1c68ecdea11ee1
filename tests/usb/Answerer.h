// SPDX-License-Identifier: MIT
#pragma once

#include "programmer/UsbDriver.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// What stands behind the emulated programmer's two bulk endpoints, called on umockdev's own
// thread and never blocking. It answers reads from its queue of canned answers; with the queue
// empty, from the pipes it forwards to (the simulated programmer and its chip), else with eight
// zero bytes. A read it leaves silent stays unanswered, as with a programmer that stalls:
// libusb then times it out, or the unplug ends it.
class Answerer {
public:
    using Bytes = std::vector<uint8_t>;

    void queueAnswer(Bytes answer) { std::lock_guard lock(mutex_); answers_.push_back({false, std::move(answer)}); }
    void queueSilence() { std::lock_guard lock(mutex_); answers_.push_back({true, {}}); }
    void forwardTo(UsbPipe* out, UsbPipe* in) { std::lock_guard lock(mutex_); out_ = out; in_ = in; }

    std::vector<Bytes> scripts() const { std::lock_guard lock(mutex_); return scripts_; }
    int readsLeftSilent() const { std::lock_guard lock(mutex_); return silent_; }

    // A transfer to OUT 0x01: the bytes accepted, or -1 to fail it.
    int onOut(const uint8_t* data, std::size_t length)
    {
        std::lock_guard lock(mutex_);
        if (out_ != nullptr)
            return out_->write(data, length, 0);
        scripts_.emplace_back(data, data + length);
        return static_cast<int>(length);
    }

    // A transfer from IN 0x81: the bytes answered (at most length), or -1 to leave it silent.
    int onIn(uint8_t* data, std::size_t length)
    {
        std::lock_guard lock(mutex_);
        Answer answer{false, Bytes(8, 0)};
        const bool canned = !answers_.empty();
        if (canned) {
            answer = std::move(answers_.front());
            answers_.pop_front();
        }
        int n = -1;
        if (!answer.silent) {
            if (!canned && in_ != nullptr) {
                // A zero time-out: the simulator answers at once or, stalled, not at all.
                n = in_->read(data, length, 0);
            } else {
                n = static_cast<int>(std::min(length, answer.bytes.size()));
                std::copy_n(answer.bytes.begin(), n, data);
            }
        }
        if (n < 0)
            ++silent_;
        return n;
    }

private:
    struct Answer {
        bool silent;
        Bytes bytes;
    };
    mutable std::mutex mutex_;
    std::deque<Answer> answers_;
    std::vector<Bytes> scripts_;
    UsbPipe* out_ = nullptr;
    UsbPipe* in_ = nullptr;
    int silent_ = 0;
};
