#include "TollivexDlg.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "AboutDlg.h"
#include "CString.h"
#include "DataExchange.h"
#include "DecimalText.h"
#include "EngineGuard.h"
#include "LoginDialog.h"
#include "MovieDialog.h"
#include "PaintDC.h"
#include "PicksDlg.h"
#include "RatingEntry.h"
#include "RatingsDlg.h"
#include "SimilarDlg.h"
#include "WaitCursor.h"
#include "WaitDialog.h"
#include "WindowSystem.h"
#include "resource.h"

namespace {

const char* const kStartupNotice = "Orrabel initializing\r\n Please Wait.";
// A start that has taken this long is a long one: from then on the notice says how far it has come.
constexpr std::chrono::milliseconds kLongStart{1000};

// The notice's progress line: "Reading ratings 42%", "Training step 3 of 20".
CString ProgressLine(const StartProgress& progress) {
    const CString stage = progress.stage;
    if (stage == "Training") {
        return FormatString("%s step %llu of %llu", stage, static_cast<unsigned long long>(progress.done),
                            static_cast<unsigned long long>(progress.total));
    }
    const std::uint64_t percent = progress.total == 0 ? 0 : progress.done * 100 / progress.total;
    return FormatString("%s %llu%%", stage, static_cast<unsigned long long>(percent));
}
// The list's hint for the bytes of item text it is about to receive.
constexpr UINT kListStorageBytes = 50;

} // namespace

CTollivexDlg::CTollivexDlg(CWnd* parent) : CTollivexDlg(CMovieTable(), parent) {}

CTollivexDlg::CTollivexDlg(CMovieTable table, CWnd* parent)
    : CDialog(IDD_TOLLIVEX_DIALOG, parent), m_exactPredictions(0), m_hIcon(nullptr), m_table(std::move(table)) {
    m_hIcon = AfxGetWindowSystem().LoadIcon(IDR_MAINFRAME);
}

CTollivexDlg::~CTollivexDlg() = default;

void CTollivexDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_REFRESH, m_refreshButton);
    DDX_Control(pDX, IDC_MOVIE_LIST, m_movieList);
    DDX_Check(pDX, IDC_EXACT_PREDICTIONS, m_exactPredictions);
}

BEGIN_MESSAGE_MAP(CTollivexDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_GET_RATING, OnGetRating)
ON_BN_CLICKED(IDC_GET_INFO, OnGetInfo)
ON_BN_CLICKED(IDC_REFRESH, OnRefresh)
ON_BN_CLICKED(IDC_PREDICT, OnPredict)
ON_BN_CLICKED(IDC_LOGIN, OnLogin)
ON_EN_CHANGE(IDC_USER_ID, OnUserIdChange)
ON_BN_CLICKED(IDC_RATE, OnRate)
ON_LBN_DBLCLK(IDC_MOVIE_LIST, OnMovieListDblClk)
ON_COMMAND(IDC_SEARCH, OnSearch)
ON_LBN_SELCHANGE(IDC_MOVIE_LIST, OnMovieListSelChange)
ON_EN_CHANGE(IDC_SEARCH_TEXT, OnSearchChange)
ON_BN_CLICKED(IDC_EXACT_PREDICTIONS, OnExactPredictions)
ON_COMMAND(ID_MOVIES_TOP_PICKS, OnTopPicks)
ON_COMMAND(ID_MOVIES_MORE_LIKE_THIS, OnMoreLikeThis)
ON_COMMAND(ID_MOVIES_YOUR_RATINGS, OnYourRatings)
ON_COMMAND(ID_HELP_ABOUT, OnHelpAbout)
END_MESSAGE_MAP()

// --- start-up and shutdown -------------------------------------------------------------------------------------------

