// SPDX-License-Identifier: MIT
#include "tests/usb/UsbTestbed.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

UsbTestbed* current = nullptr;

// A transfer that never ends must fail the run, not hang it: each test gets 20 seconds.
class Watchdog : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { alarm(20); }
    void OnTestEnd(const ::testing::TestInfo&) override { alarm(0); }
};

void onAlarm(int)
{
    static const char message[] = "watchdog: a test is still running after 20 s, aborting\n";
    (void)!write(2, message, sizeof message - 1);
    std::abort();
}

} // namespace

UsbTestbed& usbTestbed()
{
    return *current;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The testbed comes first: libusb looks at sysfs and /dev once, on its first use.
    UsbTestbed testbed;
    if (!testbed.mocked()) {
        std::fprintf(stderr, "umockdev's preload library is not active; refusing to touch real USB devices\n");
        return 1;
    }
    current = &testbed;
    std::signal(SIGALRM, onAlarm);
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
    const int result = RUN_ALL_TESTS();
    current = nullptr;
    return result;
}
