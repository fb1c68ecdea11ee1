#pragma once

#include "programmer/UsbDriver.h"

#include <memory>
#include <string>

// Chooses the programmer driver for a front end: the simulated programmer when simSpec is not
// empty or KORVALIN_SIM is set (simSpec wins), the libusb driver otherwise (USB ID from
// KORVALIN_USB_ID=vvvv:pppp, else settings group "Settings/Usb"). Wraps it in the exchange
// trace when tracePath is not empty or KORVALIN_TRACE is set. On failure returns null and a
// plain message in error.
std::unique_ptr<UsbDriver> createDriver(const std::string& simSpec, const std::string& tracePath,
                                        std::string& error);
