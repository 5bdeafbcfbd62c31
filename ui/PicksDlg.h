#pragma once

#include "MovieListDlg.h"

// Top picks on template IDD_PICKS_DIALOG: the movies the engine picks for the current user, best first, each with
// its predicted stars and the movie behind it. A movie rated here leaves the list and the next pick takes its place;
// one marked not interested leaves it for good.
class CPicksDlg : public CMovieListDlg {
public:
    explicit CPicksDlg(CMovieTable& table, CWnd* parent = nullptr);

    // How many picks the list shows.
    static constexpr int kPickCount = 50;

protected:
    std::vector<ReportColumn> Columns() const override;
    void LoadRows(std::vector<ReportRow>& rows, CString& note) override;
    CString OnNotInterestedFor(long movieId) override;
};
