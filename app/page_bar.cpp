// SPDX-License-Identifier: GPL-3.0-or-later
#include "page_bar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMouseEvent>
#include <algorithm>

#include "announce.h"

namespace kestro {

namespace {

// A scroll bar to screen readers, its value read as the address the bar shows.
class PageBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit PageBarAccessible(PageBar* bar) : QAccessibleWidget(bar, QAccessible::ScrollBar) {}
    PageBar* bar() const { return static_cast<PageBar*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value && !bar()->valueText().isEmpty())
            return bar()->valueText();
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return bar()->value(); }
    void setCurrentValue(const QVariant& value) override { bar()->setValue(value.toInt()); }
    QVariant maximumValue() const override { return bar()->maximum(); }
    QVariant minimumValue() const override { return bar()->minimum(); }
    QVariant minimumStepSize() const override { return bar()->singleStep(); }
};

QAccessibleInterface* pageBarFactory(const QString& key, QObject* object) {
    if (key == QLatin1String("kestro::PageBar"))
        return new PageBarAccessible(static_cast<PageBar*>(object));
    return nullptr;
}

}  // namespace

PageBar::PageBar(int maximum, int pageStep, int value, QWidget* parent)
    : QScrollBar(Qt::Vertical, parent) {
    // Before the first setValue: a screen reader that is listening makes Qt build (and keep)
    // the bar's accessible interface at its first value change.
    static const bool installed = [] {
        QAccessible::installFactory(pageBarFactory);
        return true;
    }();
    (void)installed;
    setRange(0, maximum);
    setSingleStep(1);
    setPageStep(pageStep);
    setValue(value);
    setInvertedAppearance(true);
    setInvertedControls(false);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractSlider::actionTriggered, this, &PageBar::mirrorMouseAction);
}

void PageBar::setValueText(const QString& text) {
    if (text == valueText_)
        return;
    valueText_ = text;
    QAccessibleValueChangeEvent changed(this, value());
    widgets::announce(changed);
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
