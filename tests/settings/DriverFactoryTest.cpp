// SPDX-License-Identifier: MIT
#include "settings/DriverFactory.h"

#include "programmer/TraceDriver.h"
#include "sim/SimulatedDriver.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
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

class DriverFactory : public ::testing::Test {
protected:
    std::unique_ptr<QSettings> store() {
        return std::make_unique<QSettings>(dir.filePath("store.conf"), QSettings::IniFormat);
    }
    QTemporaryDir dir;
    EnvGuard sim{"KORVALIN_SIM", nullptr};
    EnvGuard trace{"KORVALIN_TRACE", nullptr};
    EnvGuard usbId{"KORVALIN_USB_ID", nullptr};
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

TEST_F(DriverFactory, SimulatorFromArgumentOrEnvironmentTheArgumentWinning) {
    const struct {
        const char* argument;
        const char* environment;   // KORVALIN_SIM; null: unset
        bool simulator;
    } cases[] = {
        {"PIC16F628A", nullptr, true},
        {"", "PIC16F84A", true},
        {"empty", "this is no setup,,,=", true},   // never read: the argument wins
        {"", "", false},                          // set but empty: the real programmer
        {"", nullptr, false},
    };
    auto settings = store();
    for (const auto& c : cases) {
        EnvGuard env("KORVALIN_SIM", c.environment);
        DriverChoice choice = chooseDriver(c.argument, "", settings.get());
        EXPECT_EQ(choice.simulator != nullptr, c.simulator) << c.argument << " / " << choice.error;
        if (c.simulator) {
            ASSERT_TRUE(choice.driver) << choice.error;
            EXPECT_EQ(choice.simulator, dynamic_cast<SimulatedDriver*>(choice.driver.get()));
            EXPECT_FALSE(choice.whyNotOpen);
        } else {
            EXPECT_NE(choice.failure, DriverFailure::SimSetup);
        }
    }
}

TEST_F(DriverFactory, BadSimSetupOrUnwritableTraceIsRefusedNamingIt) {
    auto settings = store();
    const std::string folderless = dir.filePath("no/such/folder/trace.txt").toStdString();
    const struct {
        std::string sim, trace, named;
        DriverFailure failure;
    } cases[] = {
        {"PIC16F628A,clock=banana", "", "PIC16F628A,clock=banana", DriverFailure::SimSetup},
        {"PIC16F628A", folderless, folderless, DriverFailure::Trace},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        DriverChoice choice = chooseDriver(c.sim, c.trace, settings.get());
        EXPECT_FALSE(choice.driver);
        EXPECT_EQ(choice.simulator, nullptr);
        EXPECT_EQ(choice.failure, c.failure);
        EXPECT_NE(choice.error.find(c.named), std::string::npos) << choice.error;
        std::string error;
        EXPECT_FALSE(createDriver(c.sim, c.trace, error, settings.get()));
        EXPECT_EQ(error, choice.error);
    }
}

TEST_F(DriverFactory, TraceWrapsTheDriverFromArgumentOrEnvironment) {
    auto settings = store();
    const std::string fromArgument = dir.filePath("arg.txt").toStdString();
    const std::string fromEnvironment = dir.filePath("env.txt").toStdString();
    EnvGuard env("KORVALIN_TRACE", fromEnvironment.c_str());
    for (const std::string& path : {fromArgument, std::string()}) {
        DriverChoice choice = chooseDriver("PIC16F628A", path, settings.get());
        ASSERT_TRUE(choice.driver) << choice.error;
        auto* traced = dynamic_cast<TraceDriver*>(choice.driver.get());
        ASSERT_NE(traced, nullptr);
        EXPECT_TRUE(traced->isOpen());
        EXPECT_EQ(traced->inner(), choice.simulator);
    }
    EXPECT_TRUE(QFile::exists(QString::fromStdString(fromArgument)));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(fromEnvironment)));
}

#ifdef KORVALIN_TEST_HAVE_USB
TEST_F(DriverFactory, UsbIdComesFromTheEnvironmentFirstThenTheStore) {
    auto settings = store();
    settings->setValue("Settings/Usb/VendorId", "zzzz");   // would fail if it were read
    settings->setValue("Settings/Usb/ProductId", "0001");
    {
        EnvGuard env("KORVALIN_USB_ID", "04d8:000a");
        DriverChoice choice = chooseDriver("", "", settings.get());
        ASSERT_TRUE(choice.driver) << choice.error;
        EXPECT_EQ(choice.simulator, nullptr);
        EXPECT_TRUE(choice.whyNotOpen);
    }
    {
        EnvGuard env("KORVALIN_USB_ID", "04d8");
        DriverChoice choice = chooseDriver("", "", settings.get());
        EXPECT_FALSE(choice.driver);
        EXPECT_EQ(choice.failure, DriverFailure::BadUsbId);
        EXPECT_NE(choice.error.find("KORVALIN_USB_ID"), std::string::npos) << choice.error;
    }
    const struct {
        const char* vendor;
        const char* product;
        DriverFailure failure;
        const char* named;   // the setting the message names
    } cases[] = {
        {"04D8", "000A", DriverFailure::None, ""},
        {"04d8", "000a", DriverFailure::None, ""},
        {nullptr, nullptr, DriverFailure::None, ""},
        {"zzzz", "0001", DriverFailure::BadUsbId, "Settings/Usb/VendorId"},
        {"04D8", nullptr, DriverFailure::BadUsbId, "Settings/Usb/ProductId"},
        {"4D8", "000A", DriverFailure::BadUsbId, "Settings/Usb/VendorId"},
    };
    for (const auto& c : cases) {
        settings->clear();
        if (c.vendor) settings->setValue("Settings/Usb/VendorId", c.vendor);
        if (c.product) settings->setValue("Settings/Usb/ProductId", c.product);
        DriverChoice choice = chooseDriver("", "", settings.get());
        EXPECT_EQ(bool(choice.driver), c.failure == DriverFailure::None) << choice.error;
        EXPECT_EQ(choice.failure, c.failure);
        EXPECT_NE(choice.error.find(c.named), std::string::npos) << choice.error;
        if (!c.vendor && !c.product) {
            // Nothing chosen yet is no failure: the driver opens nothing and says what to do.
            EXPECT_TRUE(choice.refused());
            EXPECT_NE(choice.whyNotOpen().find("usb-list"), std::string::npos) << choice.whyNotOpen();
        }
    }
}
#else
TEST_F(DriverFactory, WithoutUsbSupportTheRealProgrammerIsRefused) {
    auto settings = store();
    EnvGuard env("KORVALIN_USB_ID", "04d8:000a");
    DriverChoice choice = chooseDriver("", "", settings.get());
    EXPECT_FALSE(choice.driver);
    EXPECT_EQ(choice.failure, DriverFailure::NoUsb);
    EXPECT_EQ(choice.error, "this build has no USB support");
}
#endif

}  // namespace
