// SPDX-License-Identifier: GPL-3.0-or-later
#include "folder_list.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QStyle>

namespace kestro {

namespace {
constexpr int kPathRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
}  // namespace

FolderList::FolderList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFocusPolicy(Qt::StrongFocus);
    // The open and closed folder icons come in different sizes; one size keeps the rows even.
    const int side = fontMetrics().height();
    setIconSize(QSize(side, side));
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { setPath(item->data(kPathRole).toString()); });
}

bool FolderList::setPath(const QString& folder) {
    if (folder.isEmpty()) {
        return false;
    }
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable()) {
        return false;
    }
    const QString clean = QDir::cleanPath(info.absoluteFilePath());
    if (clean == path_) {
        return true;
    }
    path_ = clean;
    fill();
    emit pathChanged(path_);
    return true;
}

void FolderList::keyPressEvent(QKeyEvent* event) {
    // Enter opens the folder and goes no further: in a dialog it would also press Ok.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (QListWidgetItem* item = currentItem()) {
            emit itemActivated(item);
        }
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void FolderList::keyboardSearch(const QString& search) {
    if (search.isEmpty() || count() == 0) {
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - typedAt_ > QApplication::keyboardInputInterval()) {
        typed_.clear();
    }
    typedAt_ = now;
    typed_ += search;
    // One letter typed again steps to the next folder with that letter, as in any list.
    const bool sameLetter = typed_.size() > 1 && typed_.count(typed_.front()) == typed_.size();
    const QString wanted = sameLetter ? typed_.left(1) : typed_;
    const int from = currentRow() + (wanted.size() == 1 ? 1 : 0);
    for (int i = 0; i < count(); ++i) {
        const int row = (from + i) % count();
        if (item(row)->data(kNameRole).toString().startsWith(wanted, Qt::CaseInsensitive)) {
            setCurrentRow(row);
            scrollToItem(item(row));
            return;
        }
    }
}

void FolderList::fill() {
    clear();
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);

    // The chain from the root down to the current folder.
    QStringList chain;
    for (QDir dir(path_);;) {
        chain.prepend(dir.absolutePath());
        if (dir.isRoot() || !dir.cdUp()) {
            break;
        }
    }
    int depth = 0;
    QListWidgetItem* current = nullptr;
    for (const QString& folder : chain) {
        const QString name = QDir(folder).isRoot() ? folder : QFileInfo(folder).fileName();
        auto* item =
            new QListWidgetItem(openIcon, QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(kPathRole, folder);
        item->setData(kNameRole, name);
        item->setData(Qt::AccessibleTextRole, name);
        item->setToolTip(folder);
        current = item;
        ++depth;
    }
    const QDir here(path_);
    const QStringList subfolders =
        here.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : subfolders) {
        auto* item =
            new QListWidgetItem(closedIcon, QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(kPathRole, here.absoluteFilePath(name));
        item->setData(kNameRole, name);
        item->setData(Qt::AccessibleTextRole, name);
        item->setToolTip(here.absoluteFilePath(name));
    }
    setCurrentItem(current);
    scrollToItem(current);
}

}  // namespace kestro
