// SPDX-License-Identifier: GPL-3.0-or-later
#include "operation_buttons.h"

#include <QBoxLayout>
#include <QPushButton>

#include "controls.h"

namespace kestro {

void addOperationButtons(const Controls& controls, QBoxLayout* box, QWidget* parent,
                         ButtonGroup group, const RunOperation& run, int minWidthTwips,
                         Qt::Alignment align) {
    // gap: the space above a button, in twips. The underlined letters (Alt+letter) differ from
    // those of the page tabs and the strip's buttons, and from each other on a page.
    struct Row {
        ButtonGroup group;
        const char* name;
        const char* caption;
        const char* tip;
        int gap;
    };
    static constexpr Row kButtons[] = {
        {ButtonGroup::Comm, "TestComm", "Test &Comm",
         "Check the communictaion with your HC11 before anything", 0},
        {ButtonGroup::Config, "ConfigProgram", "Pro&gram",
         "Program the config register with this setting", 0},
        {ButtonGroup::Eeprom, "EepromCheck", "&Check Stat",
         "Check is there is data in the internal EEprom of your HC11", 0},
        {ButtonGroup::Eeprom, "EepromErase", "E&rase", "Erase the internal EEprom of your HC11", 0},
        {ButtonGroup::Eeprom, "EepromProgram", "Pro&gram",
         "Program the internal EEprom your a HC11 with a S19 file", 240},
        {ButtonGroup::Eeprom, "EepromCompare", "C&ompare",
         "Compare the internal EEprom of your HC11 with a S19 file", 0},
        {ButtonGroup::Eprom, "EpromCheck", "&Check Stat",
         "Check is there is data in the internal Eprom of your HC11", 0},
        {ButtonGroup::Eprom, "EpromProgram", "Pro&gram",
         "Program the internal Eprom of your HC11 with a S19 file", 240},
        {ButtonGroup::Eprom, "EpromCompare", "C&ompare",
         "Compare the internal Eprom of your HC11 with a S19 file", 0},
        {ButtonGroup::ExtRam, "ExtRam", "Do&wnload",
         "Download a S19 file in External RAM and execute this code at the \"Start Adress\"", 0},
        {ButtonGroup::ExtEeprom, "ExtEEprog", "Pro&gram", "Program external EEprom with a S19 file",
         0},
        {ButtonGroup::ExtEeprom, "ExtEEcomp", "C&ompare", "Compare external EEprom with a S19 file",
         0},
        {ButtonGroup::XiSfr, "XISFR", "Pro&g. SFR",
         "Program the SFR memory map location (SFR:Xicor register location)", 0},
        {ButtonGroup::XiEem, "XIeem", "Prog. EE&M",
         "Program the EEM memory map location (EEM:Xicor EEprom location)", 0},
        {ButtonGroup::XiBpr, "XIBPR", "Prog. &BPR",
         "Program the BPR (BPR:Xicor EEprom block protection)", 0},
        {ButtonGroup::XiTools, "XISDPoff", "SDP &off",
         "Disable Software Data Protection of the Xicor. You must do this before any Xicor "
         "operation",
         0},
        {ButtonGroup::XiTools, "Xiprog", "Progr&am", "Program Xicor EEprom with a S19 file", 120},
        {ButtonGroup::XiTools, "Xicomp", "&Compare", "Compare Xicor EEprom with a S19 file", 0},
        {ButtonGroup::XiTools, "XIreset", "&Reset", "Reset will try to restore default Xicor value",
         120},
        {ButtonGroup::Dump, "DumpStart", "St&art Dump", "Create a S19 file from HC11 memory", 0},
    };
    for (const Row& row : kButtons) {
        if (row.group != group) {
            continue;
        }
        if (row.gap > 0) {
            box->addSpacing(controls.px(row.gap));
        }
        QPushButton* button = controls.button(parent, row.name, row.caption, row.tip);
        if (minWidthTwips > 0) {
            button->setMinimumWidth(controls.px(minWidthTwips));
        }
        QObject::connect(button, &QPushButton::clicked, button,
                         [run, name = button->objectName()] { run(name); });
        box->addWidget(button, 0, align);
    }
}

}  // namespace kestro
