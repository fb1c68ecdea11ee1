#include "tests/usb/UsbTestEnvironment.h"
#include "tests/usb/UsbTestbed.h"
#include "tests/usb/Watchdog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {
UsbTestbed* current = nullptr;
}

UsbTestbed& usbTestbed()
{
    return *current;
}

void setUsbTestbed(UsbTestbed* testbed)
{
    current = testbed;
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
    setUsbTestbed(&testbed);
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(std::chrono::seconds(20)));
    const int result = RUN_ALL_TESTS();
    setUsbTestbed(nullptr);
    return result;
}
