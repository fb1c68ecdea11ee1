// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

// "vvvv:pppp" in lower case, as lsusb and udev write it. Here rather than beside the libusb
// driver: usb-use and udev-rule name the ID in builds without USB support too.
std::string usbIdText(uint16_t vendorId, uint16_t productId);
