// SPDX-License-Identifier: MIT
#pragma once

#include "programmer/usb/LibusbDriver.h"

#include <cstdint>
#include <string>

// What a candidate answered to the programmer's attach queries.
struct UsbProbe {
    bool answered = false;   // both queries came back
    std::string why;         // why it could not be asked (busy, permissions, gone, silent)
    int64_t identity = -1;   // the identity answer's first four bytes
    int32_t clock = -1;      // the clock the programmer reports, MHz
};

// Opens the one candidate at its bus-port path, sends the identity and clock queries exactly
// as the link does at attach, and lets it go again. Anything else on the bus is left alone.
UsbProbe probeUsbCandidate(const UsbCandidate& candidate);
