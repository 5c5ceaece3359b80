// SPDX-License-Identifier: GPL-3.0-or-later
#include "config_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "combo_selection.h"
#include "controls.h"
#include "operations.h"
#include "settings_store.h"

namespace kestro {

namespace {

QByteArray checkKey(int i) {
    return "ValueConfig" + QByteArray::number(i + 1);
}

}  // namespace

ConfigPage::ConfigPage(const Controls& controls, const RunOperation& run) {
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;

    auto* checks = new QVBoxLayout;
    const char* captions[] = {"EEp&rom ON", "Ro&m ON", "No &COP", "N&o SEC"};
    const char* tips[] = {"Check to enable internal EEprom of your HC11",
                          "Check to enable internal Rom of your HC11",
                          "Check to disable COP watch dog function of your HC11",
                          "Check to disable the security feature of your HC11"};
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "Config" + QByteArray::number(i + 1);
        config_[i] = controls.check(this, name.constData(), captions[i], tips[i]);
        checks->addWidget(config_[i]);
    }
    checks->addStretch();

    auto* location = new QVBoxLayout;
    auto* label4 = controls.label(this, "Label4", QStringLiteral("HC811 Only"));
    config5_ = new QComboBox(this);
    config5_->setObjectName(QStringLiteral("Config5"));
    widgets::takeSelectionAsChoice(config5_);
    config5_->setEditable(true);
    // What the user types is used as typed; the list stays the sixteen places of the chip.
    config5_->setInsertPolicy(QComboBox::NoInsert);
    config5_->setToolTip(QStringLiteral("Set the EEprom location of a HC811E2"));
    config5_->setAccessibleName(QStringLiteral("HC811 Only"));
    config5_->setAccessibleDescription(config5_->toolTip());
    config5_->setEditText(QStringLiteral("$F800-$FFFF"));
    config5_->setMinimumWidth(controls.px(1700));
    label4->setBuddy(config5_);
    location->addWidget(label4);
    location->addWidget(config5_);
    location->addStretch();

    row->addSpacing(controls.px(240));
    row->addLayout(checks);
    row->addStretch();
    row->addLayout(location);
    row->addSpacing(controls.px(240));
    layout->addSpacing(controls.px(120));
    layout->addLayout(row, 1);
    addOperationButtons(controls, layout, this, ButtonGroup::Config, run, 1500, Qt::AlignHCenter);
    layout->addSpacing(controls.px(120));
}

void ConfigPage::fillLocations() {
    for (int k = 0; k < 16; ++k) {
        const QString digit = QString::number(k, 16).toUpper();
        config5_->addItem(QLatin1Char('$') + digit + QStringLiteral("800-$") + digit +
                          QStringLiteral("FFF"));
    }
    config5_->setEditText(QStringLiteral("$F800-$FFFF"));
}

void ConfigPage::restore(const StartupSettings& settings) {
    for (int i = 0; i < 4; ++i) {
        config_[i]->setChecked(settings.number(checkKey(i).constData(), 0, 1, 0) == 1);
    }
}

void ConfigPage::save(StartupSettings& settings) const {
    for (int i = 0; i < 4; ++i) {
        settings.setNumber(checkKey(i).constData(), config_[i]->isChecked() ? 1 : 0);
    }
}

void ConfigPage::addTo(ops::Inputs& in) const {
    for (int i = 0; i < 4; ++i) {
        switch (config_[i]->checkState()) {
            case Qt::Unchecked:
                in.config[i] = 0;
                break;
            case Qt::Checked:
                in.config[i] = 1;
                break;
            case Qt::PartiallyChecked:
                in.config[i] = 2;
                break;
        }
    }
    in.config5Text = config5_->currentText().toStdString();
}

}  // namespace kestro
