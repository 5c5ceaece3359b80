// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

namespace kestro {

// The signals with which a session ends a program (SIGTERM at logout and shutdown, SIGHUP when
// its terminal goes away, SIGINT from Ctrl-C) arrive as the Qt signal ending() on the thread
// that made this object, so that the program can keep what Exit keeps. A second such signal
// ends the program at once, as it would without this object. One instance at a time.
class SessionEnd final : public QObject {
    Q_OBJECT
  public:
    explicit SessionEnd(QObject* parent = nullptr);
    ~SessionEnd() override;
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

  signals:
    void ending();

  private:
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kestro
