// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <Qt>
#include <functional>

class QBoxLayout;
class QCheckBox;
class QFrame;
class QLabel;
class QObject;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QWidget;

namespace kestro {

// How the main window makes its controls: lengths in twips at the window's logical resolution,
// pictures at its pixel ratio, and the captions, fonts and accessible texts every page shares.
class Controls {
  public:
    Controls(double logicalDpi, double pixelRatio) : dpi_(logicalDpi), ratio_(pixelRatio) {}

    double dpi() const { return dpi_; }
    int px(int twips) const;

    // A button whose tooltip also describes it to screen readers.
    QPushButton* button(QWidget* parent, const char* name, const char* caption,
                        const char* tip) const;
    QLabel* label(QWidget* parent, const char* name, const QString& caption, double pointSize = 0,
                  bool bold = false, Qt::Alignment align = {}) const;
    // An SVG resource drawn at sizePx, sharp at the window's pixel ratio.
    QLabel* picture(QWidget* parent, const char* name, const char* resource, int sizePx,
                    const QString& accessibleName) const;
    QCheckBox* check(QWidget* parent, const char* name, const char* caption,
                     const char* tip = nullptr) const;
    // A hidden progress bar of 0 to 100 at the foot of a page, keeping its place when hidden.
    QProgressBar* progressBar(QBoxLayout* box, QWidget* parent, const char* name) const;
    QFrame* verticalLine(QWidget* parent) const;

  private:
    double dpi_;
    double ratio_;
};

// The property of a button made by Controls that holds its caption with its underlined letter.
inline constexpr const char* kRestingText = "restingText";
// A caption as it reads: "Pro&gram" is "Program", "&&" is "&".
QString withoutMnemonic(QString text);

// Keeps the layout from closing up when the widget is hidden.
void keepPlaceWhenHidden(QWidget* w);

// Runs handler once per settled value of the bar: not while the thumb is dragged, once when it
// is let go.
void whenSettled(QObject* context, QScrollBar* bar, const std::function<void()>& handler);

}  // namespace kestro
