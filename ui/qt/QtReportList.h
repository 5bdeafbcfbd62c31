#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QTableView>

#include "ReportList.h"

class CQtReportModel;
class CQtReportSortProxy;

// A report list: a table view over the program's rows (CQtReportModel) seen through a sorting proxy, one whole row
// selected at a time. A click on a heading, or Ctrl+1 to Ctrl+9 for the column of that number (Ctrl+0: the rows' own
// order), sorts the list, and the selected row stays selected. A cell too narrow for its text shows it cut short
// with "…" and whole as a tool tip; a screen reader reads it whole.
class CQtReportList : public QTableView {
    Q_OBJECT

public:
    explicit CQtReportList(QWidget* parent = nullptr);
    ~CQtReportList() override;

    // Column widths arrive in pixels (the window converts the template's dialog units).
    void SetColumns(const std::vector<ReportColumn>& columns, const std::vector<int>& pixelWidths);
    int SetRows(const std::vector<ReportRow>& rows);
    std::optional<long> Selection() const;
    bool SelectKey(long key);
    void SortBy(const ReportSort& sort);
    ReportSort Sort() const;
    std::vector<long> Keys() const;
    // The row shown at `row` (0: top of the list), as the user sees it.
    int RowCount() const;
    QString CellText(int row, int column) const;
    // The tool tip the cell shown at (row, column) gives: its whole text when the cell cuts it short, else none.
    QString CellToolTip(int row, int column) const;

    // Called when the user changes the selection (never for the program's own changes).
    void SetOnUserSelection(std::function<void()> handler) { m_onUserSelection = std::move(handler); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;

private:
    void SelectProxyRow(int row);
    QString ToolTipFor(const QModelIndex& index) const;

    CQtReportModel* m_model;
    CQtReportSortProxy* m_proxy;
    int m_silent = 0;
    std::function<void()> m_onUserSelection;
};
