#include "tests/usb/ScriptedAnswerer.h"

#include <algorithm>
#include <cstring>

void ScriptedAnswerer::queueAnswer(std::vector<uint8_t> answer)
{
    std::lock_guard lock(mutex_);
    answers_.push_back({false, std::move(answer)});
}

void ScriptedAnswerer::queueSilence()
{
    std::lock_guard lock(mutex_);
    answers_.push_back({true, {}});
}

std::vector<std::vector<uint8_t>> ScriptedAnswerer::scripts() const
{
    std::lock_guard lock(mutex_);
    return scripts_;
}

int ScriptedAnswerer::readsAnswered() const
{
    std::lock_guard lock(mutex_);
    return answered_;
}

int ScriptedAnswerer::readsLeftSilent() const
{
    std::lock_guard lock(mutex_);
    return silent_;
}

int ScriptedAnswerer::onOut(const uint8_t* data, std::size_t length)
{
    std::lock_guard lock(mutex_);
    scripts_.emplace_back(data, data + length);
    return static_cast<int>(length);
}

int ScriptedAnswerer::onIn(uint8_t* data, std::size_t length)
{
    std::lock_guard lock(mutex_);
    Answer answer;
    if (answers_.empty()) {
        answer.bytes.assign(8, 0);
    } else {
        answer = std::move(answers_.front());
        answers_.pop_front();
    }
    if (answer.silent) {
        ++silent_;
        return -1;
    }
    const std::size_t n = std::min(length, answer.bytes.size());
    if (n > 0)
        std::memcpy(data, answer.bytes.data(), n);
    ++answered_;
    return static_cast<int>(n);
}
