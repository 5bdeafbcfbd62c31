#pragma once

#include <cstdint>
#include <vector>

#include <QListWidget>
#include <QString>
#include <QStringList>

// A single-selection list as the templates mean it: the user moves the selection but can never empty it (Qt's own
// single selection lets Ctrl+click and Ctrl+Space take it away). The program reads the selection after every
// change, so a list that looks empty of selection while the movie-id field still names a movie would mislead.
//
// Items go in only through InsertRow and AppendRows, which keep beside the rows each text's letters case-folded in
// one block of memory, so a search by prefix compares bytes and never asks the model for an item's text.
class CQtListBox : public QListWidget {
    Q_OBJECT

public:
    explicit CQtListBox(QWidget* parent = nullptr);

    // Inserts one item at `row` (0..count) and returns the row.
    int InsertRow(int row, const QString& text);
    // Appends every text as one insertion into the model, in their order; returns the count after.
    int AppendRows(const QStringList& texts);
    // The first row after `startAfter` to the end, then from the first row round to `startAfter` itself, whose
    // text begins with `prefix`, letters compared as QString::startsWith compares them without regard to case;
    // -1 when none does. A start outside the list searches the whole list from the first row.
    int FindPrefix(int startAfter, const QString& prefix) const;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;

private:
    // Row r's folded text is m_keys[m_keyStarts[r] .. m_keyStarts[r + 1]).
    std::vector<char16_t> m_keys;
    std::vector<std::uint32_t> m_keyStarts{0};
};
