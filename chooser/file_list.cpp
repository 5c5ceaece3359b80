#include "file_list.h"

#include <QDir>

#include "shell_rules.h"

namespace kestro {

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { emit fileSelected(item->text()); });
    connect(this, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item != nullptr && item->isSelected()) {
            emit fileSelected(item->text());
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
