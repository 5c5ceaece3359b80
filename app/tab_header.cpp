// SPDX-License-Identifier: GPL-3.0-or-later
#include "tab_header.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QGridLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPainter>
#include <QShortcut>
#include <QStyleOptionFocusRect>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <utility>

namespace kestro {

TabButton::TabButton(const QString& caption, int column, int columns, QWidget* parent)
    : QAbstractButton(parent), column_(column), columns_(columns) {
    setText(caption);
    setCheckable(true);
    setAutoExclusive(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize TabButton::sizeHint() const {
    QStyleOptionTab option;
    option.initFrom(this);
    option.shape = QTabBar::RoundedNorth;
    option.text = text();
    const QSize text = fontMetrics().size(Qt::TextShowMnemonic, option.text);
    return style()->sizeFromContents(QStyle::CT_TabBarTab, &option,
                                     QSize(text.width() + 8, text.height() + 6), this);
}

void TabButton::keyPressEvent(QKeyEvent* event) {
    // The arrows go through both rows: Right from the last tab of a row goes on to the first
    // of the next, Up and Down go to the tab above or below.
    auto* header = qobject_cast<TabHeader*>(parentWidget());
    const int step = event->key() == Qt::Key_Right  ? 1
                     : event->key() == Qt::Key_Left ? -1
                     : event->key() == Qt::Key_Down ? TabHeader::kColumns
                     : event->key() == Qt::Key_Up   ? -TabHeader::kColumns
                                                    : 0;
    if (header == nullptr || step == 0 || event->modifiers() != Qt::NoModifier) {
        QAbstractButton::keyPressEvent(event);
        return;
    }
    const int count = header->count();
    int here = 0;
    while (here < count && header->tab(here) != this) {
        ++here;
    }
    const int next = (here + step + count) % count;
    header->setCurrentIndex(next);
    header->tab(next)->setFocus(Qt::TabFocusReason);
}

void TabButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionTab option;
    option.initFrom(this);
    option.shape = QTabBar::RoundedNorth;
    option.text = text();
    option.rect = rect();
    option.position = column_ == 0              ? QStyleOptionTab::Beginning
                      : column_ == columns_ - 1 ? QStyleOptionTab::End
                                                : QStyleOptionTab::Middle;
    if (isChecked()) {
        option.state |= QStyle::State_Selected;
    } else {
        // Unselected tabs sit a little lower, as in a tab bar.
        option.state &= ~QStyle::State_Selected;
    }
    painter.drawControl(QStyle::CE_TabBarTab, option);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(4, 4, -4, -2);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

TabHeader::TabHeader(const QStringList& captions, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    for (int i = 0; i < captions.size(); ++i) {
        auto* tab = new TabButton(captions.at(i), i % kColumns, kColumns, this);
        tab->setObjectName(QStringLiteral("tab%1").arg(i));
        tab->setAccessibleName(QString(captions.at(i)).remove(QLatin1Char('&')));
        grid->addWidget(tab, i / kColumns, i % kColumns);
        group_->addButton(tab, i);
        tabs_ << tab;
    }
    group_->setExclusive(true);
    if (!tabs_.isEmpty()) {
        tabs_.front()->setChecked(true);
    }
    connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) {
            emit currentChanged(id);
        }
    });
    // Round the pages from anywhere in the window, with the keys tab widgets take.
    const std::pair<QKeySequence, int> steps[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1}};
    for (const auto& pair : steps) {
        auto* shortcut = new QShortcut(pair.first, this);
        shortcut->setContext(Qt::WindowShortcut);
        const int step = pair.second;
        connect(shortcut, &QShortcut::activated, this,
                [this, step] { setCurrentIndex((currentIndex() + count() + step) % count()); });
    }
}

int TabHeader::currentIndex() const {
    return group_->checkedId();
}

void TabHeader::setCurrentIndex(int index) {
    if (index >= 0 && index < count()) {
        tabs_.at(index)->setChecked(true);
    }
}

namespace {

class TabAccessible : public QAccessibleWidget {
  public:
    explicit TabAccessible(TabButton* tab) : QAccessibleWidget(tab, QAccessible::PageTab) {
        addControllingSignal(QStringLiteral("toggled(bool)"));
    }
    TabButton* tab() const { return static_cast<TabButton*>(object()); }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            return tab()->accessibleName().isEmpty() ? tab()->text() : tab()->accessibleName();
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = tab()->isChecked();
        s.checkable = true;
        s.checked = tab()->isChecked();
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            tab()->click();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }
};

QAccessibleInterface* tabFactory(const QString& key, QObject* object) {
    if (key == QLatin1String("kestro::TabButton")) {
        return new TabAccessible(static_cast<TabButton*>(object));
    }
    if (key == QLatin1String("kestro::TabHeader")) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::PageTabList,
                                     QStringLiteral("Pages"));
    }
    return nullptr;
}

}  // namespace

void installTabAccessibility() {
    static bool installed = false;
    if (!installed) {
        QAccessible::installFactory(tabFactory);
        installed = true;
    }
}

}  // namespace kestro
