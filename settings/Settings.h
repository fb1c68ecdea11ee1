#pragma once

#include <QString>
#include <cstdint>

class QSettings;

// The four remembered values of group "Settings/Device". Integers are kept exactly as stored:
// any non-zero value counts as set and is written back unchanged.
struct RememberedSettings {
    QString pic = QStringLiteral("PIC16F628");
    int32_t protect = 0;    // "Protect": do not use code protection
    int32_t userId = 0;     // "UserID": do not write or verify the user ID
    int32_t deviceId = 0;   // "DeviceID": do not check the device ID
};

// The per-user store: organisation "Tessmark", application = the running executable's base
// name. Missing or unreadable values take their defaults.
RememberedSettings loadSettings(QSettings& store);
void saveSettings(QSettings& store, const RememberedSettings& values);
