// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSvgRenderer>
#include <memory>

#include "ui_rules.h"

namespace kestro {

int Controls::px(int twips) const {
    return shell::twipsToPixels(twips, dpi_);
}

QPushButton* Controls::button(QWidget* parent, const char* name, const char* caption,
                              const char* tip) const {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    // A job's end gives the button back its caption without its underlined letter.
    button->setProperty(kRestingText, button->text());
    button->setAutoDefault(false);
    button->setToolTip(QString::fromUtf8(tip));
    button->setAccessibleDescription(QString::fromUtf8(tip));
    return button;
}

QLabel* Controls::label(QWidget* parent, const char* name, const QString& caption, double pointSize,
                        bool bold, Qt::Alignment align) const {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    if (pointSize > 0 || bold) {
        QFont f = label->font();
        if (pointSize > 0) {
            f.setPointSizeF(pointSize);
        }
        f.setBold(bold);
        label->setFont(f);
    }
    if (align) {
        label->setAlignment(align);
    }
    return label;
}

QLabel* Controls::picture(QWidget* parent, const char* name, const char* resource, int sizePx,
                          const QString& accessibleName) const {
    auto* picture = new QLabel(parent);
    picture->setObjectName(QString::fromLatin1(name));
    QSvgRenderer renderer(QString::fromLatin1(resource));
    QSize size = renderer.defaultSize();
    size.scale(sizePx, sizePx, Qt::KeepAspectRatio);
    QPixmap pixmap(size * ratio_);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(ratio_);
    picture->setPixmap(pixmap);
    picture->setAlignment(Qt::AlignCenter);
    picture->setAccessibleName(accessibleName);
    return picture;
}

QCheckBox* Controls::check(QWidget* parent, const char* name, const char* caption,
                           const char* tip) const {
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    if (tip != nullptr) {
        box->setToolTip(QString::fromUtf8(tip));
        box->setAccessibleDescription(QString::fromUtf8(tip));
    }
    return box;
}

QProgressBar* Controls::progressBar(QBoxLayout* box, QWidget* parent, const char* name) const {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(0, 100);
    bar->setTextVisible(false);
    bar->setAccessibleName(QStringLiteral("Progress"));
    // The window is disabled while a job runs; its progress is what the user watches then,
    // so the bar keeps its enabled colours.
    QPalette readable = bar->palette();
    for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::HighlightedText,
                            QPalette::Highlight, QPalette::Base, QPalette::Window}) {
        readable.setColor(QPalette::Disabled, role, readable.color(QPalette::Active, role));
    }
    bar->setPalette(readable);
    keepPlaceWhenHidden(bar);
    bar->hide();
    box->addWidget(bar);
    return bar;
}

QFrame* Controls::verticalLine(QWidget* parent) const {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QString withoutMnemonic(QString text) {
    static const QRegularExpression single(QStringLiteral("&(.)"));
    return text.replace(single, QStringLiteral("\\1"));
}

void keepPlaceWhenHidden(QWidget* w) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
}

void whenSettled(QObject* context, QScrollBar* bar, const std::function<void()>& handler) {
    auto pressedAt = std::make_shared<int>(bar->value());
    QObject::connect(bar, &QScrollBar::sliderPressed, context,
                     [bar, pressedAt] { *pressedAt = bar->value(); });
    QObject::connect(bar, &QScrollBar::valueChanged, context, [bar, handler] {
        if (!bar->isSliderDown()) {
            handler();
        }
    });
    QObject::connect(bar, &QScrollBar::sliderReleased, context, [bar, pressedAt, handler] {
        if (bar->value() != *pressedAt) {
            handler();
        }
    });
}

}  // namespace kestro
