// SPDX-License-Identifier: MIT
#include "settings/DriverFactory.h"

#include "programmer/TraceDriver.h"
#include "settings/Settings.h"
#include "sim/SimulatedDriver.h"

#ifdef KORVALIN_TEST_HAVE_USB
#include "programmer/usb/LibusbDriver.h"
#endif

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Each test runs in a process of its own (ctest), so what a row sets need not be put back.
void setOrClear(const char* name, const char* value) {
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

enum class Chosen { Nothing, Simulator, Usb };

// What a front end starts with: the setup and trace from its command line, the environment and
// the stored USB choice. The command line wins over the environment, the environment over the
// store; a malformed value is refused naming where it came from.
TEST(DriverFactory, ChoosesFromArgumentsEnvironmentAndStore) {
    QTemporaryDir dir;
    const std::string folderless = dir.filePath("no/such/folder/trace.txt").toStdString();
    const std::string traceArg = dir.filePath("arg.txt").toStdString();
    const std::string traceEnv = dir.filePath("env.txt").toStdString();
    struct Case {
        std::string sim{};                // the argument
        const char* simEnv = nullptr;     // KORVALIN_SIM; null: unset
        std::string trace{};              // the argument
        const char* traceEnv = nullptr;   // KORVALIN_TRACE
        const char* usbId = nullptr;      // KORVALIN_USB_ID
        const char* vendor = nullptr;     // Settings/Usb/VendorId; null: not stored
        const char* product = nullptr;    // Settings/Usb/ProductId
        Chosen chosen = Chosen::Nothing;
        DriverFailure failure = DriverFailure::None;
        std::string said{};               // part of the error, or of why the USB driver opens nothing
        std::string traceFile{};          // the trace that wraps the driver, "" none
        bool refused = false;             // the USB driver will open nothing whatever is plugged in
    };
    const Case cases[] = {
        {.sim = "PIC16F628A", .chosen = Chosen::Simulator},
        {.simEnv = "PIC16F84A", .chosen = Chosen::Simulator},
        // The environment's setup is never read when the argument gives one.
        {.sim = "empty", .simEnv = "this is no setup,,,=", .chosen = Chosen::Simulator},
        {.sim = "PIC16F628A", .trace = traceArg, .traceEnv = traceEnv.c_str(), .chosen = Chosen::Simulator, .traceFile = traceArg},
#ifdef KORVALIN_TEST_HAVE_USB
        // KORVALIN_SIM set but empty means the real programmer; the stored ID is not even read.
        {.simEnv = "", .usbId = "04d8:000a", .vendor = "zzzz", .product = "0001", .chosen = Chosen::Usb},
        {.usbId = "04d8", .vendor = "04D8", .product = "000A", .failure = DriverFailure::BadUsbId,
         .said = "KORVALIN_USB_ID must be vvvv:pppp (four hex digits each), not \"04d8\""},
        {.vendor = "04D8", .product = "000A", .chosen = Chosen::Usb},
        // Nothing chosen yet is no failure: the driver opens nothing and says what to do.
        {.chosen = Chosen::Usb, .said = "find it with `korvalin-cli usb-list`", .refused = true},
        {.vendor = "zzzz", .product = "0001", .failure = DriverFailure::BadUsbId,
         .said = "Settings/Usb/VendorId must be four hex digits, not \"zzzz\""},
        {.vendor = "04D8", .failure = DriverFailure::BadUsbId, .said = "Settings/Usb/ProductId must be four hex digits, not \"\""},
        // The trace wraps the real programmer too, and failing it leaves no half-made choice.
        {.traceEnv = traceEnv.c_str(), .usbId = "04d8:000a", .chosen = Chosen::Usb, .traceFile = traceEnv},
        {.trace = folderless, .usbId = "04d8:000a", .failure = DriverFailure::Trace,
         .said = "cannot write the exchange trace to " + folderless},
#else
        {.usbId = "04d8:000a", .failure = DriverFailure::NoUsb, .said = "this build has no USB support"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim + " / " + (c.usbId ? c.usbId : "-") + " / " + (c.vendor ? c.vendor : "-") + " / " + c.trace);
        setOrClear("KORVALIN_SIM", c.simEnv);
        setOrClear("KORVALIN_TRACE", c.traceEnv);
        setOrClear("KORVALIN_USB_ID", c.usbId);
        setOrClear("KORVALIN_USB", nullptr);
        QSettings store(dir.filePath("store.conf"), QSettings::IniFormat);
        store.clear();
        if (c.vendor) store.setValue("Settings/Usb/VendorId", c.vendor);
        if (c.product) store.setValue("Settings/Usb/ProductId", c.product);

        DriverChoice choice = chooseDriver(c.sim, c.trace, &store);
        EXPECT_EQ(choice.failure, c.failure) << choice.error;
        EXPECT_EQ(bool(choice.driver), c.chosen != Chosen::Nothing);
        EXPECT_EQ(choice.simulator != nullptr, c.chosen == Chosen::Simulator);
        EXPECT_EQ(choice.usb != nullptr, c.chosen == Chosen::Usb);
        EXPECT_EQ(bool(choice.whyNotOpen), c.chosen == Chosen::Usb);
        EXPECT_EQ(choice.refused && choice.refused(), c.refused);
        EXPECT_EQ(choice.traceFile, c.traceFile);
        EXPECT_EQ(choice.trace != nullptr, !c.traceFile.empty());
        // The simulator or the USB driver is the one inside the trace, not a second one.
        const UsbDriver* inner = choice.trace ? choice.trace->inner() : choice.driver.get();
        if (c.chosen == Chosen::Simulator) {
            EXPECT_EQ(inner, choice.simulator);
        }
#ifdef KORVALIN_TEST_HAVE_USB
        if (c.chosen == Chosen::Usb) {
            EXPECT_EQ(inner, choice.usb);
        }
#endif
        EXPECT_EQ(QFile::exists(QString::fromStdString(c.traceFile)), !c.traceFile.empty());
        const std::string said = choice.whyNotOpen ? choice.whyNotOpen() : choice.error;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
    }
}

}  // namespace
