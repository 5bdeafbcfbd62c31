#pragma once

#include <QSortFilterProxyModel>

#include "ReportList.h"

class CQtReportModel;

// Shows a report model's rows in a ReportSort's order, by the same rule as every toolkit (ReportRowBefore): groups
// first, then the column, ties in the given order. Qt's own descending sort would turn the groups round too, so the
// proxy always sorts "ascending" by its own rule, which holds the direction.
class CQtReportSortProxy : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit CQtReportSortProxy(CQtReportModel* model, QObject* parent = nullptr);

    // Re-sorts; selections and the current row, held as persistent indexes, follow their rows.
    void SetSort(const ReportSort& sort);
    const ReportSort& Sort() const { return m_sort; }

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    CQtReportModel* m_model;
    ReportSort m_sort;
};
