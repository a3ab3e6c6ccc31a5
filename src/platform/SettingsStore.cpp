#include "platform/SettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QVariant>
#include <limits>
#include <utility>

namespace vozaro::platform {

namespace {

QString groupOf(const std::string& key) {
    // QSettings separates groups with '/'; a leading separator names no group.
    QString group = QString::fromStdString(key);
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (group.startsWith(QLatin1Char('/')))
        group.remove(0, 1);
    return group;
}

std::optional<std::int32_t> toInt32(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QString: {
        bool ok = false;
        const int number = value.toString().toInt(&ok, 10);
        if (ok)
            return number;
        return std::nullopt;
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        bool ok = false;
        const qlonglong number = value.toLongLong(&ok);
        if (ok && number >= std::numeric_limits<std::int32_t>::min() &&
            number <= std::numeric_limits<std::int32_t>::max())
            return static_cast<std::int32_t>(number);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::unique_ptr<SettingsStore>& installedStore() {
    static std::unique_ptr<SettingsStore> store;
    return store;
}

}  // namespace

IniSettingsStore::IniSettingsStore() = default;

IniSettingsStore::IniSettingsStore(std::string filePath) : filePath_(std::move(filePath)) {}

std::string IniSettingsStore::filePath() const {
    if (!filePath_.empty())
        return filePath_;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(folder).filePath(QStringLiteral("vozaro/vozaro.ini")).toStdString();
}

std::optional<std::int32_t> IniSettingsStore::readInt(const std::string& key,
                                                      const std::string& name) {
    QSettings settings(QString::fromStdString(filePath()), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return std::nullopt;
    settings.beginGroup(groupOf(key));
    return toInt32(settings.value(QString::fromStdString(name)));
}

bool IniSettingsStore::writeInt(const std::string& key, const std::string& name,
                                std::int32_t value) {
    QSettings settings(QString::fromStdString(filePath()), QSettings::IniFormat);
    settings.beginGroup(groupOf(key));
    settings.setValue(QString::fromStdString(name), static_cast<int>(value));
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

SettingsStore& settingsStore() {
    auto& store = installedStore();
    if (!store)
        store = std::make_unique<IniSettingsStore>();
    return *store;
}

std::unique_ptr<SettingsStore> installSettingsStore(std::unique_ptr<SettingsStore> store) {
    auto previous = std::exchange(installedStore(), std::move(store));
    return previous;
}

}  // namespace vozaro::platform
