#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// Aborts the test process when one test runs longer than its limit: a transfer that never ends
// must fail the run, not hang it.
class Watchdog : public ::testing::EmptyTestEventListener {
public:
    explicit Watchdog(std::chrono::seconds limit);
    ~Watchdog() override;

    void OnTestStart(const ::testing::TestInfo& test) override;
    void OnTestEnd(const ::testing::TestInfo& test) override;

private:
    void run();

    const std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool armed_ = false;
    bool stop_ = false;
    std::chrono::steady_clock::time_point deadline_;
    std::string current_;
    std::thread thread_;
};
