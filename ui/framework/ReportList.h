#pragma once

#include <optional>
#include <vector>

#include "AfxTypes.h"
#include "CString.h"
#include "Wnd.h"

// A column of a report list: its heading, its width in dialog units, and how its cells compare when the list is
// sorted by it.
struct ReportColumn {
    enum class Kind {
        Text,   // letters compared without regard to case
        Number, // by the number the text starts with; a cell without one comes before every number
    };
    CString heading;
    int width = 50;
    Kind kind = Kind::Text;
    bool alignRight = false;
    // The first click on the heading sorts highest first (stars, years) instead of lowest first.
    bool descendingFirst = false;
};

// A row of a report list: the key that names it (a movie id; never 0), its group, and one text a column. Rows sort
// within their group; groups always stay in ascending order, whatever the sort.
struct ReportRow {
    long key = 0;
    int group = 0;
    std::vector<CString> cells;
};

// How a report list is sorted: by a column, or (column -1) in the order its rows were given.
struct ReportSort {
    int column = -1;
    bool descending = false;
    bool operator==(const ReportSort&) const = default;
};

// The sort after a click on column `column`'s heading: the same column again turns its order round, another
// column starts in its first order. A column outside the list gives the rows' own order.
ReportSort NextReportSort(const ReportSort& current, int column, const std::vector<ReportColumn>& columns);
// The sort a key asks for: "Ctrl+1" to "Ctrl+9" act as a click on that column's heading, "Ctrl+0" gives the rows'
// own order; nothing for any other key.
std::optional<ReportSort> ReportSortForKey(const ReportSort& current, const CString& keys,
                                           const std::vector<ReportColumn>& columns);
// Whether row `a` comes before row `b` under `sort` (rows of equal cells keep their given order: the sort is
// stable). `a` and `b` are positions in the given order.
bool ReportRowBefore(const std::vector<ReportRow>& rows, int a, int b, const ReportSort& sort,
                     const std::vector<ReportColumn>& columns);
// The positions of `rows` in the order `sort` shows them.
std::vector<int> ReportOrder(const std::vector<ReportRow>& rows, const ReportSort& sort,
                             const std::vector<ReportColumn>& columns);

// A report list bound to a control: a list with columns and a header the user sorts by, one row selected at a time.
// Rows are named by their keys, since their positions change with every sort.
class CReportList : public CWnd {
public:
    void SetColumns(const std::vector<ReportColumn>& columns);
    // Replaces the rows (see CWindowSystem::ReportSetRows); the number of rows.
    int SetRows(const std::vector<ReportRow>& rows);
    // The selected row's key, or nothing.
    std::optional<long> GetSelection() const;
    // Selects the row with this key, scrolled into view, without a selection-change notification.
    bool SelectKey(long key);
    void SortBy(const ReportSort& sort);
    ReportSort GetSort() const;
    // The keys in the order the list shows them.
    std::vector<long> GetKeys() const;
};
