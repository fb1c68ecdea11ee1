// SPDX-License-Identifier: MIT
#pragma once

#include "programmer/UsbDriver.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class LibusbDriver;
class QSettings;
class SimulatedDriver;
class TraceDriver;

enum class DriverFailure {
    None,
    SimSetup,    // the simulated programmer's setup was not understood
    UsbId,       // no USB ID is set for the real programmer
    BadUsbId,    // the USB ID in the environment or the settings is malformed
    NoUsb,       // this build has no USB support
    Trace,       // the trace file cannot be written
};

// What a front end talks to, and the simulated programmer inside it when one was chosen (for
// demonstrations and the modelled-time figures; null for real hardware).
struct DriverChoice {
    std::unique_ptr<UsbDriver> driver;
    SimulatedDriver* simulator = nullptr;
    std::string simImageFile;   // where the simulated chip is kept between runs, or ""
    TraceDriver* trace = nullptr;   // the exchange trace around driver, when there is one
    std::string traceFile;
    // Why the last open found a programmer but could not use it (permissions, busy), or "";
    // set for the real programmer only.
    std::function<std::string()> whyNotOpen;
    // True when that reason will not go away by waiting (nothing chosen, several programmers
    // and no choice, the chosen one in use by another program).
    std::function<bool()> refused;
    LibusbDriver* usb = nullptr;   // the real programmer's driver, inside any trace wrapper
    DriverFailure failure = DriverFailure::None;
    std::string error;   // plain message when driver is null
};

// Chooses the programmer driver for a front end: the simulated programmer when simSetup is not
// empty or KORVALIN_SIM is set to a non-empty setup (simSetup wins), the libusb driver otherwise
// (USB ID from KORVALIN_USB_ID=vvvv:pppp, which wins, else the store's group "Settings/Usb",
// values "VendorId" and "ProductId" as four hex digits; with neither, a driver that opens
// nothing and says why). Of several programmers it takes the one usbPick names (a serial
// number or a bus-port path; empty: KORVALIN_USB, else the stored "Serial"), or with
// firstOfSeveral the first. Wraps it in the exchange trace when tracePath is not empty or
// KORVALIN_TRACE is set (tracePath wins). store is where "Settings/Usb" is read; null opens the
// running executable's own store. usbDebugLog turns on libusb's own debug log.
DriverChoice chooseDriver(const std::string& simSetup, const std::string& tracePath,
                          QSettings* store = nullptr, const std::string& usbPick = std::string(),
                          bool firstOfSeveral = false, bool usbDebugLog = false);

// The programmer the store's group "Settings/Usb" names: "VendorId", "ProductId" (four hex
// digits each) and "Serial" ("" any). usb-use and the window's USB setup write it.
struct StoredUsbChoice {
    std::string vendorId;
    std::string productId;
    std::string serial;
};
StoredUsbChoice readUsbChoice(QSettings& store);
// False when the store could not be written.
bool writeUsbChoice(QSettings& store, uint16_t vendorId, uint16_t productId, const std::string& serial);

// "vvvv:pppp", four hex digits each (either case); false for anything else.
bool parseUsbId(std::string_view text, uint16_t& vendorId, uint16_t& productId);
// Exactly four hex digits (either case).
bool parseUsbIdPart(std::string_view text, uint16_t& value);
