// SPDX-License-Identifier: MIT
#pragma once

#include "operations/Texts.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

class QSettings;

// The four remembered values of group "Settings/Device". Integers are kept exactly as stored:
// any non-zero value counts as set and is written back unchanged.
struct RememberedSettings {
    QString pic = QStringLiteral("PIC16F628");
    int32_t protect = 0;    // "Protect": do not use code protection
    int32_t userId = 0;     // "UserID": do not write or verify the user ID
    int32_t deviceId = 0;   // "DeviceID": do not check the device ID
    // "PIC" is stored but is no name, or the store itself cannot be parsed: pic then holds the
    // default, which is not what the user chose.
    bool picUnreadable = false;
};

// The per-user store: organisation "Tessmark", application = the running executable's base
// name. Missing or unreadable values take their defaults.
RememberedSettings loadSettings(QSettings& store);
// The fast-schedule choice, in its own group "Settings/Programming" (key "Fast", 0 or 1) so that
// the four device values stay exactly as they were. Missing or unreadable: off.
bool loadFastSchedule(QSettings& store);
bool saveFastSchedule(QSettings& store, bool fast);

// Returns false when the store could not be written (the caller may ignore it: a lost setting
// must never stop the program).
bool saveSettings(QSettings& store, const RememberedSettings& values);

// The folder the window's file dialogs last worked in, in group "Settings/Files": a group of
// its own, so that it can never disturb the four values above. Empty when none is kept yet.
QString loadLastFolder(QSettings& store);
void saveLastFolder(QSettings& store, const QString& folder);

// "en" or "ja"; anything else is no language.
std::optional<Language> languageFromName(std::string_view name);
const char* languageName(Language language);
// The language of the texts: the CLI's --lang, else KORVALIN_LANG, else "Language" in group
// "Settings", else Japanese. A value that names no language is passed over.
Language resolveLanguage(std::string_view option, const char* environment, std::string_view stored);
// The same, reading the store and KORVALIN_LANG.
Language loadLanguage(QSettings& store, std::string_view option = {});
bool saveLanguage(QSettings& store, Language language);

inline constexpr const char* kSettingsOrganisation = "Tessmark";
// The window's executable, whose store the terminal front end reads so that both agree on the
// remembered device.
inline constexpr const char* kWindowApplicationName = "KorvalinLoader";

// The running executable's file name without its extension; "korvalin" if it cannot be found.
QString executableBaseName();

// The native per-user store of that application (empty: executableBaseName()).
std::unique_ptr<QSettings> openSettingsStore(const QString& application = QString());
