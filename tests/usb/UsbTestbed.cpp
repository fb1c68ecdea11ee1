// SPDX-License-Identifier: MIT
#include "tests/usb/UsbTestbed.h"

#include <umockdev.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

// Device, configuration, one vendor interface and its two 64-byte bulk endpoints, as the
// kernel exposes them in sysfs "descriptors".
std::string descriptorsHex(uint16_t vendorId, uint16_t productId, bool programmerShaped)
{
    char hex[160];
    std::snprintf(hex, sizeof hex,
                  "1201" "0002" "00" "00" "00" "40"       // USB 2.0, class per interface, ep0 64
                  "%02X%02X" "%02X%02X"                   // vendor and product, low byte first
                  "0001" "00" "00" "00" "01"              // bcdDevice 1.00, no strings, 1 config
                  "0902" "2000" "01" "01" "00" "80" "32"  // 32 bytes, 1 interface, value 1, 100 mA
                  // Interface 0, 2 endpoints, vendor class (or HID, for a device that is not the programmer).
                  "0904" "00" "00" "02" "%s" "00" "00" "00"
                  "0705" "01" "02" "4000" "00"            // bulk OUT 0x01, 64 bytes
                  "0705" "81" "02" "4000" "00",           // bulk IN 0x81, 64 bytes
                  vendorId & 0xFF, vendorId >> 8, productId & 0xFF, productId >> 8, programmerShaped ? "FF" : "03");
    return hex;
}

} // namespace

UsbTestbed::UsbTestbed()
{
    testbed_ = umockdev_testbed_new();
}

UsbTestbed::~UsbTestbed()
{
    unplugAll();
    devices_.clear();
    g_object_unref(testbed_);
}

bool UsbTestbed::mocked() const
{
    return testbed_ != nullptr && umockdev_in_mock_environment();
}

std::string UsbTestbed::rootDir() const
{
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    const std::string dir = root;
    g_free(root);
    return dir;
}

EmulatedProgrammer& UsbTestbed::plug(uint16_t vendorId, uint16_t productId, const Place& place)
{
    const int number = nextDeviceNumber_++;
    char devnode[64];
    std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/001/%03d", number);
    const std::string name = "1-" + std::to_string(place.port);
    const std::string syspath = "/sys/devices/usb1/" + name;

    auto device = std::make_unique<EmulatedProgrammer>(devnode, syspath);
    // The handler first, so that an open right after the "add" event finds it.
    umockdev_testbed_attach_ioctl(testbed_, devnode, device->handler(), nullptr);

    char ids[128];
    std::snprintf(ids, sizeof ids, "E: PRODUCT=%x/%x/100\nA: idVendor=%04x\nA: idProduct=%04x\n", vendorId,
                  productId, vendorId, productId);
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  "E: BUSNUM=001\nE: DEVNUM=%03d\nE: DEVNAME=%s\nA: busnum=1\\n\nA: devnum=%d\\n\n", number, devnode,
                  number);
    std::string strings = "A: manufacturer=Tessmark\\n\nA: product=KVN Writer\\n\n";
    if (!place.serial.empty())
        strings += "A: serial=" + place.serial + "\\n\n";
    const std::string record = "P: /devices/usb1/" + name + "\n" + "N: " + (devnode + 5) + "\n" +
                               "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n" + numbers + ids + strings +
                               "A: speed=12\\n\nA: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\n"
                               "H: descriptors=" + descriptorsHex(vendorId, productId, place.programmerShaped) + "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        std::fprintf(stderr, "umockdev: cannot add the programmer: %s\n", error ? error->message : "?");
        std::abort();
    }
    umockdev_testbed_uevent(testbed_, syspath.c_str(), "add");

    EmulatedProgrammer& result = *device;
    devices_.push_back(std::move(device));
    plugged_.push_back(&result);
    return result;
}

void UsbTestbed::unplug(EmulatedProgrammer& device)
{
    auto it = std::find(plugged_.begin(), plugged_.end(), &device);
    if (it == plugged_.end())
        return;
    plugged_.erase(it);
    device.disconnect();
    // The event names the device, so it goes out while the device is still in sysfs.
    umockdev_testbed_uevent(testbed_, device.syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, device.syspath.c_str());
}

void UsbTestbed::unplugAll()
{
    while (!plugged_.empty())
        unplug(*plugged_.back());
}

void UsbTestbed::denyAccess(EmulatedProgrammer& device)
{
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    const std::string node = std::string(root) + device.devnode;
    g_free(root);
    chmod(node.c_str(), 0);
}
