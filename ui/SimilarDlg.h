#pragma once

#include "MovieListDlg.h"

// More like this on template IDD_PICKS_DIALOG: the movies most alike one movie, most alike first, with the current
// user's predicted stars and, for those he rated, his own; movies he marked not interested are left out.
class CSimilarDlg : public CMovieListDlg {
public:
    CSimilarDlg(CMovieTable& table, long movieId, CWnd* parent = nullptr);

    static constexpr int kSimilarCount = 50;

protected:
    CString Caption() const override { return "More like this"; }
    std::vector<ReportColumn> Columns() const override;
    void LoadRows(std::vector<ReportRow>& rows, CString& note) override;
    CString OnNotInterestedFor(long movieId) override;

private:
    long m_movieId;
};
