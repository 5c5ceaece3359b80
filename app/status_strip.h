// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <string>

class QLabel;
class QWidget;

namespace kestro {

class Controls;

// The strip below the pages: the reset prompt, the closed port's picture and reason, what the
// last job did, the target's readiness, and the Disconnect, Exit and Connect buttons. Its controls
// sit on the window itself, at fixed places.
class StatusStrip : public QObject {
    Q_OBJECT
  public:
    struct Actions {
        std::function<void()> disconnect;
        std::function<void()> exit;
        std::function<void()> connect;
    };
    StatusStrip(QWidget* window, const Controls& controls, const Actions& actions);

    void showReadiness(bool ready);
    void showResetPrompt(bool shown);
    // The closed port's picture, with the reason as its tooltip and a line below it.
    void showDisconnected(bool shown, const std::string& reason);
    // What the last job did, in one line (empty: nothing to say). Shortened to fit; the whole
    // line is the tooltip and what a screen reader hears.
    void showJobEnd(const QString& text);

  private:
    std::array<QLabel*, 3> resetPrompt_{};  // ResetTXT1, ResetTXT2, ResetIMG
    QLabel* picDisconnect_ = nullptr;
    QLabel* disconnectReason_ = nullptr;
    QLabel* jobEnd_ = nullptr;
    QLabel* image1_ = nullptr;
    QLabel* image2_ = nullptr;
    QLabel* hc11Stat_ = nullptr;
};

}  // namespace kestro
