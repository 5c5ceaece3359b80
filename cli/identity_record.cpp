// SPDX-License-Identifier: GPL-3.0-or-later
#include "identity_record.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kestro::cli {

namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QJsonObject described(const ops::Identity& id, const sim::Variant& part) {
    QJsonArray bits;
    for (const ops::ConfigBit& b : ops::configBits(id.config, part))
        bits.append(QJsonObject{{"name", text(b.name)},
                                {"value", static_cast<int>(b.value)},
                                {"meaning", text(b.meaning)}});
    QJsonArray map;
    for (const ops::MappedMemory& m : ops::memoryMap(id, part))
        map.append(QJsonObject{{"memory", text(m.name)},
                               {"begin", static_cast<int>(m.begin)},
                               {"end", static_cast<int>(m.end)}});
    return {{"part", text(part.name)}, {"configBits", bits}, {"memoryMap", map}};
}

}  // namespace

std::string identityJson(const ops::Identity& id, const ops::IdentReading& reading, int lineBaud) {
    QJsonArray candidates, why, parts;
    for (const sim::Variant* v : id.candidates)
        candidates.append(text(v->name));
    for (const std::string& w : id.why)
        why.append(text(w));
    for (const sim::Variant* v : ops::describedParts(id))
        parts.append(described(id, *v));
    const QJsonObject o{
        {"part", id.part ? QJsonValue(text(id.part->name)) : QJsonValue()},
        {"candidates", candidates},
        {"why", why},
        {"config", id.config},
        {"ramBytes", static_cast<int>(id.ramSize)},
        {"registerBytes", static_cast<int>(id.registerBlockSize)},
        {"described", parts},
        {"crystalHz", static_cast<double>(reading.crystalHz)},
        {"eClockHz", static_cast<double>(reading.crystalHz) / 4},
        {"downloadBaud", reading.downloadBaud},
        {"baud", lineBaud != 0 ? lineBaud : reading.downloadBaud},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace kestro::cli
