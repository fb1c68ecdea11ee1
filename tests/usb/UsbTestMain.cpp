// SPDX-License-Identifier: MIT
#include "tests/usb/UsbTestbed.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

UsbTestbed* current = nullptr;

} // namespace

UsbTestbed& usbTestbed()
{
    return *current;
}

// A transfer that never ends fails the run through ctest's time-out (see CMakeLists.txt): the
// tests wait longer than that where only the awaited event may end the wait.
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
    return RUN_ALL_TESTS();
}
