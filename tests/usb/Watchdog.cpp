#include "tests/usb/Watchdog.h"

#include <cstdio>
#include <cstdlib>

Watchdog::Watchdog(std::chrono::seconds limit) : limit_(limit), thread_([this] { run(); }) {}

Watchdog::~Watchdog()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Watchdog::OnTestStart(const ::testing::TestInfo& test)
{
    {
        std::lock_guard lock(mutex_);
        armed_ = true;
        deadline_ = std::chrono::steady_clock::now() + limit_;
        current_ = std::string(test.test_suite_name()) + "." + test.name();
    }
    wake_.notify_all();
}

void Watchdog::OnTestEnd(const ::testing::TestInfo&)
{
    {
        std::lock_guard lock(mutex_);
        armed_ = false;
    }
    wake_.notify_all();
}

void Watchdog::run()
{
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (!armed_) {
            wake_.wait(lock);
            continue;
        }
        if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ && !stop_ &&
            std::chrono::steady_clock::now() >= deadline_) {
            std::fprintf(stderr, "watchdog: %s still running after %lld s, aborting\n", current_.c_str(),
                         static_cast<long long>(limit_.count()));
            std::fflush(stderr);
            std::abort();
        }
    }
}
