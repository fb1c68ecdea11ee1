// SPDX-License-Identifier: MIT
#include "programmer/UsbId.h"

#include <cstdio>

std::string usbIdText(uint16_t vendorId, uint16_t productId)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", vendorId, productId);
    return text;
}
