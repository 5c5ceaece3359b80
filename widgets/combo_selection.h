// SPDX-License-Identifier: GPL-3.0-or-later
// Widgets shared by the program's windows.
#pragma once

#include <QAbstractItemView>
#include <QComboBox>
#include <QItemSelectionModel>

namespace kestro::widgets {

// A screen reader chooses a row of a closed combo box by selecting it in the box's list (its
// "Toggle" action), which a combo box alone does not take as a choice: only a click or Enter in
// the open list is. This makes such a selection a choice, as if the row had been activated.
inline void takeSelectionAsChoice(QComboBox* combo) {
    QObject::connect(
        combo->view()->selectionModel(), &QItemSelectionModel::selectionChanged, combo,
        [combo](const QItemSelection& selected) {
            if (combo->view()->isVisible() || selected.indexes().isEmpty())
                return;  // the open list: a click or Enter decides
            const int row = selected.indexes().first().row();
            if (row == combo->currentIndex() && combo->currentText() == combo->itemText(row))
                return;
            combo->setCurrentIndex(row);
            emit combo->activated(row);
            emit combo->textActivated(combo->itemText(row));
        });
}

}  // namespace kestro::widgets
