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
#include <optional>
#include <string>

namespace {

// Sets or clears one environment variable for the life of the guard.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvGuard() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(UsbId, ParsesOnlyFourHexDigitsEachSide) {
    const struct {
        const char* text;
        bool ok;
        uint16_t vendor, product;
    } cases[] = {
        {"04d8:000a", true, 0x04D8, 0x000A}, {"04D8:000A", true, 0x04D8, 0x000A},
        {"ffff:0000", true, 0xFFFF, 0x0000}, {"4d8:a", false, 0, 0},
        {"04d8-000a", false, 0, 0},          {"04d8:000g", false, 0, 0},
        {"", false, 0, 0},                   {"04d8:000a0", false, 0, 0},
        {" 04d8:000a", false, 0, 0},         {"0x4d:000a", false, 0, 0},
    };
    for (const auto& c : cases) {
        uint16_t vendor = 0x1111, product = 0x2222;   // left untouched on a refusal
        EXPECT_EQ(parseUsbId(c.text, vendor, product), c.ok) << c.text;
        EXPECT_EQ(vendor, c.ok ? c.vendor : 0x1111) << c.text;
        EXPECT_EQ(product, c.ok ? c.product : 0x2222) << c.text;
    }
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
        std::string sim;          // the argument
        const char* simEnv;       // KORVALIN_SIM; null: unset
        std::string trace;        // the argument
        const char* traceEnv;     // KORVALIN_TRACE
        const char* usbId;        // KORVALIN_USB_ID
        const char* vendor;       // Settings/Usb/VendorId; null: not stored
        const char* product;      // Settings/Usb/ProductId
        Chosen chosen;
        DriverFailure failure;
        std::string said;         // part of the error, or of why the USB driver opens nothing
        std::string traceFile;    // the trace that wraps the driver, "" none
        bool refused;             // the USB driver will open nothing whatever is plugged in
    };
    const Case cases[] = {
        {"PIC16F628A", nullptr, "", nullptr, nullptr, nullptr, nullptr, Chosen::Simulator, DriverFailure::None, "", "", false},
        {"", "PIC16F84A", "", nullptr, nullptr, nullptr, nullptr, Chosen::Simulator, DriverFailure::None, "", "", false},
        // The environment's setup is never read when the argument gives one.
        {"empty", "this is no setup,,,=", "", nullptr, nullptr, nullptr, nullptr, Chosen::Simulator,
         DriverFailure::None, "", "", false},
        {"PIC16F628A,clock=banana", nullptr, "", nullptr, nullptr, nullptr, nullptr, Chosen::Nothing,
         DriverFailure::SimSetup, "PIC16F628A,clock=banana", "", false},
        {"PIC16F628A", nullptr, folderless, nullptr, nullptr, nullptr, nullptr, Chosen::Nothing,
         DriverFailure::Trace, folderless, "", false},
        {"PIC16F628A", nullptr, traceArg, traceEnv.c_str(), nullptr, nullptr, nullptr, Chosen::Simulator,
         DriverFailure::None, "", traceArg, false},
        {"PIC16F628A", nullptr, "", traceEnv.c_str(), nullptr, nullptr, nullptr, Chosen::Simulator,
         DriverFailure::None, "", traceEnv, false},
#ifdef KORVALIN_TEST_HAVE_USB
        // KORVALIN_SIM set but empty means the real programmer; the stored ID is not even read.
        {"", "", "", nullptr, "04d8:000a", "zzzz", "0001", Chosen::Usb, DriverFailure::None, "", "", false},
        {"", nullptr, "", nullptr, "04d8", "04D8", "000A", Chosen::Nothing, DriverFailure::BadUsbId,
         "KORVALIN_USB_ID must be vvvv:pppp (four hex digits each), not \"04d8\"", "", false},
        {"", nullptr, "", nullptr, nullptr, "04D8", "000A", Chosen::Usb, DriverFailure::None, "", "", false},
        {"", nullptr, "", nullptr, nullptr, "04d8", "000a", Chosen::Usb, DriverFailure::None, "", "", false},
        // Nothing chosen yet is no failure: the driver opens nothing and says what to do.
        {"", nullptr, "", nullptr, nullptr, nullptr, nullptr, Chosen::Usb, DriverFailure::None,
         "find it with `korvalin-cli usb-list`", "", true},
        {"", nullptr, "", nullptr, nullptr, "zzzz", "0001", Chosen::Nothing, DriverFailure::BadUsbId,
         "Settings/Usb/VendorId must be four hex digits, not \"zzzz\"", "", false},
        {"", nullptr, "", nullptr, nullptr, "04D8", nullptr, Chosen::Nothing, DriverFailure::BadUsbId,
         "Settings/Usb/ProductId must be four hex digits, not \"\"", "", false},
        {"", nullptr, "", nullptr, nullptr, "4D8", "000A", Chosen::Nothing, DriverFailure::BadUsbId,
         "Settings/Usb/VendorId", "", false},
        {"", nullptr, "", nullptr, nullptr, nullptr, "000A", Chosen::Nothing, DriverFailure::BadUsbId,
         "Settings/Usb/VendorId must be four hex digits, not \"\"", "", false},
        // The trace wraps the real programmer too, and failing it leaves no half-made choice.
        {"", nullptr, "", traceEnv.c_str(), "04d8:000a", nullptr, nullptr, Chosen::Usb, DriverFailure::None,
         "", traceEnv, false},
        {"", nullptr, folderless, nullptr, "04d8:000a", nullptr, nullptr, Chosen::Nothing, DriverFailure::Trace,
         "cannot write the exchange trace to " + folderless, "", false},
#else
        {"", nullptr, "", nullptr, "04d8:000a", nullptr, nullptr, Chosen::Nothing, DriverFailure::NoUsb,
         "this build has no USB support", "", false},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim + " / " + (c.usbId ? c.usbId : "-") + " / " + (c.vendor ? c.vendor : "-") + " / " + c.trace);
        EnvGuard simEnv("KORVALIN_SIM", c.simEnv);
        EnvGuard traceEnvGuard("KORVALIN_TRACE", c.traceEnv);
        EnvGuard usbId("KORVALIN_USB_ID", c.usbId);
        EnvGuard pick("KORVALIN_USB", nullptr);
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
        if (c.chosen == Chosen::Nothing) {
            std::string error;
            EXPECT_FALSE(createDriver(c.sim, c.trace, error, &store));
            EXPECT_EQ(error, choice.error);
        }
    }
}

#ifdef KORVALIN_TEST_HAVE_USB
// Without a store of its own the front end reads the one named after the executable (under the
// test's XDG_CONFIG_HOME), and a bad value there is refused naming that file.
TEST(DriverFactory, WithoutAStoreTheExecutablesOwnIsRead) {
    EnvGuard simEnv("KORVALIN_SIM", nullptr);
    EnvGuard traceEnv("KORVALIN_TRACE", nullptr);
    EnvGuard usbId("KORVALIN_USB_ID", nullptr);
    const auto own = openSettingsStore();
    own->setValue("Settings/Usb/VendorId", "zzzz");
    own->sync();
    const DriverChoice choice = chooseDriver("", "", nullptr);
    own->remove("Settings/Usb");
    own->sync();
    EXPECT_EQ(choice.failure, DriverFailure::BadUsbId);
    EXPECT_NE(choice.error.find("(in " + own->fileName().toStdString() + ")"), std::string::npos) << choice.error;
}
#endif

}  // namespace
