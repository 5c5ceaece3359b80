// SPDX-License-Identifier: GPL-3.0-or-later
#include "misc_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls.h"

#ifndef KESTRO_VERSION
#define KESTRO_VERSION "0.0.0"
#endif

namespace kestro {

MiscPage::MiscPage(const Controls& controls, const std::function<void()>& help,
                   const std::function<void()>& preferences, const std::function<void()>& about) {
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(controls.picture(this, "MiscPicture", ":/kestro/logo.svg", controls.px(2200),
                                    QStringLiteral("Kestro")));
    auto* text = new QVBoxLayout;
    text->addWidget(controls.label(this, "MiscName", QStringLiteral("Kestro"), 20, true));
    auto* line =
        controls.label(this, "MiscText",
                       QStringLiteral("Loads, programs, verifies and reads the memories of a "
                                      "Motorola 68HC11 through its serial bootstrap mode."));
    line->setWordWrap(true);
    text->addWidget(line);
    text->addWidget(controls.label(
        this, "MiscVersion", QStringLiteral("Version %1").arg(QStringLiteral(KESTRO_VERSION))));
    text->addStretch();
    row->addLayout(text, 1);
    layout->addLayout(row, 1);

    auto* buttons = new QHBoxLayout;
    auto* helpButton = controls.button(this, "help", "&Help", "Real help");
    auto* preferencesButton = controls.button(this, "Preferences", "P&references",
                                              "The board's crystal and the fast mode (Ctrl+,)");
    auto* aboutButton = controls.button(this, "About", "&About", "Check your Kestro version");
    connect(helpButton, &QPushButton::clicked, this, help);
    connect(preferencesButton, &QPushButton::clicked, this, preferences);
    connect(aboutButton, &QPushButton::clicked, this, about);
    for (auto* b : {helpButton, preferencesButton, aboutButton}) {
        b->setMinimumWidth(controls.px(1300));
    }
    buttons->addStretch();
    buttons->addWidget(helpButton);
    buttons->addSpacing(controls.px(360));
    buttons->addWidget(preferencesButton);
    buttons->addSpacing(controls.px(360));
    buttons->addWidget(aboutButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addSpacing(controls.px(120));
}

}  // namespace kestro
