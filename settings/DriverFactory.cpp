#include "settings/DriverFactory.h"

#include "programmer/TraceDriver.h"
#include "settings/Settings.h"
#include "sim/SimConfig.h"
#include "sim/SimulatedDriver.h"

#ifdef KORVALIN_HAVE_USB
#include "programmer/usb/LibusbDriver.h"
#endif

#include <QSettings>
#include <QVariant>

#include <cstdlib>

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

#ifdef KORVALIN_HAVE_USB
// The USB ID of the programmer: the environment first, so that a one-off run can point at
// another board without touching the stored settings.
DriverFailure findUsbId(QSettings* store, uint16_t& vendorId, uint16_t& productId,
                        std::string& error) {
    const std::string fromEnvironment = environment("KORVALIN_USB_ID");
    if (!fromEnvironment.empty()) {
        if (parseUsbId(fromEnvironment, vendorId, productId)) return DriverFailure::None;
        error = "KORVALIN_USB_ID must be vvvv:pppp (four hex digits each), not \"" +
                fromEnvironment + "\"";
        return DriverFailure::BadUsbId;
    }
    std::unique_ptr<QSettings> own;
    if (!store) {
        own = openSettingsStore();
        store = own.get();
    }
    store->beginGroup(QStringLiteral("Settings/Usb"));
    const std::string vendor = store->value(QStringLiteral("VendorId")).toString().toStdString();
    const std::string product = store->value(QStringLiteral("ProductId")).toString().toStdString();
    store->endGroup();
    if (vendor.empty() && product.empty()) {
        error = "no USB ID is set for the programmer: set KORVALIN_USB_ID=vvvv:pppp, or VendorId "
                "and ProductId (four hex digits each) in group Settings/Usb of " +
                store->fileName().toStdString();
        return DriverFailure::UsbId;
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
    if (text.size() != 4) return false;
    uint16_t result = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) return false;
        result = static_cast<uint16_t>(result * 16 + digit);
    }
    value = result;
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

DriverChoice chooseDriver(const std::string& simSpec, const std::string& tracePath,
                          QSettings* store) {
    DriverChoice choice;
    const std::string setup = simSpec.empty() ? environment("KORVALIN_SIM") : simSpec;
    if (!setup.empty()) {
        SimConfig config;
        std::string why;
        if (!parseSimSpec(setup, config, why)) {
            choice.error = "simulated programmer \"" + setup + "\": " + why;
            choice.failure = DriverFailure::SimSpec;
            return choice;
        }
        choice.simImageFile = config.imageFile;
        auto simulator = std::make_unique<SimulatedDriver>(config);
        choice.simulator = simulator.get();
        choice.driver = std::move(simulator);
    } else {
#ifdef KORVALIN_HAVE_USB
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        choice.failure = findUsbId(store, vendorId, productId, choice.error);
        if (choice.failure != DriverFailure::None) return choice;
        auto usb = std::make_unique<LibusbDriver>(vendorId, productId);
        LibusbDriver* raw = usb.get();
        choice.whyNotOpen = [raw] { return raw->lastError(); };
        choice.driver = std::move(usb);
#else
        (void)store;
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
            return choice;
        }
        choice.trace = traced.get();
        choice.traceFile = trace;
        choice.driver = std::move(traced);
    }
    return choice;
}

std::unique_ptr<UsbDriver> createDriver(const std::string& simSpec, const std::string& tracePath,
                                        std::string& error, QSettings* store) {
    DriverChoice choice = chooseDriver(simSpec, tracePath, store);
    error = choice.error;
    return std::move(choice.driver);
}
