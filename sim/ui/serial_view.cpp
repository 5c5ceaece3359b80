// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial_view.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace kestro::sim {

namespace {

void appendByte(QString& line, Byte b) {
    switch (b) {
        case '\r':
            line += QStringLiteral("\\r");
            return;
        case '\n':
            line += QStringLiteral("\\n");
            return;
        case '\t':
            line += QStringLiteral("\\t");
            return;
        case '\\':
            line += QStringLiteral("\\\\");
            return;
        default:
            break;
    }
    if (b >= 0x20 && b < 0x7F)
        line += QChar(b);
    else
        line += QStringLiteral("\\x") + QString::number(b, 16).rightJustified(2, '0').toUpper();
}

}  // namespace

QString SerialView::textOf(const std::deque<SerialEvent>& log) {
    QString out;
    QString line;
    bool haveLine = false;
    bool fromBoard = false;
    for (const SerialEvent& e : log) {
        // A new line where the direction changes, and after a line end the board sent.
        if (haveLine && e.fromBoard != fromBoard) {
            out += line + '\n';
            haveLine = false;
        }
        if (!haveLine) {
            line = e.fromBoard ? QStringLiteral("HC11 > ") : QStringLiteral("PC   > ");
            fromBoard = e.fromBoard;
            haveLine = true;
        }
        appendByte(line, e.byte);
        if (e.byte == '\n') {
            out += line + '\n';
            haveLine = false;
        }
    }
    if (haveLine)
        out += line + '\n';
    return out;
}

SerialView::SerialView(Board& board, QWidget* parent) : QWidget(parent), board_(board) {
    setObjectName("BoardSerial");
    setAccessibleName(tr("Serial"));
    auto* about = new QLabel(tr("What the program started on the board sends (HC11 >) and "
                                "receives (PC >), from its first byte to the next reset; the "
                                "last %1 bytes.")
                                 .arg(Board::kSerialLogBytes),
                             this);
    about->setWordWrap(true);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName("BoardSerialText");
    text_->setAccessibleName(tr("Serial traffic"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    clear_ = new QPushButton(tr("C&lear"), this);
    clear_->setObjectName("BoardSerialClear");
    clear_->setAccessibleName(tr("Clear the serial traffic"));
    connect(clear_, &QPushButton::clicked, this, [this] {
        board_.clearSerialLog();
        refresh();
    });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(clear_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(about);
    layout->addWidget(text_, 1);
    layout->addLayout(buttons);
    setTabOrder(text_, clear_);

    timer_ = new QTimer(this);
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, &SerialView::refresh);
}

void SerialView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    timer_->start();
}

void SerialView::hideEvent(QHideEvent* event) {
    timer_->stop();
    QWidget::hideEvent(event);
}

void SerialView::refresh() {
    board_.catchUp();
    const auto& log = board_.serialLog();
    if (board_.serialCount() == shown_ && log.size() == shownSize_)
        return;
    shown_ = board_.serialCount();
    shownSize_ = log.size();
    // Follow the end unless the reader has scrolled up.
    QScrollBar* bar = text_->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const int place = bar->value();
    text_->setPlainText(textOf(log));
    bar->setValue(atEnd ? bar->maximum() : place);
}

}  // namespace kestro::sim
