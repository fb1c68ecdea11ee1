// SPDX-License-Identifier: MIT
#include "settings/Settings.h"

#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>

namespace {

constexpr const char* kDeviceGroup = "Settings/Device";
constexpr const char* kLastFolderKey = "Settings/Files/LastFolder";
constexpr const char* kProgrammingGroup = "Settings/Programming";
constexpr const char* kLanguageKey = "Settings/Language";

// A 32-bit value as the registry would hold it: anything from INT32_MIN to UINT32_MAX is taken
// (the unsigned half wraps, as a DWORD read into a signed member does); text that is not a
// whole number, or a number outside that range, is unreadable and gives the default.
int32_t readInteger(const QSettings& store, const char* key, int32_t fallback) {
    const QVariant value = store.value(QLatin1String(key));
    if (!value.isValid()) return fallback;
    const int type = value.typeId();
    if (type != QMetaType::QString && type != QMetaType::QByteArray && type != QMetaType::Int &&
        type != QMetaType::UInt && type != QMetaType::LongLong && type != QMetaType::ULongLong)
        return fallback;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok, 10);
    if (!ok || number < std::numeric_limits<int32_t>::min() ||
        number > static_cast<qlonglong>(std::numeric_limits<uint32_t>::max()))
        return fallback;
    return static_cast<int32_t>(static_cast<uint32_t>(number));
}

}  // namespace

RememberedSettings loadSettings(QSettings& store) {
    RememberedSettings values;
    store.beginGroup(QLatin1String(kDeviceGroup));
    const QVariant pic = store.value(QStringLiteral("PIC"));
    const bool isText = pic.typeId() == QMetaType::QString || pic.typeId() == QMetaType::QByteArray;
    if (isText) values.pic = pic.toString();
    values.picUnreadable = store.status() != QSettings::NoError ||
                           (pic.isValid() && (!isText || values.pic.isEmpty()));
    values.protect = readInteger(store, "Protect", values.protect);
    values.userId = readInteger(store, "UserID", values.userId);
    values.deviceId = readInteger(store, "DeviceID", values.deviceId);
    store.endGroup();
    return values;
}

bool loadFastSchedule(QSettings& store) {
    store.beginGroup(QLatin1String(kProgrammingGroup));
    const int32_t fast = readInteger(store, "Fast", 0);
    store.endGroup();
    return fast != 0;
}

bool saveFastSchedule(QSettings& store, bool fast) {
    store.beginGroup(QLatin1String(kProgrammingGroup));
    store.setValue(QStringLiteral("Fast"), fast ? 1 : 0);
    store.endGroup();
    store.sync();
    return store.status() == QSettings::NoError;
}

bool saveSettings(QSettings& store, const RememberedSettings& values) {
    store.beginGroup(QLatin1String(kDeviceGroup));
    store.setValue(QStringLiteral("PIC"), values.pic);
    store.setValue(QStringLiteral("Protect"), values.protect);
    store.setValue(QStringLiteral("UserID"), values.userId);
    store.setValue(QStringLiteral("DeviceID"), values.deviceId);
    store.endGroup();
    store.sync();
    return store.status() == QSettings::NoError;
}

std::optional<Language> languageFromName(std::string_view name) {
    if (name == "en") return Language::English;
    if (name == "ja") return Language::Japanese;
    return std::nullopt;
}

const char* languageName(Language language) {
    return language == Language::English ? "en" : "ja";
}

Language resolveLanguage(std::string_view option, const char* environment, std::string_view stored) {
    for (std::string_view name : {option, std::string_view(environment ? environment : ""), stored})
        if (const std::optional<Language> language = languageFromName(name)) return *language;
    return Language::Japanese;
}

Language loadLanguage(QSettings& store, std::string_view option) {
    const std::string stored = store.value(QLatin1String(kLanguageKey)).toString().toStdString();
    return resolveLanguage(option, std::getenv("KORVALIN_LANG"), stored);
}

bool saveLanguage(QSettings& store, Language language) {
    store.setValue(QLatin1String(kLanguageKey), QLatin1String(languageName(language)));
    store.sync();
    return store.status() == QSettings::NoError;
}

QString loadLastFolder(QSettings& store) {
    return store.value(QLatin1String(kLastFolderKey)).toString();
}

void saveLastFolder(QSettings& store, const QString& folder) {
    store.setValue(QLatin1String(kLastFolderKey), folder);
}

QString executableBaseName() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || self.empty()) return QStringLiteral("korvalin");
    const QString name = QFileInfo(QString::fromStdString(self.string())).completeBaseName();
    return name.isEmpty() ? QStringLiteral("korvalin") : name;
}

std::unique_ptr<QSettings> openSettingsStore(const QString& application) {
    const QString name = application.isEmpty() ? executableBaseName() : application;
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QLatin1String(kSettingsOrganisation), name);
}
