// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>
#include <QStringList>
#include <QWidget>

class QButtonGroup;

namespace kestro {

// One page tab of the header: a checkable button drawn as a tab.
class TabButton : public QAbstractButton {
    Q_OBJECT
  public:
    TabButton(const QString& caption, int column, int columns, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    int column_;
    int columns_;
};

// The page tabs of the main window in rows of four: a tab control with more pages than fit in
// one row. Arrow keys move between the tabs, Ctrl+Tab and Ctrl+Shift+Tab go round the pages.
class TabHeader : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kColumns = 4;

    TabHeader(const QStringList& captions, QWidget* parent = nullptr);

    int currentIndex() const;
    void setCurrentIndex(int index);
    int count() const { return static_cast<int>(tabs_.size()); }
    TabButton* tab(int index) const { return tabs_.at(index); }

  signals:
    void currentChanged(int index);

  private:
    QList<TabButton*> tabs_;
    QButtonGroup* group_;
};

// Accessible interfaces of the header (a page tab list) and its tabs (page tabs), so screen
// readers and test robots see them as tabs with their captions and selection.
void installTabAccessibility();

}  // namespace kestro
