// What a screen reader does to the window's controls, through Qt's accessibility interface.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>

namespace kestro::testing {

// Selects a row of a closed combo box the way a screen reader does: "Toggle" on the row in the
// box's list.
inline void selectByScreenReader(QComboBox* combo, int row) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(combo->view());
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->tableInterface(), nullptr);
    QAccessibleInterface* item = list->tableInterface()->cellAt(row, 0);
    ASSERT_NE(item, nullptr);
    ASSERT_NE(item->actionInterface(), nullptr);
    item->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

}  // namespace kestro::testing
