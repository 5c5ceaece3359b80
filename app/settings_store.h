// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <optional>
#include <string>

namespace kestro {

// The per-user settings store: ~/.config/kestro/kestro.ini, every value kept as text.
std::unique_ptr<QSettings> openUserSettings();

// The device behind Comm n, from the group "ports" (keys "Comm1".."Comm4"): a user with a USB
// adapter maps Comm 1 to /dev/ttyUSB0 there. Unmapped ports are /dev/ttyS0../dev/ttyS3.
std::string deviceForComm(QSettings& settings, int n);
// The same, read from the user's own store.
std::string deviceForComm(int n);

// The key "fast" of the group "link": the operations go through the fast protocol (true, yes,
// on or 1, in any case). The window reads it at start and writes it only from its Preferences,
// so that a run with the option --fast does not keep the mode for every run after it.
bool fastLink(QSettings& settings);
// The key "crystal" of the group "link": the HC11 board's crystal in MHz, as written ("7.3728");
// nullopt where there is none. The reader parses it and says what is wrong with it.
std::optional<std::string> linkCrystal(QSettings& settings);
// What the window's Preferences set: both keys of the group "link".
void setLinkPreferences(QSettings& settings, const std::string& crystal, bool fast);

// The group "startup" as the window reads and writes it.
class StartupSettings {
  public:
    explicit StartupSettings(QSettings& settings) : settings_(settings) {}

    // The stored text, or fallback when the key does not exist (an empty stored text stays empty).
    QString text(const char* key, const QString& fallback) const;
    // A stored decimal number in [low, high]; anything else gives fallback.
    int number(const char* key, int low, int high, int fallback) const;
    void setText(const char* key, const QString& value);
    void setNumber(const char* key, int value) { setText(key, QString::number(value)); }
    // Writes what is pending to the file. Returns, naming the file and the reason, why it
    // could not.
    std::optional<QString> sync();

    QSettings& store() { return settings_; }

  private:
    QSettings& settings_;
};

}  // namespace kestro
