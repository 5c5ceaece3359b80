// SPDX-License-Identifier: GPL-3.0-or-later
#include "page_bar.h"

#include <QMouseEvent>
#include <algorithm>

namespace kestro {

PageBar::PageBar(int maximum, int pageStep, int value, QWidget* parent)
    : QScrollBar(Qt::Vertical, parent) {
    setRange(0, maximum);
    setSingleStep(1);
    setPageStep(pageStep);
    setValue(value);
    setInvertedAppearance(true);
    setInvertedControls(false);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractSlider::actionTriggered, this, &PageBar::mirrorMouseAction);
}

void PageBar::mousePressEvent(QMouseEvent* event) {
    mouseHeld_ = true;
    QScrollBar::mousePressEvent(event);
}

void PageBar::mouseReleaseEvent(QMouseEvent* event) {
    QScrollBar::mouseReleaseEvent(event);
    mouseHeld_ = false;
}

void PageBar::mirrorMouseAction(int action) {
    if (!mouseHeld_) {
        return;
    }
    // The slider position already holds the outcome, clamped at the ends; the value still holds
    // the start, so the step is taken from the action itself.
    int step = 0;
    switch (action) {
        case SliderSingleStepAdd:
            step = -singleStep();
            break;
        case SliderSingleStepSub:
            step = singleStep();
            break;
        case SliderPageStepAdd:
            step = -pageStep();
            break;
        case SliderPageStepSub:
            step = pageStep();
            break;
        default:
            return;
    }
    setSliderPosition(std::clamp(value() + step, minimum(), maximum()));
}

}  // namespace kestro
