#include "QtListBox.h"

CQtListBox::CQtListBox(QWidget* parent) : QListWidget(parent) {}

QItemSelectionModel::SelectionFlags CQtListBox::selectionCommand(const QModelIndex& index, const QEvent* event) const {
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (command.testFlag(QItemSelectionModel::Deselect) || command.testFlag(QItemSelectionModel::Toggle)) {
        return QItemSelectionModel::NoUpdate;
    }
    return command;
}
