// SPDX-License-Identifier: GPL-3.0-or-later
#include "file_list.h"

#include <QDir>

#include "ui_rules.h"

namespace kestro {

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { emit fileSelected(item->text()); });
    // Any change of the selection: the arrow keys, or a screen reader selecting an item without
    // making it current.
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        const QString name = selectedName();
        if (!name.isEmpty()) {
            emit fileSelected(name);
        }
    });
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { emit fileActivated(item->text()); });
}

void FileList::setFolder(const QString& folder) {
    folder_ = folder;
    fill();
}

void FileList::setPattern(const QString& pattern) {
    pattern_ = pattern;
    fill();
}

QString FileList::selectedName() const {
    const QList<QListWidgetItem*> items = selectedItems();
    return items.isEmpty() ? QString() : items.front()->text();
}

void FileList::fill() {
    clear();
    if (folder_.isEmpty()) {
        return;
    }
    const std::string patterns = pattern_.toStdString();
    const QStringList names = QDir(folder_).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names) {
        if (shell::matchesPattern(name.toStdString(), patterns)) {
            addItem(name);
        }
    }
}

}  // namespace kestro