BOOL CTollivexDlg::OnInitDialog() {
    // The notice outlives the guarded stretch on purpose: when start-up fails it stays on the screen while the
    // failure is shown, and the process ends right after.
    std::unique_ptr<CWaitDialog> notice;

    const EngineGuardResult startup = RunEngineGuarded(*this, [&] {
        CDialog::OnInitDialog();
        AddAboutEntry();
        // Above the template's client area, which stays as it is: the window grows by the bar.
        SetMenu(IDR_MAIN_MENU);
        EnableMoviesMenu(false);
        SetIcon(m_hIcon, TRUE);
        SetIcon(m_hIcon, FALSE);

        notice = std::make_unique<CWaitDialog>(CString(kStartupNotice));
        notice->Create(IDD_WAIT_DIALOG, nullptr);
        if (notice->GetSafeHwnd() != nullptr) {
            notice->ShowWindow(SW_SHOWNORMAL);
        }

        // The engine reports as it loads; the notice repaints each time, and after a second also says how far along
        // the start is.
        const std::chrono::steady_clock::time_point started = m_startClock();
        m_table.SetProgress([this, started, shown = notice.get()](const StartProgress& progress) {
            shown->ShowProgress(m_startClock() - started >= kLongStart ? ProgressLine(progress) : CString());
        });
        m_table.Init(kDefaultDataPath);
        m_table.InitMatrices();
        m_table.SetProgress({});
        FillMovieList();

        if (notice->GetSafeHwnd() != nullptr) {
            notice->ShowWindow(SW_HIDE);
        }
        notice.reset();

        OnLogin();
    });

    if (startup != EngineGuardResult::Completed) {
        // The results pane that holds the report of a non-engine failure is never shown, so say it where a
        // person or a script starting the program can see it.
        if (startup == EngineGuardResult::OtherFailure) {
            std::cerr << "Unknown internal error" << std::endl;
        }
        AfxGetWindowSystem().ExitProcess(1);
    }
    // The focus starts on the first tab stop, unless a newcomer went from his picks to a movie: then it stays in
    // the movie list, where Enter asks that movie's rating.
    return m_focusSet ? FALSE : TRUE;
}

void CTollivexDlg::OnOK() {
    CDialog::OnOK();
}

// --- system menu, About box and the minimised window ----------------------------------------------------------------

void CTollivexDlg::AddAboutEntry() {
    CWindowSystem& windows = AfxGetWindowSystem();
    HMENU systemMenu = GetSystemMenu(FALSE);
    if (systemMenu == nullptr) {
        return;
    }
    const CString aboutText = windows.LoadString(IDS_ABOUTBOX);
    if (!aboutText.empty()) {
        windows.AppendMenu(systemMenu, MF_SEPARATOR, 0, CString());
        windows.AppendMenu(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText);
    }
}

void CTollivexDlg::OnSysCommand(UINT id, LPARAM lParam) {
    // The low four bits of a system command are the system's own; only the rest names the command.
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        OnHelpAbout();
    } else {
        Default(WM_SYSCOMMAND, id, lParam);
    }
}

void CTollivexDlg::OnHelpAbout() {
    CAboutDlg about;
    about.DoModal();
}

