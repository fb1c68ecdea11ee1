// SPDX-License-Identifier: MIT
#include "settings/DriverFactory.h"

#include "device/HexNumber.h"
#include "programmer/TraceDriver.h"
#include "settings/Settings.h"
#include "sim/SimConfig.h"
#include "sim/SimulatedDriver.h"

#ifdef KORVALIN_HAVE_USB
#include "programmer/usb/LibusbDriver.h"
#endif

#include <QSettings>
#include <QVariant>

#include <cstdio>
#include <cstdlib>

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

#ifdef KORVALIN_HAVE_USB
// The USB ID of the programmer: the environment first, so that a one-off run can point at
// another board without touching the stored settings.
// Both 0 with DriverFailure::None: nothing is configured, which is no failure (the driver then
// says what to do).
DriverFailure findUsbId(QSettings* store, uint16_t& vendorId, uint16_t& productId,
                        std::string& serial, std::string& error) {
    std::unique_ptr<QSettings> own;
    if (!store) {
        own = openSettingsStore();
        store = own.get();
    }
    const StoredUsbChoice stored = readUsbChoice(*store);
    serial = stored.serial;
    const std::string fromEnvironment = environment("KORVALIN_USB_ID");
    if (!fromEnvironment.empty()) {
        if (parseUsbId(fromEnvironment, vendorId, productId)) return DriverFailure::None;
        error = "KORVALIN_USB_ID must be vvvv:pppp (four hex digits each), not \"" +
                fromEnvironment + "\"";
        return DriverFailure::BadUsbId;
    }
    const std::string& vendor = stored.vendorId;
    const std::string& product = stored.productId;
    if (vendor.empty() && product.empty()) {
        vendorId = 0;
        productId = 0;
        return DriverFailure::None;
    }
    const bool vendorOk = parseUsbIdPart(vendor, vendorId);
    if (!vendorOk || !parseUsbIdPart(product, productId)) {
        error = std::string("Settings/Usb/") + (vendorOk ? "ProductId" : "VendorId") +
                " must be four hex digits, not \"" + (vendorOk ? product : vendor) + "\" (in " +
                store->fileName().toStdString() + ")";
        return DriverFailure::BadUsbId;
    }
    return DriverFailure::None;
}
#endif

}  // namespace

bool parseUsbIdPart(std::string_view text, uint16_t& value) {
    uint64_t result = 0;
    if (text.size() != 4 || !parseHexNumber(text, 0xFFFF, result)) return false;
    value = static_cast<uint16_t>(result);
    return true;
}

bool parseUsbId(std::string_view text, uint16_t& vendorId, uint16_t& productId) {
    if (text.size() != 9 || text[4] != ':') return false;
    uint16_t vendor = 0;
    uint16_t product = 0;
    if (!parseUsbIdPart(text.substr(0, 4), vendor) || !parseUsbIdPart(text.substr(5), product))
        return false;
    vendorId = vendor;
    productId = product;
    return true;
}

StoredUsbChoice readUsbChoice(QSettings& store) {
    StoredUsbChoice stored;
    store.beginGroup(QStringLiteral("Settings/Usb"));
    stored.vendorId = store.value(QStringLiteral("VendorId")).toString().toStdString();
    stored.productId = store.value(QStringLiteral("ProductId")).toString().toStdString();
    stored.serial = store.value(QStringLiteral("Serial")).toString().toStdString();
    store.endGroup();
    return stored;
}

bool writeUsbChoice(QSettings& store, uint16_t vendorId, uint16_t productId, const std::string& serial) {
    char vendor[8];
    char product[8];
    std::snprintf(vendor, sizeof vendor, "%04x", vendorId);
    std::snprintf(product, sizeof product, "%04x", productId);
    store.beginGroup(QStringLiteral("Settings/Usb"));
    store.setValue(QStringLiteral("VendorId"), QString::fromLatin1(vendor));
    store.setValue(QStringLiteral("ProductId"), QString::fromLatin1(product));
    // An empty serial is kept as "any", so that an earlier choice of one board does not linger.
    store.setValue(QStringLiteral("Serial"), QString::fromStdString(serial));
    store.endGroup();
    store.sync();
    return store.status() == QSettings::NoError;
}

DriverChoice chooseDriver(const std::string& simSetup, const std::string& tracePath,
                          QSettings* store, const std::string& usbPick, bool firstOfSeveral,
                          bool usbDebugLog) {
    DriverChoice choice;
    const std::string setup = simSetup.empty() ? environment("KORVALIN_SIM") : simSetup;
    if (!setup.empty()) {
        SimConfig config;
        std::string why;
        if (!parseSimSetup(setup, config, why)) {
            choice.error = "simulated programmer \"" + setup + "\": " + why;
            choice.failure = DriverFailure::SimSetup;
            return choice;
        }
        choice.simImageFile = config.imageFile;
        auto simulator = std::make_unique<SimulatedDriver>(config);
        choice.simulator = simulator.get();
        choice.driver = std::move(simulator);
    } else {
#ifdef KORVALIN_HAVE_USB
        UsbChoice usbChoice;
        choice.failure = findUsbId(store, usbChoice.vendorId, usbChoice.productId,
                                   usbChoice.serial, choice.error);
        if (choice.failure != DriverFailure::None) return choice;
        usbChoice.pick = usbPick.empty() ? environment("KORVALIN_USB") : usbPick;
        usbChoice.firstOfSeveral = firstOfSeveral;
        usbChoice.debugLog = usbDebugLog;
        auto usb = std::make_unique<LibusbDriver>(usbChoice);
        LibusbDriver* raw = usb.get();
        const std::string absent = "no programmer with USB ID " +
                                   usbIdText(usbChoice.vendorId, usbChoice.productId) +
                                   " is plugged in; `korvalin-cli usb-list` shows what is";
        choice.whyNotOpen = [raw, absent] {
            const std::string why = raw->lastError();
            return why.empty() ? absent : why;
        };
        choice.refused = [raw] { return raw->refused(); };
        choice.usb = raw;
        choice.driver = std::move(usb);
#else
        (void)store;
        (void)usbPick;
        (void)firstOfSeveral;
        (void)usbDebugLog;
        choice.error = "this build has no USB support";
        choice.failure = DriverFailure::NoUsb;
        return choice;
#endif
    }

    const std::string trace = tracePath.empty() ? environment("KORVALIN_TRACE") : tracePath;
    if (!trace.empty()) {
        auto traced = std::make_unique<TraceDriver>(std::move(choice.driver), trace);
        if (!traced->isOpen()) {
            choice.error = "cannot write the exchange trace to " + trace;
            choice.failure = DriverFailure::Trace;
            choice.simulator = nullptr;
            choice.whyNotOpen = nullptr;
            choice.refused = nullptr;
            choice.usb = nullptr;
            return choice;
        }
        choice.trace = traced.get();
        choice.traceFile = trace;
        choice.driver = std::move(traced);
    }
    return choice;
}
