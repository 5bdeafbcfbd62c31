#pragma once

#include "MovieListDlg.h"

// Your ratings on template IDD_RATINGS_DIALOG: every rating of the current user, newest first, under their count and
// average; after them the movies he marked not interested, which Delete shows in his picks again.
class CRatingsDlg : public CMovieListDlg {
public:
    explicit CRatingsDlg(CMovieTable& table, CWnd* parent = nullptr);

protected:
    std::vector<ReportColumn> Columns() const override;
    void LoadRows(std::vector<ReportRow>& rows, CString& note) override;
    bool NotInterestedApplies(const ReportRow& row) const override;
    CString OnNotInterestedFor(long movieId) override;
};
