// SPDX-License-Identifier: GPL-3.0-or-later
// What the windows tell screen readers of their own accord.
#pragma once

#include <QAccessible>
#include <functional>

namespace kestro::widgets {

// Sees every event announce() sends, before Qt passes it on to an assistive technology (which
// Qt does only while one listens). Tests hear the windows through it.
inline std::function<void(const QAccessibleEvent&)>& announceWatcher() {
    static std::function<void(const QAccessibleEvent&)> watcher;
    return watcher;
}

// Tells screen readers of a change they would otherwise miss: a state line's new text, a
// value read as text, a warning shown for a moment.
inline void announce(QAccessibleEvent& event) {
    if (announceWatcher())
        announceWatcher()(event);
    QAccessible::updateAccessibility(&event);
}

}  // namespace kestro::widgets
