// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QScrollBar>

namespace kestro {

// A vertical scroll bar whose top end is its maximum, as the address selectors need: moving the
// thumb up raises the address. Qt draws such a bar with inverted appearance but still maps the
// top arrow and the track above the thumb to "decrease"; this bar turns those mouse actions
// round so that the thumb always moves the way the user pointed. Keys and the wheel work the
// same way: Up and wheel-up raise the value.
class PageBar : public QScrollBar {
    Q_OBJECT
  public:
    PageBar(int maximum, int pageStep, int value, QWidget* parent = nullptr);

    // What a screen reader reads as the bar's value: the address it stands for ("$B600"),
    // not its page number.
    QString valueText() const { return valueText_; }
    void setValueText(const QString& text);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void mirrorMouseAction(int action);

    bool mouseHeld_ = false;
    QString valueText_;
};

}  // namespace kestro
