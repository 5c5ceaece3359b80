// SPDX-License-Identifier: GPL-3.0-or-later
#include "window_placement.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <utility>
#include <vector>

namespace kestro {

namespace {

constexpr int kGap = 16;

QMargins frameOf(const QWidget& w) {
    const QRect outer = w.frameGeometry();
    const QRect inner = w.geometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

long long overlap(const QRect& a, const QRect& b) {
    const QRect both = a.intersected(b);
    return both.isEmpty() ? 0 : static_cast<long long>(both.width()) * both.height();
}

// Where window goes, frame included, for a window system frame of the given margins.
QRect placeFor(const QWidget& window, const QWidget& main, const QRect& area,
               const QMargins& frame) {
    const QRect mainFrame = main.frameGeometry();
    QSize outer = window.size().grownBy(frame);
    if (!area.isValid())
        return {QPoint(mainFrame.right() + 1 + kGap, mainFrame.top()), outer};
    outer = outer.boundedTo(area.size());
    const QSize least = QSize(std::max(window.minimumWidth(), window.minimumSizeHint().width()),
                              std::max(window.minimumHeight(), window.minimumSizeHint().height()))
                            .grownBy(frame);

    // The program's other windows on this screen, to be kept clear.
    std::vector<QRect> others;
    for (const QWidget* w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (w != &window && w != &main && w->isVisible() &&
            (type == Qt::Window || type == Qt::Dialog) && w->frameGeometry().intersects(area))
            others.push_back(w->frameGeometry());
    }

    // The places to try, in order: beside main, then beside the others, to the right or the
    // left at main's top, the screen's top or its bottom, narrowed down to the least width
    // that fits; then below or above them, made shorter likewise; last, at the screen's right
    // and left edges.
    const int lowest = std::max(area.top(), area.bottom() + 1 - outer.height());
    const int tops[] = {std::clamp(mainFrame.top(), area.top(), lowest), area.top(), lowest};
    std::vector<QRect> places;
    const auto sideBySide = [&](const QRect& r) {
        const int roomRight = area.right() - r.right() - kGap;
        const int roomLeft = r.left() - kGap - area.left();
        for (const int top : tops) {
            if (roomRight >= least.width())
                places.emplace_back(r.right() + 1 + kGap, top, std::min(outer.width(), roomRight),
                                    outer.height());
            if (roomLeft >= least.width()) {
                const int width = std::min(outer.width(), roomLeft);
                places.emplace_back(r.left() - kGap - width, top, width, outer.height());
            }
        }
    };
    const auto aboveOrBelow = [&](const QRect& r) {
        const int left = std::clamp(r.left(), area.left(), area.right() + 1 - outer.width());
        const int roomBelow = area.bottom() - r.bottom() - kGap;
        const int roomAbove = r.top() - kGap - area.top();
        if (roomBelow >= least.height())
            places.emplace_back(left, r.bottom() + 1 + kGap, outer.width(),
                                std::min(outer.height(), roomBelow));
        if (roomAbove >= least.height()) {
            const int height = std::min(outer.height(), roomAbove);
            places.emplace_back(left, r.top() - kGap - height, outer.width(), height);
        }
    };
    sideBySide(mainFrame);
    for (const QRect& r : others)
        sideBySide(r);
    aboveOrBelow(mainFrame);
    for (const QRect& r : others)
        aboveOrBelow(r);
    for (const int top : tops)
        for (const int width : {outer.width(), std::min(outer.width(), least.width())}) {
            places.emplace_back(area.right() + 1 - width, top, width, outer.height());
            places.emplace_back(area.left(), top, width, outer.height());
        }

    // The first that covers the others least, and main not at all where it can.
    QRect best;
    std::pair<long long, bool> bestCost;
    for (const QRect& place : places) {
        long long covered = 0;
        for (const QRect& r : others)
            covered += overlap(place, r);
        const std::pair<long long, bool> cost(covered, place.intersects(mainFrame));
        if (best.isNull() || cost < bestCost) {
            best = place;
            bestCost = cost;
        }
    }
    return best;
}

void place(QWidget& window, const QWidget& main, const QMargins& frame, const QSize& least) {
    const QScreen* screen = main.screen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect();
    if (least.isValid())
        window.setMinimumSize(area.isValid() ? least.boundedTo(area.size().shrunkBy(frame))
                                             : least);
    const QRect at = placeFor(window, main, area, frame);
    window.resize(at.size().shrunkBy(frame));
    window.move(at.topLeft());
}

}  // namespace

void showBeside(QWidget& window, const QWidget& main, const QSize& least) {
    // The window system's frame is known for main, which is shown; the new window's only once
    // it is shown too, when it may differ.
    const QMargins assumed = frameOf(main);
    place(window, main, assumed, least);
    window.show();
    if (frameOf(window) != assumed)
        place(window, main, frameOf(window), least);
}

}  // namespace kestro
