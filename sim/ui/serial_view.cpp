// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial_view.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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
    // Typed text goes to the running program at the rate it set up, with Enter as a
    // terminal sends it (CR).
    auto* sendLabel = new QLabel(tr("Sen&d:"), this);
    input_ = new QLineEdit(this);
    input_->setObjectName("BoardSerialInput");
    input_->setAccessibleName(tr("Send to the program"));
    input_->setToolTip(tr("Text for the running program; Enter sends it with a carriage return"));
    sendLabel->setBuddy(input_);
    baud_ = new QComboBox(this);
    baud_->setObjectName("BoardSerialBaud");
    baud_->setAccessibleName(tr("Rate of what is sent, in baud"));
    for (const int rate :
         {300, 1200, 2400, 4800, 7812, 9600, 19200, 38400, 57600, 62500, 115200, 125000})
        baud_->addItem(QString::number(rate), rate);
    baud_->setCurrentText(QStringLiteral("9600"));
    connect(input_, &QLineEdit::returnPressed, this, &SerialView::send);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(sendLabel);
    buttons->addWidget(input_, 1);
    buttons->addWidget(baud_);
    buttons->addWidget(new QLabel(tr("baud"), this));
    buttons->addWidget(clear_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(about);
    layout->addWidget(text_, 1);
    layout->addLayout(buttons);
    setTabOrder(text_, input_);
    setTabOrder(input_, baud_);
    setTabOrder(baud_, clear_);

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

void SerialView::send() {
    if (board_.phase() != BootPhase::Running)
        return;
    const int rate = baud_->currentData().toInt();
    const QByteArray bytes = input_->text().toLatin1() + '\r';
    for (const char c : bytes)
        board_.line().toTarget.startFrame(static_cast<Byte>(c), rate);
    input_->clear();
}

void SerialView::refresh() {
    board_.catchUp();
    // Only a program that runs can take what is typed.
    input_->setEnabled(board_.phase() == BootPhase::Running);
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
