// SPDX-License-Identifier: GPL-3.0-or-later
#include "preferences_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestro {

namespace {

// The crystals HC11 boards are most often built with, in MHz: those that make standard rates
// from the boot loader's dividers, and the 8 and 12 MHz of the 2 and 3 MHz parts.
constexpr const char* kCommonCrystals[] = {"4.9152", "7.3728", "8", "9.8304", "12"};

QString explanation(const SciClock& sci) {
    return QStringLiteral(
               "E runs at %1 MHz: the boot loader and the talkers talk at %2 baud, "
               "their faster download at %3 baud, the fast mode at up to %4 baud.")
        .arg(QString::fromStdString(SciClock::mhzText(sci.crystalHz() / 4)))
        .arg(sci.talkerRate().asked)
        .arg(sci.loaderRate().asked)
        .arg(sci.fastRates()[0].asked);
}

}  // namespace

PreferencesDialog::PreferencesDialog(const Choice& current, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Preferences"));
    setWindowTitle(QStringLiteral("Kestro preferences"));
    setAccessibleName(QStringLiteral("Kestro preferences"));

    crystal_ = new QComboBox(this);
    crystal_->setObjectName(QStringLiteral("PreferencesCrystal"));
    crystal_->setAccessibleName(QStringLiteral("Crystal in MHz"));
    crystal_->setEditable(true);
    crystal_->setInsertPolicy(QComboBox::NoInsert);
    for (const char* c : kCommonCrystals)
        crystal_->addItem(QString::fromLatin1(c));
    crystal_->setCurrentText(QString::fromStdString(current.crystal.crystalText()));
    auto* crystalLabel = new QLabel(QStringLiteral("&Crystal (MHz):"), this);
    crystalLabel->setBuddy(crystal_);

    auto* crystalWhat = new QLabel(
        QStringLiteral("The crystal of your HC11 board, as printed on it. Every rate on the line "
                       "and every wait counted in characters follow it: with another crystal "
                       "than the board's, the HC11 hears nothing it can use."),
        this);
    crystalWhat->setWordWrap(true);
    crystalEffect_ = new QLabel(this);
    crystalEffect_->setObjectName(QStringLiteral("PreferencesCrystalEffect"));
    crystalEffect_->setWordWrap(true);

    fast_ = new QCheckBox(QStringLiteral("Fast &mode"), this);
    fast_->setObjectName(QStringLiteral("PreferencesFast"));
    fast_->setAccessibleName(QStringLiteral("Fast mode"));
    fast_->setChecked(current.fast);
    auto* fastWhat = new QLabel(
        QStringLiteral("Every job but Test Comm goes in binary blocks, each checked and answered, "
                       "at the highest rate the adapter and the HC11 share; the verdicts, boxes "
                       "and files are the same."),
        this);
    fastWhat->setWordWrap(true);
    fast_->setAccessibleDescription(fastWhat->text());

    auto* written = new QLabel(
        QStringLiteral("Both are kept in the settings file's group [link] (keys crystal and "
                       "fast), which kestro-cli reads the crystal from too."),
        this);
    written->setWordWrap(true);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->setObjectName(QStringLiteral("PreferencesButtons"));
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(crystalLabel, crystal_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(crystalWhat);
    layout->addWidget(crystalEffect_);
    layout->addSpacing(8);
    layout->addWidget(fast_);
    layout->addWidget(fastWhat);
    layout->addSpacing(8);
    layout->addWidget(written);
    layout->addWidget(buttons_);
    setMinimumWidth(420);

    connect(crystal_, &QComboBox::currentTextChanged, this, [this] { crystalEdited(); });
    crystalEdited();
    crystal_->setFocus();
}

std::optional<PreferencesDialog::Choice> PreferencesDialog::choice() const {
    const auto hz = parseCrystalMHz(crystal_->currentText().trimmed().toStdString());
    if (!hz)
        return std::nullopt;
    return Choice{SciClock(*hz), fast_->isChecked()};
}

void PreferencesDialog::crystalEdited() {
    const auto c = choice();
    crystalEffect_->setText(
        c ? explanation(c->crystal)
          : QStringLiteral("Not a crystal: type it in MHz, from %1 to %2, with a point (7.3728).")
                .arg(kCrystalMinMHz)
                .arg(kCrystalMaxMHz));
    crystal_->setAccessibleDescription(crystalEffect_->text());
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(c.has_value());
}

}  // namespace kestro
