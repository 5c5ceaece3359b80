// SPDX-License-Identifier: GPL-3.0-or-later
// Keys that people expect of push buttons in any window, not only in dialogs.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QWidget>

namespace kestro::widgets {

// Enter and Return press the push button that has the focus, as Space does. Qt gives buttons
// Enter only in dialogs (their "auto default"); in a plain window the key would go nowhere.
class EnterPressesButtons : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        // The window sees the key once the focused control has let it pass.
        auto* window = qobject_cast<QWidget*>(watched);
        auto* button =
            window != nullptr ? qobject_cast<QPushButton*>(window->focusWidget()) : nullptr;
        if (button == nullptr || !button->isEnabled() || !button->isVisible())
            return false;
        button->click();
        return true;
    }
};

inline void enterPressesButtons(QWidget* window) {
    window->installEventFilter(new EnterPressesButtons(window));
}

}  // namespace kestro::widgets
