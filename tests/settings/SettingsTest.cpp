// SPDX-License-Identifier: MIT
#include "settings/Settings.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace {

// Every test works on a file of its own in a temporary folder: never the user's own store.
class SettingsFile : public ::testing::Test {
protected:
    std::unique_ptr<QSettings> store() {
        return std::make_unique<QSettings>(dir.filePath("store.conf"), QSettings::IniFormat);
    }
    QTemporaryDir dir;
};

auto fields(const RememberedSettings& s) { return std::tie(s.pic, s.protect, s.userId, s.deviceId); }

TEST_F(SettingsFile, RoundTripKeepsEveryValueUnderItsName) {
    const RememberedSettings cases[] = {
        {"PIC16F877A", 5, 0, 7},           // any non-zero value is kept as it is
        {"", -1, INT32_MIN, INT32_MAX},
        {"デバイス", 0, 2, 0},
    };
    bool fast = false;
    for (const RememberedSettings& values : cases) {
        SCOPED_TRACE(values.pic.toStdString());
        ASSERT_TRUE(saveSettings(*store(), values));
        // The fast-schedule choice lives in a group of its own and leaves the device's alone.
        fast = !fast;
        ASSERT_TRUE(saveFastSchedule(*store(), fast));
        EXPECT_EQ(loadFastSchedule(*store()), fast);
        EXPECT_EQ(store()->value("Settings/Programming/Fast").toInt(), fast ? 1 : 0);
        auto settings = store();
        EXPECT_EQ(fields(loadSettings(*settings)), fields(values));
        EXPECT_EQ(settings->value("Settings/Device/PIC").toString(), values.pic);
        EXPECT_EQ(settings->value("Settings/Device/Protect").toInt(), values.protect);
        EXPECT_EQ(settings->value("Settings/Device/UserID").toInt(), values.userId);
        EXPECT_EQ(settings->value("Settings/Device/DeviceID").toInt(), values.deviceId);
    }
}

TEST_F(SettingsFile, MissingOrUnreadableValuesTakeTheirDefaultsOneByOne) {
    struct Case {
        const char* key;   // null: an empty store
        QVariant stored;
        RememberedSettings expected;
    };
    const QString pic = "PIC16F628";
    const Case cases[] = {
        {nullptr, {}, {pic, 0, 0, 0}},
        {"Protect", QString("abc"), {pic, 0, 0, 0}},
        {"UserID", QString("99999999999"), {pic, 0, 0, 0}},   // beyond 32 bits
        {"UserID", QString("4294967295"), {pic, 0, -1, 0}},   // a DWORD of all ones
        {"DeviceID", QString(" 12 "), {pic, 0, 0, 12}},
        {"DeviceID", QString("0x10"), {pic, 0, 0, 0}},        // no prefixes: not a number here
        {"PIC", QStringList{"PIC16F84A", "PIC12F629"}, {pic, 0, 0, 0}},
        {"PIC", QString("PIC12F675"), {"PIC12F675", 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key ? c.key : "(empty)") + " = " + c.stored.toString().toStdString());
        {
            auto settings = store();
            settings->clear();
            if (c.key) settings->setValue(QString("Settings/Device/") + c.key, c.stored);
        }
        EXPECT_EQ(fields(loadSettings(*store())), fields(c.expected));
    }
}

}  // namespace
