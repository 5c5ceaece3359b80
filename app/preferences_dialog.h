// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <optional>

#include "sci_rates.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;

namespace kestro {

// What the link is set to that the pages do not show: the board's crystal and the fast mode,
// the two keys of the settings' group [link], each with a line that says what it does.
class PreferencesDialog : public QDialog {
    Q_OBJECT
  public:
    struct Choice {
        SciClock crystal;
        bool fast = false;
    };
    PreferencesDialog(const Choice& current, QWidget* parent);

    // The choice as it stands; nullopt while the crystal typed is none.
    std::optional<Choice> choice() const;

  private:
    // Tells what the crystal typed gives, or why it is none, and lets OK take only a crystal.
    void crystalEdited();

    QComboBox* crystal_;
    QLabel* crystalEffect_;
    QCheckBox* fast_;
    QDialogButtonBox* buttons_;
};

}  // namespace kestro
