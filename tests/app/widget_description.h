// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QTest>
#include <QWidget>
#include <functional>

// Shows every page of the window once, through its tab buttons, so that each is laid out as
// the user sees it, and comes back to the first.
inline void visitEveryPage(QWidget* window) {
    for (int i = 7; i >= 0; --i)
        if (auto* tab = window->findChild<QAbstractButton*>(QStringLiteral("tab%1").arg(i))) {
            tab->click();
            QApplication::processEvents();
        }
}

// What a user sees of a window and every control in it, one line a widget in the order they
// were made: object name, class, place and size, font, text (a list's choice and rows), tooltip,
// accessible name and whether it is enabled, shown and checked. Two windows that describe alike
// look and read alike.
inline QString describeWidgets(const QWidget* root) {
    QString out;
    const auto line = [&out, root](const QWidget* w, int depth) {
        QString text;
        const auto* button = qobject_cast<const QAbstractButton*>(w);
        if (button != nullptr)
            text = button->text();
        else if (const auto* l = qobject_cast<const QLabel*>(w))
            text = l->text();
        else if (const auto* e = qobject_cast<const QLineEdit*>(w))
            text = e->text();
        else if (w->inherits("kestro::DriveList"))
            text = "";  // the machine's drives: which there are, and which holds the home folder
        else if (const auto* c = qobject_cast<const QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                text += (i == 0 ? c->currentText() + " of " : "|") + c->itemText(i);
        const QFont f = w->font();
        const QRect g = w->geometry();
        out += QString(depth * 2, ' ') +
               QString::asprintf(
                   "%s %s @%d,%d %dx%d font %s %g w%d%s %s%s%s",
                   qPrintable(w->objectName().isEmpty() ? "-" : w->objectName()),
                   w->metaObject()->className(), g.x(), g.y(), g.width(), g.height(),
                   qPrintable(f.family()), f.pointSizeF(), f.weight(), f.italic() ? " italic" : "",
                   w->isEnabled() ? "enabled" : "disabled", w->isVisibleTo(root) ? "" : " hidden",
                   button != nullptr && button->isChecked() ? " checked" : "") +
               QStringLiteral(" text \"%1\" tip \"%2\" name \"%3\"\n")
                   .arg(text, w->toolTip(), w->accessibleName());
    };
    // The insides of Qt's own lists and combo boxes are Qt's: their scroll bars come and go
    // with what the list holds.
    std::function<void(const QWidget*, int)> walk = [&](const QWidget* w, int depth) {
        line(w, depth);
        // A scroll area of our own holds a page: what it shows is ours.
        if (const auto* area = qobject_cast<const QScrollArea*>(w); area && area->widget()) {
            walk(area->widget(), depth + 1);
            return;
        }
        if (qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QComboBox*>(w))
            return;
        for (const QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            walk(child, depth + 1);
    };
    walk(root, 0);
    return out;
}

// The keyboard's way through each page of the window: from the page's tab, Tab after Tab until
// the focus is on a tab again, one line a page. The window must be the active one.
inline QString describeKeyboardOrder(QWidget* window) {
    QString out;
    for (int page = 0; page < 8; ++page) {
        auto* tab = window->findChild<QAbstractButton*>(QStringLiteral("tab%1").arg(page));
        tab->click();
        tab->setFocus();
        out += QString(tab->text()).remove(QLatin1Char('&')) + ":";
        for (int stop = 0; stop < 40; ++stop) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* w = QApplication::focusWidget();
            if (w == nullptr)
                break;
            if (auto* combo = qobject_cast<QComboBox*>(w->parentWidget()))
                w = combo;  // an editable combo box hands its focus to its line edit
            out += " " + w->objectName();
            if (w->inherits("kestro::TabButton"))
                break;
        }
        out += "\n";
    }
    return out;
}

// Compares a description with the one recorded in the named file beside the tests; with
// KESTRO_WRITE_DESCRIPTION=1 in the environment, records it anew instead.
inline void expectAsRecorded(const QString& got, const char* name) {
    QFile recorded(QStringLiteral(KESTRO_APP_TEST_DATA "/") + name);
    if (qEnvironmentVariableIsSet("KESTRO_WRITE_DESCRIPTION")) {
        ASSERT_TRUE(recorded.open(QIODevice::WriteOnly));
        recorded.write(got.toUtf8());
        return;
    }
    ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
    EXPECT_EQ(got.toStdString(), recorded.readAll().toStdString());
}
