// SPDX-License-Identifier: GPL-3.0-or-later
#include "status_strip.h"

#include <QLabel>
#include <QPushButton>

#include "announce.h"
#include "controls.h"

namespace kestro {

StatusStrip::StatusStrip(QWidget* window, const Controls& controls, const Actions& actions)
    : QObject(window) {
    auto place = [&controls](QWidget* w, int left, int top, int width, int height) {
        w->setGeometry(controls.px(left), controls.px(top), controls.px(width),
                       controls.px(height));
    };
    resetPrompt_ = {
        controls.label(window, "ResetTXT1", QStringLiteral("Reset Your"), 12, false,
                       Qt::AlignCenter),
        controls.label(window, "ResetTXT2", QStringLiteral("HC11"), 12, false, Qt::AlignCenter),
        controls.picture(window, "ResetIMG", ":/kestro/reset.svg", controls.px(640),
                         QStringLiteral("Reset the HC11"))};
    place(resetPrompt_[0], 120, 4990, 1900, 330);
    place(resetPrompt_[1], 120, 5300, 1900, 330);
    place(resetPrompt_[2], 750, 5640, 640, 640);

    picDisconnect_ = controls.picture(window, "pic_disconnect", ":/kestro/disconnected.svg",
                                      controls.px(640), QStringLiteral("Port closed"));
    place(picDisconnect_, 2725, 5000, 640, 640);
    picDisconnect_->hide();
    disconnectReason_ = controls.label(window, "DisconnectReason", QString(), 7, false,
                                       Qt::AlignHCenter | Qt::AlignTop);
    disconnectReason_->setWordWrap(true);
    place(disconnectReason_, 2040, 5650, 2010, 690);
    disconnectReason_->hide();

    // In the middle, where the closed port's picture and reason go: a job's end is told with
    // the port open, and a port that closes under a job says so there instead.
    jobEnd_ =
        controls.label(window, "JobEnd", QString(), 7, false, Qt::AlignHCenter | Qt::AlignTop);
    jobEnd_->setWordWrap(true);
    jobEnd_->setAccessibleDescription(QStringLiteral("What the last job did"));
    place(jobEnd_, 2040, 5000, 1980, 1320);
    jobEnd_->hide();

    image1_ = controls.picture(window, "Image1", ":/kestro/not_ready.svg", controls.px(640),
                               QStringLiteral("Not Ready"));
    image2_ = controls.picture(window, "Image2", ":/kestro/ready.svg", controls.px(640),
                               QStringLiteral("Ready"));
    place(image1_, 4600, 5000, 640, 640);
    place(image2_, 4600, 5000, 640, 640);
    image2_->hide();
    hc11Stat_ =
        controls.label(window, "HC11Stat", QStringLiteral("Not Ready"), 12, false, Qt::AlignCenter);
    place(hc11Stat_, 4020, 5660, 1800, 400);

    auto* disconnect =
        controls.button(window, "Disconnect", "&Disconnect", "Disconnect Kestro from your comport");
    auto* exitButton = controls.button(window, "Exit", "E&xit", "Exit Kestro");
    auto* connectButton =
        controls.button(window, "Connect", "Co&nnect", "Connect Kestro to your comport");
    place(disconnect, 720, 6360, 1215, 375);
    place(exitButton, 2160, 6360, 1695, 375);
    place(connectButton, 4320, 6360, 1215, 375);
    connect(disconnect, &QPushButton::clicked, this, actions.disconnect);
    connect(connectButton, &QPushButton::clicked, this, actions.connect);
    connect(exitButton, &QPushButton::clicked, this, actions.exit);
}

void StatusStrip::showReadiness(bool ready) {
    image1_->setVisible(!ready);
    image2_->setVisible(ready);
    hc11Stat_->setText(ready ? QStringLiteral("Ready") : QStringLiteral("Not Ready"));
    showResetPrompt(!ready);
}

void StatusStrip::showResetPrompt(bool shown) {
    // A reset cannot reach the PC through a port that is closed: Connect comes first.
    for (QLabel* w : resetPrompt_) {
        w->setVisible(shown && picDisconnect_->isHidden());
    }
}

void StatusStrip::showDisconnected(bool shown, const std::string& reason) {
    picDisconnect_->setVisible(shown);
    // The reset prompt goes with the closed port and comes back with the open one, while the
    // target has not announced itself.
    showResetPrompt(!shown && image2_->isHidden());
    const QString text = shown ? QString::fromStdString(reason) : QString();
    picDisconnect_->setToolTip(text);
    picDisconnect_->setAccessibleDescription(text);
    disconnectReason_->setText(text);
    disconnectReason_->setToolTip(text);
    disconnectReason_->setVisible(shown && !text.isEmpty());
    jobEnd_->setVisible(!shown && !jobEnd_->accessibleName().isEmpty());
}

void StatusStrip::showJobEnd(const QString& text) {
    // Cut at the end, a word or a character at a time, until it fits the label's lines.
    const QFontMetrics metrics(jobEnd_->font());
    const QRect room = jobEnd_->contentsRect();
    auto fits = [&](const QString& t) {
        return metrics
                   .boundingRect(QRect(0, 0, room.width(), 1 << 20),
                                 Qt::TextWordWrap | Qt::TextWrapAnywhere, t)
                   .height() <= room.height();
    };
    QString shown = text;
    if (!fits(shown)) {
        qsizetype lo = 0, hi = text.size();
        while (lo < hi) {
            const qsizetype mid = (lo + hi + 1) / 2;
            if (fits(text.left(mid) + QChar(0x2026)))
                lo = mid;
            else
                hi = mid - 1;
        }
        shown = text.left(lo).trimmed() + QChar(0x2026);
    }
    jobEnd_->setText(shown);
    jobEnd_->setToolTip(text);
    jobEnd_->setAccessibleName(text);
    jobEnd_->setVisible(!text.isEmpty() && picDisconnect_->isHidden());
    if (!text.isEmpty()) {
        QAccessibleEvent changed(jobEnd_, QAccessible::NameChanged);
        widgets::announce(changed);
    }
}

}  // namespace kestro
