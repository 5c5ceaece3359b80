// SPDX-License-Identifier: GPL-3.0-or-later
// Top-level windows that screen readers see as windows.
#pragma once

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace kestro::widgets {

// A top-level window made from a plain QWidget reads as a "filler" (Qt's client role) to
// screen readers, which then neither name nor list it among the desktop's windows. This gives
// the widget the window role, which the AT-SPI bridge offers as a frame.
inline void readAsFrame(QWidget* window) {
    static const char* const kFrame = "kestroAccessibleFrame";
    static const bool installed = [] {
        QAccessible::installFactory(
            [](const QString& key, QObject* object) -> QAccessibleInterface* {
                auto* w = qobject_cast<QWidget*>(object);
                if (w == nullptr || !w->property(kFrame).toBool() ||
                    key != QLatin1String(object->metaObject()->className()))
                    return nullptr;
                return new QAccessibleWidget(w, QAccessible::Window);
            });
        return true;
    }();
    (void)installed;
    window->setProperty(kFrame, true);
}

}  // namespace kestro::widgets
