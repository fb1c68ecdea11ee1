#pragma once

#include "tests/usb/Answerer.h"

#include <deque>
#include <mutex>
#include <vector>

// A hand-written programmer: records every script written to it and answers each read with the
// next queued answer (all zeros, 8 bytes, when none is queued). An answer queued as "silent"
// is never sent, so the read times out. Safe to use from the test's thread meanwhile.
class ScriptedAnswerer : public Answerer {
public:
    void queueAnswer(std::vector<uint8_t> answer);
    void queueSilence();

    std::vector<std::vector<uint8_t>> scripts() const;
    int readsAnswered() const;
    int readsLeftSilent() const;

    int onOut(const uint8_t* data, std::size_t length) override;
    int onIn(uint8_t* data, std::size_t length) override;

private:
    struct Answer {
        bool silent = false;
        std::vector<uint8_t> bytes;
    };
    mutable std::mutex mutex_;
    std::deque<Answer> answers_;
    std::vector<std::vector<uint8_t>> scripts_;
    int answered_ = 0;
    int silent_ = 0;
};
