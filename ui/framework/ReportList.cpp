#include "ReportList.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numeric>

#include "WindowSystem.h"

namespace {

// The number a cell starts with (blanks skipped); minus infinity for a cell without one, so that it comes first.
double CellNumber(const CString& text) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    while (begin != end && (*begin == ' ' || *begin == '\t')) {
        ++begin;
    }
    double value = 0.0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    return error == std::errc() && stop != begin ? value : -HUGE_VAL;
}

// -1, 0 or 1 as `a` sorts before, with or after `b`, ASCII letters without regard to case.
int CompareText(const CString& a, const CString& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int x = std::tolower(static_cast<unsigned char>(a[i]));
        const int y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

const CString& Cell(const ReportRow& row, int column) {
    static const CString empty;
    return column >= 0 && static_cast<std::size_t>(column) < row.cells.size()
               ? row.cells[static_cast<std::size_t>(column)]
               : empty;
}

} // namespace

ReportSort NextReportSort(const ReportSort& current, int column, const std::vector<ReportColumn>& columns) {
    if (column < 0 || static_cast<std::size_t>(column) >= columns.size()) {
        return ReportSort{};
    }
    if (current.column == column) {
        return ReportSort{column, !current.descending};
    }
    return ReportSort{column, columns[static_cast<std::size_t>(column)].descendingFirst};
}

std::optional<ReportSort> ReportSortForKey(const ReportSort& current, const CString& keys,
                                           const std::vector<ReportColumn>& columns) {
    if (keys.size() != 6 || keys.compare(0, 5, "Ctrl+") != 0 || keys[5] < '0' || keys[5] > '9') {
        return std::nullopt;
    }
    const int digit = keys[5] - '0';
    if (digit == 0) {
        return ReportSort{};
    }
    if (static_cast<std::size_t>(digit) > columns.size()) {
        return std::nullopt;
    }
    return NextReportSort(current, digit - 1, columns);
}

bool ReportRowBefore(const std::vector<ReportRow>& rows, int a, int b, const ReportSort& sort,
                     const std::vector<ReportColumn>& columns) {
    const ReportRow& x = rows[static_cast<std::size_t>(a)];
    const ReportRow& y = rows[static_cast<std::size_t>(b)];
    if (x.group != y.group) {
        return x.group < y.group;
    }
    if (sort.column >= 0 && static_cast<std::size_t>(sort.column) < columns.size()) {
        int order = 0;
        if (columns[static_cast<std::size_t>(sort.column)].kind == ReportColumn::Kind::Number) {
            const double p = CellNumber(Cell(x, sort.column));
            const double q = CellNumber(Cell(y, sort.column));
            order = p < q ? -1 : (q < p ? 1 : 0);
        } else {
            order = CompareText(Cell(x, sort.column), Cell(y, sort.column));
        }
        if (order != 0) {
            return sort.descending ? order > 0 : order < 0;
        }
    }
    return a < b;
}

std::vector<int> ReportOrder(const std::vector<ReportRow>& rows, const ReportSort& sort,
                             const std::vector<ReportColumn>& columns) {
    std::vector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return ReportRowBefore(rows, a, b, sort, columns); });
    return order;
}

void CReportList::SetColumns(const std::vector<ReportColumn>& columns) {
    if (m_hWnd != nullptr) {
        AfxGetWindowSystem().ReportSetColumns(m_hWnd, columns);
    }
}

int CReportList::SetRows(const std::vector<ReportRow>& rows) {
    return m_hWnd != nullptr ? AfxGetWindowSystem().ReportSetRows(m_hWnd, rows) : 0;
}

std::optional<long> CReportList::GetSelection() const {
    return m_hWnd != nullptr ? AfxGetWindowSystem().ReportGetSelection(m_hWnd) : std::nullopt;
}

bool CReportList::SelectKey(long key) {
    return m_hWnd != nullptr && AfxGetWindowSystem().ReportSelectKey(m_hWnd, key);
}

void CReportList::SortBy(const ReportSort& sort) {
    if (m_hWnd != nullptr) {
        AfxGetWindowSystem().ReportSortBy(m_hWnd, sort);
    }
}

ReportSort CReportList::GetSort() const {
    return m_hWnd != nullptr ? AfxGetWindowSystem().ReportGetSort(m_hWnd) : ReportSort{};
}

std::vector<long> CReportList::GetKeys() const {
    return m_hWnd != nullptr ? AfxGetWindowSystem().ReportGetKeys(m_hWnd) : std::vector<long>();
}
