#pragma once

#include <chrono>
#include <functional>

#include "AfxTypes.h"
#include "Button.h"
#include "Dialog.h"
#include "ListBox.h"
#include "MessageMap.h"
#include "MovieIdArray.h"
#include "MovieListDlg.h"
#include "MovieTable.h"

// The main window on template 102: the catalogue, login, ratings and predictions. It owns the engine.
class CTollivexDlg : public CDialog {
public:
    // The main window over the real engine.
    explicit CTollivexDlg(CWnd* parent = nullptr);
    // The main window over the given engine (tests put a scripted one in).
    explicit CTollivexDlg(CMovieTable table, CWnd* parent = nullptr);
    ~CTollivexDlg() override;

    // The band 1..5 of a prediction relative to the user's average. Each threshold test also holds when the ratio
    // cannot be ordered against it, so a ratio that is not a number gives band 1; a ratio equal to a threshold
    // falls in the higher band.
    static int GetPredictionBand(double ratio);

    // The clock start-up reads to tell a long start from a quick one; the steady clock unless a test sets another.
    using StartClock = std::function<std::chrono::steady_clock::time_point()>;
    void SetStartClock(StartClock clock) { m_startClock = std::move(clock); }

    const MovieIdArray& GetMovieIds() const { return m_movieIds; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();

    void OnLogin();
    void OnUserIdChange();
    void FillMovieList();
    void OnMovieListSelChange();
    void OnSearchChange();
    void OnSearch();
    void OnMovieListDblClk();
    void OnGetRating();
    void OnRate();
    void OnPredict();
    void OnExactPredictions();
    void OnGetInfo();
    void OnRefresh();
    void OnTopPicks();
    void OnMoreLikeThis();
    void OnYourRatings();
    void OnHelpAbout();

private:
    void AddAboutEntry();
    // Selects the first movie after position 0 whose title begins with the search text, then hands its id on.
    void SearchMovieList();
    // The id of the movie the list handed over in IDC_MOVIE_ID; false, with "Movie not picked..." in the results
    // pane, when none has been picked yet.
    bool ReadPickedMovie(long& movieId);
    // Selects the movie in the list, scrolled into view, and hands its id on as a click on it does.
    void ShowInMovieList(long movieId);
    // After a movie dialog closed: goes to the movie chosen in it, if any, with the keyboard in the movie list.
    void GoToChosenMovie(const CMovieListDlg& dialog, INT_PTR result);
    // The Movies menu's items serve a logged-in user only: greyed out while nobody is.
    void EnableMoviesMenu(bool loggedIn);

    CButton m_refreshButton;
    CListBox m_movieList;
    int m_exactPredictions;
    HICON m_hIcon;
    CMovieTable m_table;
    MovieIdArray m_movieIds;
    // Set when a movie chosen in a list took the keyboard to the movie list before the window first showed.
    bool m_focusSet = false;
    StartClock m_startClock = [] { return std::chrono::steady_clock::now(); };

    DECLARE_MESSAGE_MAP()
};
