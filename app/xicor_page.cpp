// SPDX-License-Identifier: GPL-3.0-or-later
#include "xicor_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "combo_selection.h"
#include "controls.h"
#include "operations.h"
#include "page_bar.h"
#include "settings_store.h"
#include "shell_rules.h"

namespace kestro {

XicorPage::XicorPage(const Controls& controls, const RunOperation& run) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(controls.px(60), controls.px(90), controls.px(60), controls.px(90));
    auto* row = new QHBoxLayout;
    row->setSpacing(controls.px(60));
    auto heading = [&](const char* name, const char* caption) {
        return controls.label(this, name, QString::fromLatin1(caption), 0, true, Qt::AlignCenter);
    };

    auto* sfr = new QVBoxLayout;
    auto* label17 = heading("Label17", "SFR");
    sfr->addWidget(label17);
    scSfr_ = new PageBar(64, 1, 64, this);
    scSfr_->setObjectName(QStringLiteral("XIscSFR"));
    scSfr_->setAccessibleName(QStringLiteral("SFR location"));
    scSfr_->setFixedWidth(qMax(scSfr_->sizeHint().width(), controls.px(255)));
    label17->setBuddy(scSfr_);
    sfr->addWidget(scSfr_, 1, Qt::AlignHCenter);
    leSfr_ = controls.label(this, "XIleSFR", QStringLiteral("$0400"), 0, false, Qt::AlignCenter);
    leSfr_->setBuddy(scSfr_);
    scSfr_->setValueText(leSfr_->text());
    sfr->addWidget(leSfr_);
    addOperationButtons(controls, sfr, this, ButtonGroup::XiSfr, run);
    whenSettled(this, scSfr_, [this] { sfrChanged(); });

    auto* eem = new QVBoxLayout;
    auto* label18 = heading("Label18", "EEM");
    eem->addWidget(label18);
    eemMap_ = new QComboBox(this);
    eemMap_->setObjectName(QStringLiteral("XIEEMmap"));
    widgets::takeSelectionAsChoice(eemMap_);
    eemMap_->setEditable(true);
    eemMap_->setInsertPolicy(QComboBox::NoInsert);  // the eight blocks, whatever is typed
    eemMap_->setAccessibleName(QStringLiteral("EEM"));
    eemMap_->setEditText(QStringLiteral("$E000-$FFFF"));
    eemMap_->setMinimumContentsLength(11);
    eemMap_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    label18->setBuddy(eemMap_);
    eem->addWidget(eemMap_);
    eemLam_ =
        controls.check(this, "XIEEMLAM", "PB LAM", "Xicor port B is low address byte (A7-A0)");
    eemRes_ = controls.check(this, "XIEEMres", "Reset &HI", "Xicor reset active hi");
    eem->addWidget(eemLam_);
    eem->addWidget(eemRes_);
    eem->addStretch();
    addOperationButtons(controls, eem, this, ButtonGroup::XiEem, run);

    auto* bpr = new QVBoxLayout;
    bpr->setSpacing(0);
    bpr->addWidget(heading("Label22", "BPR"));
    for (int n = 7; n >= 0; --n) {
        const QByteArray name = "XIBPR" + QByteArray::number(n);
        const QString caption = QStringLiteral("$%1-$%2")
                                    .arg(n * 0x400, 4, 16, QLatin1Char('0'))
                                    .arg(n * 0x400 + 0x3FF, 4, 16, QLatin1Char('0'))
                                    .toUpper();
        bpr_[n] = controls.check(this, name.constData(), caption.toUtf8().constData());
        bpr->addWidget(bpr_[n]);
    }
    bpr->addStretch();
    addOperationButtons(controls, bpr, this, ButtonGroup::XiBpr, run);

    auto* tools = new QVBoxLayout;
    auto* label10 = heading("Label10", "Xicor EEprom tools");
    label10->setWordWrap(true);
    tools->addWidget(label10);
    addOperationButtons(controls, tools, this, ButtonGroup::XiTools, run);
    tools->addStretch();

    row->addLayout(sfr);
    row->addLayout(eem);
    row->addWidget(controls.verticalLine(this));
    row->addLayout(bpr);
    row->addWidget(controls.verticalLine(this));
    row->addLayout(tools);
    layout->addLayout(row, 1);
    bar_ = controls.progressBar(layout, this, "xibar");
}

void XicorPage::fillBlocks() {
    for (int k = 0; k < 8; ++k) {
        eemMap_->addItem(QStringLiteral("$%1-$%2")
                             .arg(k * 0x2000, 4, 16, QLatin1Char('0'))
                             .arg(k * 0x2000 + 0x1FFF, 4, 16, QLatin1Char('0'))
                             .toUpper());
    }
    eemMap_->setEditText(QStringLiteral("$E000-$FFFF"));
}

void XicorPage::restore(const StartupSettings& settings) {
    sfrText_ = settings.text("SFR", QStringLiteral("0400"));
    leSfr_->setText(QStringLiteral("$") + sfrText_);
    scSfr_->setValueText(leSfr_->text());
    scSfr_->setValue(settings.number("SCsfr", 0, 64, 4));
}

void XicorPage::save(StartupSettings& settings) const {
    settings.setText("SFR", sfrText_);
    settings.setNumber("SCsfr", scSfr_->value());
}

void XicorPage::addTo(ops::Inputs& in) const {
    in.sfrPosition = scSfr_->value();
    in.eemMapText = eemMap_->currentText().toStdString();
    in.eemLam = eemLam_->isChecked();
    in.eemRes = eemRes_->isChecked();
    for (int n = 0; n < 8; ++n) {
        in.bpr[n] = bpr_[n]->isChecked();
    }
}

void XicorPage::sfrChanged() {
    const int position = scSfr_->value();
    sfrText_ = QString::fromStdString(shell::sfrText(position));
    leSfr_->setText(QString::fromStdString(shell::sfrLabel(position)));
    scSfr_->setValueText(leSfr_->text());
}

}  // namespace kestro
