// SPDX-License-Identifier: GPL-3.0-or-later
#include "persisted_board.h"

#include <QStandardPaths>
#include <cctype>
#include <string>
#include <system_error>

namespace kestro::sim {

std::filesystem::path PersistedBoard::folderFor(std::string_view name) {
    const std::filesystem::path data =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
    if (name.empty())
        return data;
    return data / "boards" / std::string(name);
}

bool PersistedBoard::validBoardName(std::string_view name) {
    if (name.empty() || name.size() > 64)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

const Variant* PersistedBoard::partNamed(std::string_view name) {
    // The parts as people call them, without the maker's prefix.
    static constexpr std::pair<std::string_view, Chip> kShortNames[] = {
        {"A8", Chip::A8}, {"E9", Chip::E9}, {"711E9", Chip::E9_711}, {"811E2", Chip::E2_811}};
    std::string upper(name);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& [shortName, chip] : kShortNames)
        if (upper == shortName)
            return &variant(chip);
    return variantNamed(upper);
}

PersistedBoard::PersistedBoard(Scheduler& scheduler, VirtualPort& port, int n, std::string portName,
                               std::filesystem::path folder, Duration slice)
    : line_(scheduler),
      board_(scheduler, line_,
             BoardOptions{.chip = Chip::E9, .programmingVoltage = false, .slice = slice}),
      keeper_(board_, std::move(folder)) {
    port.attach(n, line_, std::move(portName));
    std::error_code ec;
    std::filesystem::create_directories(keeper_.folder(), ec);
    loadError_ = keeper_.restore();
}

PersistedBoard::~PersistedBoard() {
    save();
}

}  // namespace kestro::sim
