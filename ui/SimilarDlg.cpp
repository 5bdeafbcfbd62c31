#include "SimilarDlg.h"

#include <algorithm>

#include "PickTexts.h"
#include "WaitCursor.h"
#include "resource.h"

CSimilarDlg::CSimilarDlg(CMovieTable& table, long movieId, CWnd* parent)
    : CMovieListDlg(IDD_PICKS_DIALOG, table, parent), m_movieId(movieId) {}

std::vector<ReportColumn> CSimilarDlg::Columns() const {
    using Kind = ReportColumn::Kind;
    return {
        {"Most alike", 46, Kind::Number, true},       {"Title", 150, Kind::Text},
        {"Year", 26, Kind::Number, true, true},       {"Genres", 110, Kind::Text},
        {"You'd rate", 42, Kind::Number, true, true}, {"Your rating", 42, Kind::Number, true, true},
    };
}

void CSimilarDlg::LoadRows(std::vector<ReportRow>& rows, CString& note) {
    const long userId = m_table.GetCurrentUserID();
    std::vector<long> similar;
    {
        CWaitCursor wait;
        similar = m_table.GetSimilarMovies(m_movieId, kSimilarCount);
    }
    const std::vector<long> hidden = m_table.GetNotInterested(userId);
    const CString title = FactsOf(m_movieId).title;
    for (const long movieId : similar) {
        if (std::find(hidden.begin(), hidden.end(), movieId) != hidden.end()) {
            continue;
        }
        const MovieFacts facts = FactsOf(movieId);
        const long rating = m_table.GetRating(movieId, userId, CString());
        const double predicted = m_table.GetPredictedRating(movieId, userId);
        rows.push_back({movieId,
                        0,
                        {FormatString("%d", static_cast<int>(rows.size()) + 1), facts.name, facts.year, facts.genres,
                         PredictedStarsText(predicted), rating != 0 ? StarsText(rating) : CString()}});
    }
    note = rows.empty() ? NoSimilarNote(title) : SimilarNote(title);
}

CString CSimilarDlg::OnNotInterestedFor(long movieId) {
    const CString title = FactsOf(movieId).title;
    m_table.SetNotInterested(movieId, m_table.GetCurrentUserID(), true);
    return FormatString("%s will not be picked for you again (Your ratings can bring it back).", title);
}
