// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader does to the window's controls, through Qt's accessibility interface.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>

#include <utility>
#include <vector>
#include "announce.h"

namespace kestro::testing {

// Selects a row of a list the way a screen reader does: "Toggle" on the row.
inline void selectByScreenReader(QAbstractItemView* view, int row) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->tableInterface(), nullptr);
    QAccessibleInterface* item = list->tableInterface()->cellAt(row, 0);
    ASSERT_NE(item, nullptr);
    ASSERT_NE(item->actionInterface(), nullptr);
    item->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

// The same for a row of a closed combo box: the row in the box's list.
inline void selectByScreenReader(QComboBox* combo, int row) {
    selectByScreenReader(combo->view(), row);
}

// The events the windows announce to screen readers while this lives.
class HeardEvents {
  public:
    HeardEvents() {
        widgets::announceWatcher() = [this](const QAccessibleEvent& e) {
            seen_.emplace_back(e.object(), e.type());
        };
    }
    ~HeardEvents() { widgets::announceWatcher() = nullptr; }
    HeardEvents(const HeardEvents&) = delete;
    HeardEvents& operator=(const HeardEvents&) = delete;

    int count(const QObject* object, QAccessible::Event type) const {
        int n = 0;
        for (const auto& [o, t] : seen_)
            n += o == object && t == type ? 1 : 0;
        return n;
    }

  private:
    std::vector<std::pair<const QObject*, QAccessible::Event>> seen_;
};

}  // namespace kestro::testing
