#include "QtReportList.h"

#include <algorithm>

#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QToolTip>

#include "QtReportModel.h"
#include "QtReportSortProxy.h"

CQtReportList::CQtReportList(QWidget* parent)
    : QTableView(parent), m_model(new CQtReportModel(this)), m_proxy(new CQtReportSortProxy(m_model, this)) {
    setModel(m_proxy);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the list for the next control, as in every other list of the program.
    setTabKeyNavigation(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setShowGrid(false);
    setAlternatingRowColors(true);
    // The program sorts: a heading's click comes to SortBy through sectionClicked, not through Qt's own sorting.
    setSortingEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setSortIndicatorShown(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { SortBy(NextReportSort(Sort(), column, m_model->Columns())); });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_silent == 0 && m_onUserSelection) {
            m_onUserSelection();
        }
    });
}

CQtReportList::~CQtReportList() = default;

void CQtReportList::SetColumns(const std::vector<ReportColumn>& columns, const std::vector<int>& pixelWidths) {
    ++m_silent;
    m_model->SetColumns(columns);
    m_proxy->SetSort(ReportSort{});
    --m_silent;
    horizontalHeader()->setSortIndicatorShown(false);
    for (std::size_t i = 0; i < pixelWidths.size(); ++i) {
        setColumnWidth(static_cast<int>(i), pixelWidths[i]);
    }
}

int CQtReportList::SetRows(const std::vector<ReportRow>& rows) {
    const std::optional<long> selected = Selection();
    const int shownAt = currentIndex().isValid() && selected ? currentIndex().row() : -1;
    ++m_silent;
    m_model->SetRows(rows);
    m_proxy->SetSort(m_proxy->Sort());
    --m_silent;
    if (selected && SelectKey(*selected)) {
        return static_cast<int>(rows.size());
    }
    if (shownAt >= 0 && m_proxy->rowCount() > 0) {
        SelectProxyRow(std::min(shownAt, m_proxy->rowCount() - 1));
    }
    return static_cast<int>(rows.size());
}

std::optional<long> CQtReportList::Selection() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return std::nullopt;
    }
    return m_model->KeyAt(m_proxy->mapToSource(rows.first()).row());
}

bool CQtReportList::SelectKey(long key) {
    const int row = m_model->RowOf(key);
    if (row < 0) {
        return false;
    }
    SelectProxyRow(m_proxy->mapFromSource(m_model->index(row, 0)).row());
    return true;
}

void CQtReportList::SelectProxyRow(int row) {
    const QModelIndex index = m_proxy->index(row, 0);
    ++m_silent;
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    --m_silent;
    scrollTo(index);
}

void CQtReportList::SortBy(const ReportSort& sort) {
    // The selection and the current row are persistent indexes: they follow their rows through the new order.
    ++m_silent;
    m_proxy->SetSort(sort);
    --m_silent;
    const bool byColumn = sort.column >= 0 && sort.column < m_model->columnCount();
    horizontalHeader()->setSortIndicatorShown(byColumn);
    if (byColumn) {
        horizontalHeader()->setSortIndicator(sort.column, sort.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    }
    if (currentIndex().isValid()) {
        scrollTo(currentIndex());
    }
}

ReportSort CQtReportList::Sort() const {
    return m_proxy->Sort();
}

std::vector<long> CQtReportList::Keys() const {
    std::vector<long> keys;
    keys.reserve(static_cast<std::size_t>(m_proxy->rowCount()));
    for (int row = 0; row < m_proxy->rowCount(); ++row) {
        keys.push_back(m_model->KeyAt(m_proxy->mapToSource(m_proxy->index(row, 0)).row()));
    }
    return keys;
}

int CQtReportList::RowCount() const {
    return m_proxy->rowCount();
}

QString CQtReportList::CellText(int row, int column) const {
    return m_proxy->index(row, column).data(Qt::DisplayRole).toString();
}

QString CQtReportList::CellToolTip(int row, int column) const {
    return ToolTipFor(m_proxy->index(row, column));
}

QString CQtReportList::ToolTipFor(const QModelIndex& index) const {
    if (!index.isValid()) {
        return {};
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    // The room the cell gives its text: its width less the style's margins on both sides.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int room = columnWidth(index.column()) - 2 * margin;
    return fontMetrics().horizontalAdvance(text) > room ? text : QString();
}

bool CQtReportList::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = ToolTipFor(indexAt(help->pos()));
        if (tip.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(indexAt(help->pos())));
        }
        return true;
    }
    return QTableView::viewportEvent(event);
}

void CQtReportList::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::ControlModifier && event->key() >= Qt::Key_0 && event->key() <= Qt::Key_9) {
        const CString keys = "Ctrl+" + std::to_string(event->key() - Qt::Key_0);
        if (const std::optional<ReportSort> sort = ReportSortForKey(Sort(), keys, m_model->Columns())) {
            SortBy(*sort);
            event->accept();
            return;
        }
    }
    // Home and End go to the first and last row, as in every list, not to the row's first and last cell.
    if (event->modifiers() == Qt::NoModifier && (event->key() == Qt::Key_Home || event->key() == Qt::Key_End)) {
        const QModelIndex target = moveCursor(event->key() == Qt::Key_Home ? MoveHome : MoveEnd, Qt::ControlModifier);
        if (target.isValid()) {
            selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            scrollTo(target);
        }
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

QItemSelectionModel::SelectionFlags CQtReportList::selectionCommand(const QModelIndex& index,
                                                                    const QEvent* event) const {
    // One row is always selected once one was: Ctrl+click and Ctrl+Space never empty the selection.
    const QItemSelectionModel::SelectionFlags command = QTableView::selectionCommand(index, event);
    if (command.testFlag(QItemSelectionModel::Deselect) || command.testFlag(QItemSelectionModel::Toggle)) {
        return QItemSelectionModel::NoUpdate;
    }
    return command;
}