void CTollivexDlg::OnPaint() {
    if (!IsIconic()) {
        Default(WM_PAINT, 0, 0);
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    // Integer division truncates towards zero, also for a client area smaller than the icon.
    const int x = (rect.Width() - cx + 1) / 2;
    const int y = (rect.Height() - cy + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CTollivexDlg::OnQueryDragIcon() {
    return m_hIcon;
}

// --- login ----------------------------------------------------------------------------------------------------------

void CTollivexDlg::OnLogin() {
    bool registered = false;
    RunEngineGuarded(*this, [&] {
        long userId = NO_USER;
        CLoginDialog login;
        if (login.DoModal() != IDOK) {
            return;
        }
        if (!login.m_errorText.empty()) {
            SetDlgItemText(IDC_RESULTS, login.m_errorText);
        } else if (login.m_newUser) {
            userId = m_table.InsertUser(login.m_userName, login.m_password);
        } else {
            userId = m_table.GetUserID(login.m_userName, login.m_password);
        }
        // Only exactly NO_USER is a refusal, and it is a silent one: nothing visible changes.
        if (userId == NO_USER) {
            return;
        }
        CWaitCursor wait;
        m_table.SetCurrentUser(userId);
        SetDlgItemText(IDC_CURRENT_USER, FormatString("UserName: %s, UserID: %d", login.m_userName, userId));
        EnableMoviesMenu(true);
        registered = login.m_newUser;
    });
    // A newcomer starts where he can teach the program his taste: the picks for newcomers, rated from the list.
    if (registered) {
        OnTopPicks();
    }
}

void CTollivexDlg::OnUserIdChange() {
    RunEngineGuarded(*this, [&] {
        CString text;
        GetDlgItemText(IDC_USER_ID, text);
        const long userId = ParseDecimalText(text);
        CWaitCursor wait;
        m_table.SetCurrentUser(userId);
        SetDlgItemText(IDC_CURRENT_USER, text);
        EnableMoviesMenu(userId != NO_USER);
    });
}

// --- the catalogue --------------------------------------------------------------------------------------------------

void CTollivexDlg::FillMovieList() {
    RunEngineGuarded(*this, [&] {
        long count = m_table.GetNumberOfMovies();
        // A negative count means no movies; the top end leaves room for the array's extra element.
        if (count < 0) {
            count = 0;
        }
        if (count > std::numeric_limits<int>::max() - 1) {
            count = std::numeric_limits<int>::max() - 1;
        }
        const int movieCount = static_cast<int>(count);

        m_movieList.InitStorage(movieCount, kListStorageBytes);
        m_movieIds.SetSize(movieCount + 1);
        // Catalogue numbers run from 1 to N - 1; list position p holds number p + 1. The titles go into the list
        // in one call: a list of tens of thousands fills in a fraction of the time one insertion a title takes.
        std::vector<CString> titles;
        std::vector<int> ids;
        titles.reserve(static_cast<std::size_t>(std::max(movieCount - 1, 0)));
        ids.reserve(titles.capacity());
        // The ids go where the titles went, and nowhere when the list took none.
        const auto listGathered = [&] {
            const int listed = m_movieList.AddStrings(titles);
            const int first = listed - static_cast<int>(titles.size());
            for (std::size_t i = 0; listed >= 0 && first >= 0 && i < ids.size(); ++i) {
                m_movieIds.SetAt(first + static_cast<int>(i), ids[i]);
            }
        };
        try {
            for (int number = 1; number < movieCount; ++number) {
                MovieItem item = m_table.GetMovieDetails(number);
                ids.push_back(item.id);
                titles.push_back(std::move(item.title));
            }
        } catch (...) {
            // A movie that cannot be read stops the fill there: the ones before it stay listed.
            listGathered();
            throw;
        }
        listGathered();
        m_movieList.RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    });
}

void CTollivexDlg::OnMovieListSelChange() {
    const int position = m_movieList.GetCurSel();
    // With nothing selected the field keeps its movie, so the commands go on answering for what it names.
    if (position < 0 || position >= m_movieIds.GetSize()) {
        return;
    }
    SetDlgItemText(IDC_MOVIE_ID, FormatString("%d", m_movieIds.GetAt(position)));
}

void CTollivexDlg::SearchMovieList() {
    CString text;
    if (GetDlgItemText(IDC_SEARCH_TEXT, text) == 0) {
        SetDlgItemText(IDC_RESULTS, "Enter search string.");
        return;
    }
    // Starting after position 0 examines the first movie last.
    m_movieList.SelectString(0, text);
    OnMovieListSelChange();
}

void CTollivexDlg::OnSearchChange() {
    SearchMovieList();
}

void CTollivexDlg::OnSearch() {
    SearchMovieList();
}

void CTollivexDlg::OnMovieListDblClk() {
    RunEngineGuarded(*this, [&] {
        const int position = m_movieList.GetCurSel();
        if (position < 0) {
            return;
        }
        // The details go by catalogue number, not by movie id.
        const int number = position + 1;
        const MovieItem item = m_table.GetMovieDetails(number);
        const CString url = m_table.GetURLOfMovie(number);
        CMovieDialog details;
        details.SetDetails(item.name, item.releaseDate, url);
        details.DoModal();
    });
}

// --- ratings --------------------------------------------------------------------------------------------------------

bool CTollivexDlg::ReadPickedMovie(long& movieId) {
    CString movieText;
    if (GetDlgItemText(IDC_MOVIE_ID, movieText) == 0) {
        SetDlgItemText(IDC_RESULTS, "Movie not picked...");
        return false;
    }
    movieId = ParseDecimalText(movieText);
    return true;
}

void CTollivexDlg::OnGetRating() {
    RunEngineGuarded(*this, [&] {
        long movieId = 0;
        if (!ReadPickedMovie(movieId)) {
            return;
        }
        const long userId = m_table.GetCurrentUserID();
        const long rating = m_table.GetRating(movieId, userId, CString());
        if (rating != 0) {
            SetDlgItemText(IDC_RESULTS, FormatString("The rating is : %d", rating));
        } else {
            SetDlgItemText(IDC_RESULTS, "There is no rating for this movie yet.");
        }
    });
}

void CTollivexDlg::OnRate() {
    RunEngineGuarded(*this, [&] {
        long movieId = 0;
        if (!ReadPickedMovie(movieId)) {
            return;
        }

        CString ratingText;
        if (GetDlgItemText(IDC_RATING, ratingText) == 0) {
            SetDlgItemText(IDC_RESULTS, "Rating is missing...");
            return;
        }
        const long rating = ParseDecimalText(ratingText);
        if (rating < 1 || rating > 5) {
            SetDlgItemText(IDC_RESULTS, "Rating can be between 1 and 5 only.");
            return;
        }

        // A stored rating is never overwritten.
        if (EnterRating(m_table, movieId, rating) == RatingEntryResult::AlreadyRated) {
            SetDlgItemText(IDC_RESULTS, kAlreadyRatedText);
        }
    });
}

// --- predictions and statistics -------------------------------------------------------------------------------------

int CTollivexDlg::GetPredictionBand(double ratio) {
    const auto below = [ratio](double threshold) { return std::isunordered(ratio, threshold) || ratio < threshold; };
    if (below(0.7)) {
        return 1;
    }
    if (below(0.85)) {
        return 2;
    }
    if (below(1.0)) {
        return 3;
    }
    if (below(1.15)) {
        return 4;
    }
    return 5;
}

void CTollivexDlg::OnPredict() {
    RunEngineGuarded(*this, [&] {
        long movieId = 0;
        if (!ReadPickedMovie(movieId)) {
            return;
        }
        if (!m_table.CanPredict()) {
            SetDlgItemText(IDC_RESULTS, FormatString("You must enter at least %d ratings before you can predict.",
                                                     MIN_RATINGS_TO_PREDICT));
            return;
        }

        CWaitCursor wait;
        long userId = m_table.GetCurrentUserID();
        const double prediction = m_table.GetPredictedRating(movieId, userId);
        CString text;
        if (m_exactPredictions != 0) {
            text = FormatString("The prediction is : %f", prediction);
        } else {
            userId = m_table.GetCurrentUserID();
            double average = 0.0;
            long count = 0;
            m_table.GetInfo(userId, average, count);
            // An average of 0 gives an infinity or a value that is not a number; the band handles both.
            const double ratio = prediction / average;
            text = FormatString("The prediction is : %d", GetPredictionBand(ratio));
        }
        SetDlgItemText(IDC_RESULTS, text);
    });
}

void CTollivexDlg::OnExactPredictions() {
    // The box toggles its own mark on the same click, so flag and mark change together.
    m_exactPredictions = m_exactPredictions != 0 ? 0 : 1;
}

void CTollivexDlg::OnGetInfo() {
    RunEngineGuarded(*this, [&] {
        const long userId = m_table.GetCurrentUserID();
        double average = 0.0;
        long count = 0;
        m_table.GetInfo(userId, average, count);
        SetDlgItemText(IDC_RESULTS,
                       FormatString("The average is : %f, The number of items rated is : %d", average, count));
    });
}

void CTollivexDlg::OnRefresh() {
    RunEngineGuarded(*this, [&] {
        CWaitCursor wait;
        m_table.SetRefresh(true);
    });
}

// --- top picks, movies like the selected one, the user's ratings -----------------------------------------------------

void CTollivexDlg::ShowInMovieList(long movieId) {
    // List position p holds catalogue number p + 1.
    const int position = m_table.GetMovieNumber(movieId) - 1;
    if (m_movieList.SetCurSel(position) >= 0) {
        OnMovieListSelChange();
    }
}

void CTollivexDlg::GoToChosenMovie(const CMovieListDlg& dialog, INT_PTR result) {
    if (result == IDOK && dialog.GetChosenMovieId() != 0) {
        ShowInMovieList(dialog.GetChosenMovieId());
        // The keyboard goes where the movie now is, so that the next Enter asks its rating (the default button)
        // instead of pressing whatever button had the focus before the dialog opened.
        m_movieList.SetFocus();
        m_focusSet = true;
    }
}

void CTollivexDlg::EnableMoviesMenu(bool loggedIn) {
    for (const UINT id : {ID_MOVIES_TOP_PICKS, ID_MOVIES_MORE_LIKE_THIS, ID_MOVIES_YOUR_RATINGS}) {
        EnableMenuItem(id, loggedIn ? TRUE : FALSE);
    }
}

void CTollivexDlg::OnTopPicks() {
    RunEngineGuarded(*this, [&] {
        CPicksDlg dialog(m_table);
        dialog.Load();
        const INT_PTR result = dialog.DoModal();
        GoToChosenMovie(dialog, result);
    });
}

void CTollivexDlg::OnMoreLikeThis() {
    RunEngineGuarded(*this, [&] {
        long movieId = 0;
        if (!ReadPickedMovie(movieId)) {
            return;
        }
        CSimilarDlg dialog(m_table, movieId);
        dialog.Load();
        const INT_PTR result = dialog.DoModal();
        GoToChosenMovie(dialog, result);
    });
}

void CTollivexDlg::OnYourRatings() {
    RunEngineGuarded(*this, [&] {
        CRatingsDlg dialog(m_table);
        dialog.Load();
        const INT_PTR result = dialog.DoModal();
        GoToChosenMovie(dialog, result);
    });
}
