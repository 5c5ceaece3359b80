// SPDX-License-Identifier: GPL-3.0-or-later
#include "external_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "controls.h"
#include "operations.h"
#include "settings_store.h"

namespace kestro {

ExternalPage::ExternalPage(const Controls& controls, const RunOperation& run) {
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;

    auto* left = new QVBoxLayout;
    left->addWidget(
        controls.label(this, "Label19", QStringLiteral("Ext. RAM"), 18, false, Qt::AlignCenter));
    addOperationButtons(controls, left, this, ButtonGroup::ExtRam, run, 1500, Qt::AlignHCenter);
    left->addSpacing(controls.px(240));
    auto* label16 =
        controls.label(this, "Label16", QStringLiteral("Start Adress"), 12, true, Qt::AlignCenter);
    left->addWidget(label16);
    startAdress_ = new QLineEdit(QStringLiteral("2000"), this);
    startAdress_->setObjectName(QStringLiteral("StartAdress"));
    startAdress_->setAccessibleName(QStringLiteral("Start Adress"));
    QFont big = startAdress_->font();
    big.setPointSizeF(13.5);
    startAdress_->setFont(big);
    startAdress_->setAlignment(Qt::AlignCenter);
    startAdress_->setFixedWidth(
        startAdress_->fontMetrics().horizontalAdvance(QStringLiteral("WWWWWW")) + 12);
    label16->setBuddy(startAdress_);
    left->addWidget(startAdress_, 0, Qt::AlignHCenter);
    left->addStretch();

    auto* right = new QVBoxLayout;
    right->addWidget(
        controls.label(this, "Label20", QStringLiteral("Ext. EEprom"), 18, false, Qt::AlignCenter));
    addOperationButtons(controls, right, this, ButtonGroup::ExtEeprom, run, 1500, Qt::AlignHCenter);
    right->addStretch();

    row->addLayout(left, 1);
    row->addWidget(controls.verticalLine(this));
    row->addLayout(right, 1);
    layout->addLayout(row, 1);
    bar_ = controls.progressBar(layout, this, "RamBar");
}

void ExternalPage::restore(const StartupSettings& settings) {
    startAdress_->setText(settings.text("StartAdress", QStringLiteral("2000")));
}

void ExternalPage::save(StartupSettings& settings) const {
    settings.setText("StartAdress", startAdress_->text());
}

void ExternalPage::addTo(ops::Inputs& in) const {
    in.startAddress = startAdress_->text().toStdString();
}

}  // namespace kestro
