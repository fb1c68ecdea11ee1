// SPDX-License-Identifier: MIT
#include "programmer/LinkPoll.h"

#include "programmer/Programmer.h"
#include "programmer/UsbDriver.h"

namespace {

const char* const kConnectText = "Korvalin Connect";
const char* const kNonConnectText = "Korvalin Non Connect";

bool workerRunning(const Programmer& programmer)
{
    // Acquire pairs with the worker's release of busy: once it reads 0 the worker has stopped
    // using the pipes for good.
    return programmer.busy.load(std::memory_order_acquire) != 0;
}

void closeLink(Programmer& programmer)
{
    programmer.driver->closeProgrammer(programmer.deviceHandle);
    programmer.deviceHandle = -1;
    programmer.writePipe = nullptr;
    programmer.readPipe = nullptr;
}

} // namespace

std::string pollConnection(Programmer& programmer, LinkState& link)
{
    std::string status;
    UsbDriver* driver = programmer.driver;

    if (link.removalPending) {
        // The programmer has gone while a worker was still using its pipes; they stay ours
        // until that worker has finished, then they are released once.
        if (!workerRunning(programmer)) {
            closeLink(programmer);
            link.removalPending = false;
        }
    } else if (programmer.deviceHandle == -1) {
        // Attaching under a running worker would hand it the new pipes mid-operation.
        const int handle = (driver != nullptr && !workerRunning(programmer)) ? driver->openProgrammer() : -1;
        if (handle != -1) {
            programmer.deviceHandle = handle;
            programmer.writePipe = driver->openPipe(handle, 0, 1);
            programmer.readPipe = driver->openPipe(handle, 0, 0);
            link.connected = true;
            status = kConnectText;
            // The identity answer is not used, but the programmer has always seen this order.
            programmer.queryIdentity();
            programmer.queryClock();
        } else if (link.firstTick) {
            link.connected = false;
            status = kNonConnectText;
        }
    } else if (driver != nullptr && driver->isRemoved(programmer.deviceHandle) != 0) {
        link.connected = false;
        status = kNonConnectText;
        if (workerRunning(programmer))
            link.removalPending = true;
        else
            closeLink(programmer);
    }

    link.firstTick = false;
    return status;
}
