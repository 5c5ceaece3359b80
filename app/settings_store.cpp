// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_store.h"

#include <QSaveFile>
#include <filesystem>
#include <system_error>

#include "shell_rules.h"

namespace kestro {

namespace {
constexpr auto kStartup = "startup";
constexpr auto kPorts = "ports";
constexpr auto kLink = "link";

// QSettings only says that it could not write; the reason is found by trying as it does.
QString whyNotWritable(const QString& file) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(file.toStdString()).parent_path(),
                                        ec);
    if (ec) {
        return QString::fromStdString(ec.message());
    }
    QSaveFile probe(file);
    if (!probe.open(QIODevice::WriteOnly)) {
        return probe.errorString();
    }
    probe.cancelWriting();
    return QStringLiteral("it could not be written");
}
}  // namespace

std::unique_ptr<QSettings> openUserSettings() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("kestro"), QStringLiteral("kestro"));
}

std::string deviceForComm(QSettings& settings, int n) {
    const QString fallback = QStringLiteral("/dev/ttyS%1").arg(n - 1);
    settings.beginGroup(QLatin1String(kPorts));
    const QString device =
        settings.value(QStringLiteral("Comm%1").arg(n), fallback).toString().trimmed();
    settings.endGroup();
    return (device.isEmpty() ? fallback : device).toStdString();
}

bool fastLink(QSettings& settings) {
    settings.beginGroup(QLatin1String(kLink));
    const QString value = settings.value(QStringLiteral("fast")).toString().trimmed().toLower();
    settings.endGroup();
    for (const char* yes : {"true", "yes", "on", "1"})
        if (value == QLatin1String(yes))
            return true;
    return false;
}

std::optional<std::string> linkCrystal(QSettings& settings) {
    settings.beginGroup(QLatin1String(kLink));
    const QVariant value = settings.value(QStringLiteral("crystal"));
    settings.endGroup();
    if (!value.isValid())
        return std::nullopt;
    return value.toString().trimmed().toStdString();
}

void setLinkPreferences(QSettings& settings, const std::string& crystal, bool fast) {
    settings.beginGroup(QLatin1String(kLink));
    settings.setValue(QStringLiteral("crystal"), QString::fromStdString(crystal));
    settings.setValue(QStringLiteral("fast"),
                      fast ? QStringLiteral("true") : QStringLiteral("false"));
    settings.endGroup();
}

std::string deviceForComm(int n) {
    const auto settings = openUserSettings();
    return deviceForComm(*settings, n);
}

QString StartupSettings::text(const char* key, const QString& fallback) const {
    settings_.beginGroup(QLatin1String(kStartup));
    const QVariant value = settings_.value(QLatin1String(key));
    settings_.endGroup();
    return value.isValid() ? value.toString() : fallback;
}

int StartupSettings::number(const char* key, int low, int high, int fallback) const {
    const QString stored = text(key, QString::number(fallback));
    return shell::storedNumber(stored.toStdString(), low, high, fallback);
}

void StartupSettings::setText(const char* key, const QString& value) {
    settings_.beginGroup(QLatin1String(kStartup));
    settings_.setValue(QLatin1String(key), value);
    settings_.endGroup();
}

std::optional<QString> StartupSettings::sync() {
    settings_.sync();
    if (settings_.status() != QSettings::AccessError) {
        return std::nullopt;
    }
    const QString file = settings_.fileName();
    return QStringLiteral("The settings could not be saved to %1: %2.")
        .arg(file, whyNotWritable(file));
}

}  // namespace kestro
