#include "RatingsDlg.h"

#include <set>

#include "PickTexts.h"
#include "resource.h"

namespace {

// The rows of movies marked not interested come after every rating, whatever the sort.
constexpr int kHiddenGroup = 1;

} // namespace

CRatingsDlg::CRatingsDlg(CMovieTable& table, CWnd* parent) : CMovieListDlg(IDD_RATINGS_DIALOG, table, parent) {}

std::vector<ReportColumn> CRatingsDlg::Columns() const {
    using Kind = ReportColumn::Kind;
    return {
        {"Title", 170, Kind::Text},
        {"Year", 26, Kind::Number, true, true},
        {"Genres", 130, Kind::Text},
        {"Your stars", 50, Kind::Number, true, true},
        {"Rated on", 50, Kind::Text, false, true},
    };
}

void CRatingsDlg::LoadRows(std::vector<ReportRow>& rows, CString& note) {
    const long userId = m_table.GetCurrentUserID();
    const std::vector<UserRating> ratings = m_table.GetUserRatings(userId);
    const std::vector<long> hidden = m_table.GetNotInterested(userId);
    double average = 0.0;
    long count = 0;
    m_table.GetInfo(userId, average, count);
    note = RatingsSummary(count, average);

    std::set<long> rated;
    for (const UserRating& rating : ratings) {
        const MovieFacts facts = FactsOf(rating.movieId);
        rows.push_back(
            {rating.movieId,
             0,
             {facts.name, facts.year, facts.genres, StarsText(rating.stars), RatedOnText(rating.timestamp)}});
        rated.insert(rating.movieId);
    }
    // A movie rated since it was hidden is listed once, with its rating: the picks leave it out either way.
    for (const long movieId : hidden) {
        if (rated.count(movieId) == 0) {
            const MovieFacts facts = FactsOf(movieId);
            rows.push_back({movieId, kHiddenGroup, {facts.name, facts.year, facts.genres, kNotInterestedText, ""}});
        }
    }
}

bool CRatingsDlg::NotInterestedApplies(const ReportRow& row) const {
    return row.group == kHiddenGroup;
}

CString CRatingsDlg::OnNotInterestedFor(long movieId) {
    const CString title = FactsOf(movieId).title;
    m_table.SetNotInterested(movieId, m_table.GetCurrentUserID(), false);
    return FormatString("%s can be picked for you again.", title);
}
