#include "settings/Settings.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

// Every test works on a file of its own in a temporary folder: never the user's own store.
class SettingsFile : public ::testing::Test {
protected:
    std::unique_ptr<QSettings> store() {
        return std::make_unique<QSettings>(dir.filePath("store.conf"), QSettings::IniFormat);
    }
    QTemporaryDir dir;
};

TEST_F(SettingsFile, MissingStoreGivesTheDefaults) {
    auto settings = store();
    const RememberedSettings values = loadSettings(*settings);
    EXPECT_EQ(values.pic, "PIC16F628");
    EXPECT_EQ(values.protect, 0);
    EXPECT_EQ(values.userId, 0);
    EXPECT_EQ(values.deviceId, 0);
}

TEST_F(SettingsFile, RoundTripKeepsEveryValueUnchanged) {
    struct Case {
        QString pic;
        int32_t protect, userId, deviceId;
    };
    const Case cases[] = {
        {"PIC16F628A", 0, 0, 0},
        {"PIC12F629", 1, 1, 1},
        {"PIC16F877A", 5, 0, 7},           // any non-zero value is kept as it is
        {"", -1, INT32_MIN, INT32_MAX},
        {"デバイス", 0, 2, 0},
    };
    for (const Case& c : cases) {
        RememberedSettings values;
        values.pic = c.pic;
        values.protect = c.protect;
        values.userId = c.userId;
        values.deviceId = c.deviceId;
        {
            auto settings = store();
            ASSERT_TRUE(saveSettings(*settings, values));
        }
        auto settings = store();
        const RememberedSettings back = loadSettings(*settings);
        EXPECT_EQ(back.pic, c.pic);
        EXPECT_EQ(back.protect, c.protect) << c.pic.toStdString();
        EXPECT_EQ(back.userId, c.userId) << c.pic.toStdString();
        EXPECT_EQ(back.deviceId, c.deviceId) << c.pic.toStdString();
    }
}

TEST_F(SettingsFile, SavedUnderTheDeviceGroupWithTheFourNames) {
    RememberedSettings values;
    values.pic = "PIC16F84A";
    values.deviceId = 5;
    {
        auto settings = store();
        ASSERT_TRUE(saveSettings(*settings, values));
    }
    auto raw = store();
    EXPECT_EQ(raw->value("Settings/Device/PIC").toString(), "PIC16F84A");
    EXPECT_EQ(raw->value("Settings/Device/Protect").toInt(), 0);
    EXPECT_EQ(raw->value("Settings/Device/UserID").toInt(), 0);
    EXPECT_EQ(raw->value("Settings/Device/DeviceID").toInt(), 5);
}

TEST_F(SettingsFile, UnreadableValuesTakeTheirDefaultsOneByOne) {
    struct Case {
        const char* key;
        QVariant stored;
        int32_t expected;   // of that key; the others stay at their defaults
    };
    const Case cases[] = {
        {"Protect", QString("abc"), 0},
        {"Protect", QString("1"), 1},
        {"UserID", QString("99999999999"), 0},       // beyond 32 bits
        {"UserID", QString("4294967295"), -1},       // a DWORD of all ones
        {"DeviceID", QString(" 12 "), 12},
        {"DeviceID", QString("0x10"), 0},            // no prefixes: not a number here
        {"DeviceID", QStringList{"1", "2"}, 0},
        {"Protect", QString(""), 0},
    };
    for (const Case& c : cases) {
        {
            auto settings = store();
            settings->clear();
            settings->setValue(QString("Settings/Device/") + c.key, c.stored);
        }
        auto settings = store();
        const RememberedSettings values = loadSettings(*settings);
        const int32_t got = std::string(c.key) == "Protect" ? values.protect
                            : std::string(c.key) == "UserID" ? values.userId
                                                             : values.deviceId;
        EXPECT_EQ(got, c.expected) << c.key << " = " << c.stored.toString().toStdString();
        EXPECT_EQ(values.pic, "PIC16F628");
    }
}

TEST_F(SettingsFile, DeviceNameThatIsNotTextTakesTheDefault) {
    {
        auto settings = store();
        settings->setValue("Settings/Device/PIC", QStringList{"PIC16F84A", "PIC12F629"});
        settings->setValue("Settings/Device/Protect", 1);
    }
    auto settings = store();
    const RememberedSettings values = loadSettings(*settings);
    EXPECT_EQ(values.pic, "PIC16F628");
    EXPECT_EQ(values.protect, 1);
}

// ctest points XDG_CONFIG_HOME at a folder of the build tree, so this is not the user's store.
TEST(SettingsStore, NativeStoreIsNamedAfterOrganisationAndApplication) {
    const char* home = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(home, nullptr) << "run through ctest, which sets XDG_CONFIG_HOME";
    auto store = openSettingsStore("korvalin-settings-test");
    EXPECT_EQ(store->fileName(), QString(home) + "/Tessmark/korvalin-settings-test.conf");
    auto own = openSettingsStore();
    EXPECT_EQ(own->applicationName(), executableBaseName());
    EXPECT_EQ(executableBaseName(), "korvalin_settings_test");
}

}  // namespace
