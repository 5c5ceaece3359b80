// SPDX-License-Identifier: GPL-3.0-or-later
#include "comm_page.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <utility>

#include "announce.h"
#include "controls.h"
#include "link_state.h"

namespace kestro {

namespace {
constexpr const char* kInUse = "CommPort already in use";
}

CommPage::CommPage(LinkState& link, const Controls& controls, const RunOperation& run)
    : link_(link) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(controls.label(this, "Label1", QStringLiteral("Communication Port"), 12,
                                     false, Qt::AlignCenter));
    layout->addSpacing(controls.px(120));

    auto* radios = new QHBoxLayout;
    radios->addStretch();
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    for (int n = 1; n <= LinkState::kPorts; ++n) {
        auto* radio = new QRadioButton(QStringLiteral("Comm &%1").arg(n), this);
        radio->setObjectName(QStringLiteral("Comm%1").arg(n));
        const QString device = QString::fromStdString(link_.port().deviceName(n));
        radio->setToolTip(device);
        radio->setAccessibleDescription(device);
        group_->addButton(radio, n);
        radios->addWidget(radio);
        if (n < LinkState::kPorts) {
            radios->addSpacing(controls.px(240));
        }
        comm_[n - 1] = radio;
    }
    radios->addStretch();
    comm_[0]->setChecked(true);
    // The user checking a button changes the port once, however it was checked: mouse,
    // keyboard or a screen reader's toggle. A click on the button already checked reopens its
    // port. The program's own choice (selectComm) never changes it.
    connect(group_, &QButtonGroup::idPressed, this,
            [this](int n) { wasChecked_ = comm_[n - 1]->isChecked(); });
    connect(group_, &QButtonGroup::idToggled, this, [this](int n, bool checked) {
        if (checked) {
            link_.changePort(n);
        }
    });
    connect(group_, &QButtonGroup::idClicked, this, [this](int n) {
        if (std::exchange(wasChecked_, false)) {
            link_.changePort(n);
        }
    });
    layout->addLayout(radios);
    layout->addSpacing(controls.px(240));

    useImg_ = controls.picture(this, "CommUseIMG", ":/kestro/port_in_use.svg", controls.px(600),
                               QStringLiteral("Port in use"));
    useTxt_ = controls.label(this, "CommUseTXT", QString::fromLatin1(kInUse), 9.75, true,
                             Qt::AlignHCenter | Qt::AlignTop);
    useTxt_->setWordWrap(true);
    useTxt_->setMinimumHeight(useTxt_->fontMetrics().lineSpacing() * 2);
    for (QWidget* w : {static_cast<QWidget*>(useImg_), static_cast<QWidget*>(useTxt_)}) {
        keepPlaceWhenHidden(w);
        w->hide();
        layout->addWidget(w);
    }
    layout->addStretch();
    addOperationButtons(controls, layout, this, ButtonGroup::Comm, run, 1800, Qt::AlignHCenter);
    layout->addSpacing(controls.px(120));
}

void CommPage::selectComm(int n) {
    const QSignalBlocker block(group_);
    if (n >= 1 && n <= LinkState::kPorts) {
        comm_[n - 1]->setChecked(true);
        return;
    }
    group_->setExclusive(false);
    for (QRadioButton* radio : comm_) {
        radio->setChecked(false);
    }
    group_->setExclusive(true);
}

void CommPage::showPortWarning(const std::optional<std::string>& text) {
    if (text) {
        const QString warning = QString::fromStdString(*text);
        useTxt_->setText(warning);
        // The padlock stands for every port that would not open; its name says which case.
        useImg_->setAccessibleName(warning == QLatin1String(kInUse)
                                       ? QStringLiteral("Port in use")
                                       : QStringLiteral("Port not opened"));
        useTxt_->show();
        useImg_->show();
        // Shown for a moment only: a screen reader hears it at once, as an alert.
        QAccessibleEvent alert(useTxt_, QAccessible::Alert);
        widgets::announce(alert);
    } else {
        useTxt_->hide();
        useImg_->hide();
    }
}

}  // namespace kestro
