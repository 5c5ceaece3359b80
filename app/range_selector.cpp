// SPDX-License-Identifier: GPL-3.0-or-later
#include "range_selector.h"

#include <QGridLayout>
#include <QLabel>

#include "controls.h"
#include "page_bar.h"
#include "settings_store.h"
#include "shell_rules.h"

namespace kestro {

// One end of an address range, as the store and the operations know it.
struct RangeSelector::Row {
    const char* name;    // the range text's name, also its settings key
    const char* barKey;  // the settings key of the bar's page
    const char* barName;
    const char* labelName;  // the address under the bar
    const char* captionName;
    int page;  // where the bar starts
};

namespace {

// The text of a range's Begin (side 0) or End (side 1) bar at a page.
QString selectorText(int side, int page) {
    return QString::fromStdString(side == 0 ? shell::beginText(page) : shell::endText(page));
}

}  // namespace

RangeSelector::RangeSelector(AddressRange range, const Controls& controls, QWidget* parent)
    : QWidget(parent) {
    // The EEPROM, EPROM and Dump ranges, Begin then End.
    static constexpr Row kRanges[3][2] = {
        {{"EEpromBegin", "SCEEpromBegin", "ScEepromBegin", "LEepromBegin", "Label2", 182},
         {"EEpromEnd", "SCEEpromEnd", "ScEepromEnd", "LEepromEnd", "Label3", 183}},
        {{"EpromBegin", "SCEpromBegin", "ScEpromBegin", "LEpromBegin", "Label6", 208},
         {"EpromEnd", "SCEpromEnd", "ScEpromEnd", "LEpromEnd", "Label7", 255}},
        {{"DumpBegin", "SCDumpBegin", "ScDumpBegin", "LEdumpBegin", "Label25", 182},
         {"DumpEnd", "SCDumpEnd", "ScDumpEnd", "LEdumpEnd", "Label24", 183}},
    };
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(controls.px(120));
    for (int side = 0; side < 2; ++side) {
        End& e = ends_[side];
        e.row = &kRanges[static_cast<int>(range)][side];
        e.text = selectorText(side, e.row->page);
        auto* caption = controls.label(this, e.row->captionName,
                                       side == 0 ? QStringLiteral("Begin") : QStringLiteral("End"),
                                       0, false, Qt::AlignCenter);
        e.bar = new PageBar(255, 16, e.row->page, this);
        e.bar->setObjectName(QString::fromLatin1(e.row->barName));
        e.bar->setMinimumHeight(controls.px(2000));
        e.bar->setFixedWidth(qMax(e.bar->sizeHint().width(), controls.px(255)));
        e.bar->setAccessibleName(caption->text() + QStringLiteral(" address"));
        whenSettled(this, e.bar, [this, side] { moved(side); });
        e.label = controls.label(this, e.row->labelName, QStringLiteral("$") + e.text, 0, false,
                                 Qt::AlignCenter);
        e.label->setMinimumWidth(
            e.label->fontMetrics().horizontalAdvance(QStringLiteral("$FFFFF")));
        // Both the caption and the address under the bar label it for screen readers.
        caption->setBuddy(e.bar);
        e.label->setBuddy(e.bar);
        e.bar->setValueText(e.label->text());
        grid->addWidget(caption, 0, side, Qt::AlignHCenter);
        grid->addWidget(e.bar, 1, side, Qt::AlignHCenter);
        grid->addWidget(e.label, 2, side, Qt::AlignHCenter);
    }
    grid->setRowStretch(1, 1);
}

const char* RangeSelector::name(int side) const {
    return ends_[side].row->name;
}

void RangeSelector::restore(const StartupSettings& settings) {
    for (int side = 0; side < 2; ++side) {
        End& e = ends_[side];
        // A text that is no range text would be shown and sent as it stands.
        const QString fallback = selectorText(side, e.row->page);
        const QString text = settings.text(e.row->name, fallback);
        const std::string checked = text.toStdString();
        e.text =
            (side == 0 ? shell::isBeginText(checked) : shell::isEndText(checked)) ? text : fallback;
    }
    for (End& e : ends_) {
        e.label->setText(QStringLiteral("$") + e.text);
        e.bar->setValueText(e.label->text());
    }
    // Each bar that moves runs its change handler, which may push the End bar.
    for (End& e : ends_) {
        e.bar->setValue(settings.number(e.row->barKey, 0, 255, e.row->page));
    }
}

void RangeSelector::save(StartupSettings& settings) const {
    for (const End& e : ends_) {
        settings.setText(e.row->name, e.text);
        settings.setNumber(e.row->barKey, e.bar->value());
    }
}

void RangeSelector::moved(int side) {
    End& e = ends_[side];
    e.text = selectorText(side, e.bar->value());
    e.label->setText(QString::fromStdString(shell::rangeLabel(e.text.toStdString())));
    e.bar->setValueText(e.label->text());
    if (const auto end = shell::correctedEnd(ends_[0].bar->value(), ends_[1].bar->value())) {
        ends_[1].bar->setValue(*end);
    }
}

}  // namespace kestro
