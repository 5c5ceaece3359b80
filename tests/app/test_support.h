// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <map>
#include <ostream>

// Readable Qt strings in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{';
    for (const QString& s : l) {
        *os << " \"" << s.toStdString() << '"';
    }
    *os << " }";
}

// Everything a settings store holds, as it would be read back from its file.
inline std::map<QString, QString> storedKeys(QSettings& settings) {
    settings.sync();
    std::map<QString, QString> all;
    for (const QString& key : settings.allKeys()) {
        all[key] = settings.value(key).toString();
    }
    return all;
}
