#include "QtReportSortProxy.h"

#include "QtReportModel.h"

CQtReportSortProxy::CQtReportSortProxy(CQtReportModel* model, QObject* parent)
    : QSortFilterProxyModel(parent), m_model(model) {
    setSourceModel(model);
    setDynamicSortFilter(true);
    // Column 0 stands for "sorted by our rule"; the rule itself reads m_sort.
    sort(0, Qt::AscendingOrder);
}

void CQtReportSortProxy::SetSort(const ReportSort& sort) {
    m_sort = sort;
    invalidate();
}

bool CQtReportSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    return ReportRowBefore(m_model->Rows(), left.row(), right.row(), m_sort, m_model->Columns());
}
