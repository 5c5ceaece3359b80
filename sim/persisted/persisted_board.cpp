// SPDX-License-Identifier: GPL-3.0-or-later
#include "persisted_board.h"

#include <QStandardPaths>
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
