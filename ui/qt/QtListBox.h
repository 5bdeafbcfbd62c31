#pragma once

#include <QListWidget>

// A single-selection list as the templates mean it: the user moves the selection but can never empty it (Qt's own
// single selection lets Ctrl+click and Ctrl+Space take it away). The program reads the selection after every
// change, so a list that looks empty of selection while the movie-id field still names a movie would mislead.
class CQtListBox : public QListWidget {
    Q_OBJECT

public:
    explicit CQtListBox(QWidget* parent = nullptr);

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
};
