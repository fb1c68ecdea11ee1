// SPDX-License-Identifier: MIT
#include "programmer/usb/UsbProbe.h"

#include "programmer/Programmer.h"

namespace {
// A device that is not the programmer may never answer; the list must not hang on it.
constexpr int kProbeTimeoutMs = 300;
} // namespace

UsbProbe probeUsbCandidate(const UsbCandidate& candidate)
{
    UsbProbe probe;
    UsbChoice choice;
    choice.vendorId = candidate.vendorId;
    choice.productId = candidate.productId;
    choice.pick = candidate.path;
    LibusbDriver driver(choice, false);
    const int handle = driver.openProgrammer();
    if (handle == -1) {
        probe.why = driver.lastError().empty() ? "it has gone from the bus" : driver.lastError();
        return probe;
    }
    Programmer programmer(&driver);
    programmer.deviceHandle = handle;
    programmer.writePipe = driver.openPipe(handle, 0, 1);
    programmer.readPipe = driver.openPipe(handle, 0, 0);
    programmer.transferTimeoutMs = kProbeTimeoutMs;
    probe.identity = programmer.queryIdentity();
    if (probe.identity >= 0)
        probe.clock = programmer.queryClock();
    probe.answered = probe.identity >= 0 && probe.clock >= 0;
    if (!probe.answered)
        probe.why = "no answer to the programmer's queries";
    driver.closeProgrammer(handle);
    return probe;
}
