#pragma once

#include <vector>

#include <QAbstractTableModel>
#include <QStringList>

#include "ReportList.h"

// The rows of a report list as a table model, in the order the program gave them; the sort is the proxy's.
class CQtReportModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit CQtReportModel(QObject* parent = nullptr);

    // The columns; the rows go away.
    void SetColumns(const std::vector<ReportColumn>& columns);
    void SetRows(const std::vector<ReportRow>& rows);
    const std::vector<ReportColumn>& Columns() const { return m_columns; }
    const std::vector<ReportRow>& Rows() const { return m_rows; }
    long KeyAt(int row) const { return m_rows[static_cast<std::size_t>(row)].key; }
    // The row with this key, or -1.
    int RowOf(long key) const;
    QString CellText(int row, int column) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<ReportColumn> m_columns;
    std::vector<ReportRow> m_rows;
    // Each row's cells as Qt text, made once when the rows arrive rather than at every paint.
    std::vector<QStringList> m_texts;
};
