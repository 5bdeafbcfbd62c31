#include "QtReportModel.h"

namespace {

QString ToQString(const CString& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CQtReportModel::CQtReportModel(QObject* parent) : QAbstractTableModel(parent) {}

void CQtReportModel::SetColumns(const std::vector<ReportColumn>& columns) {
    beginResetModel();
    m_columns = columns;
    m_rows.clear();
    m_texts.clear();
    endResetModel();
}

void CQtReportModel::SetRows(const std::vector<ReportRow>& rows) {
    beginResetModel();
    m_rows = rows;
    m_texts.clear();
    m_texts.reserve(rows.size());
    for (const ReportRow& row : rows) {
        QStringList texts;
        texts.reserve(static_cast<qsizetype>(row.cells.size()));
        for (const CString& cell : row.cells) {
            texts.append(ToQString(cell));
        }
        m_texts.push_back(std::move(texts));
    }
    endResetModel();
}

int CQtReportModel::RowOf(long key) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].key == key) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

QString CQtReportModel::CellText(int row, int column) const {
    if (row < 0 || static_cast<std::size_t>(row) >= m_texts.size()) {
        return {};
    }
    const QStringList& texts = m_texts[static_cast<std::size_t>(row)];
    return column >= 0 && column < texts.size() ? texts.at(column) : QString();
}

int CQtReportModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CQtReportModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant CQtReportModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: // the whole text, also where the cell shows it cut short
        return CellText(index.row(), index.column());
    case Qt::TextAlignmentRole: {
        const bool right = m_columns[static_cast<std::size_t>(index.column())].alignRight;
        return QVariant::fromValue(Qt::Alignment((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    default:
        return {};
    }
}

QVariant CQtReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || static_cast<std::size_t>(section) >= m_columns.size()) {
        return {};
    }
    const QString heading = ToQString(m_columns[static_cast<std::size_t>(section)].heading);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return heading;
    case Qt::ToolTipRole:
        // The keys are said where a mouse user looks, and read out with the heading.
        if (section < 9) {
            return tr("Sort by %1: click, or press Ctrl+%2").arg(heading).arg(section + 1);
        }
        return tr("Sort by %1: click").arg(heading);
    case Qt::TextAlignmentRole: {
        const bool right = m_columns[static_cast<std::size_t>(section)].alignRight;
        return QVariant::fromValue(Qt::Alignment((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    default:
        return {};
    }
}
