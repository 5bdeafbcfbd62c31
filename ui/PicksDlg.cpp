#include "PicksDlg.h"

#include "PickTexts.h"
#include "WaitCursor.h"
#include "resource.h"

CPicksDlg::CPicksDlg(CMovieTable& table, CWnd* parent) : CMovieListDlg(IDD_PICKS_DIALOG, table, parent) {}

std::vector<ReportColumn> CPicksDlg::Columns() const {
    using Kind = ReportColumn::Kind;
    return {
        {"Best for you", 46, Kind::Number, true},     {"Title", 130, Kind::Text},
        {"Year", 26, Kind::Number, true, true},       {"Genres", 96, Kind::Text},
        {"You'd rate", 42, Kind::Number, true, true}, {"Because you liked", 100, Kind::Text},
    };
}

void CPicksDlg::LoadRows(std::vector<ReportRow>& rows, CString& note) {
    const long userId = m_table.GetCurrentUserID();
    std::vector<MoviePick> picks;
    {
        CWaitCursor wait;
        picks = m_table.GetTopPicksWithReasons(userId, kPickCount);
    }
    double average = 0.0;
    long count = 0;
    m_table.GetInfo(userId, average, count);
    note = count < MIN_RATINGS_TO_PREDICT ? NewcomerNote(count) : PersonalNote(count);

    rows.reserve(picks.size());
    for (const MoviePick& pick : picks) {
        const MovieFacts facts = FactsOf(pick.movieId);
        const CString because =
            pick.becauseMovieId != 0 ? BecauseText(FactsOf(pick.becauseMovieId).title, pick.becauseStars) : CString();
        rows.push_back({pick.movieId,
                        0,
                        {FormatString("%d", static_cast<int>(rows.size()) + 1), facts.name, facts.year, facts.genres,
                         PredictedStarsText(pick.predicted), because}});
    }
}

CString CPicksDlg::OnNotInterestedFor(long movieId) {
    const CString title = FactsOf(movieId).title;
    m_table.SetNotInterested(movieId, m_table.GetCurrentUserID(), true);
    return FormatString("%s will not be picked for you again (Your ratings can bring it back).", title);
}
