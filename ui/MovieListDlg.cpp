#include "MovieListDlg.h"

#include <algorithm>
#include <utility>

#include "DataExchange.h"
#include "EngineGuard.h"
#include "PickTexts.h"
#include "RatingEntry.h"
#include "WindowSystem.h"
#include "resource.h"

CMovieListDlg::CMovieListDlg(UINT templateId, CMovieTable& table, CWnd* parent)
    : CDialog(templateId, parent), m_table(table) {}

CMovieListDlg::~CMovieListDlg() = default;

void CMovieListDlg::Load() {
    std::vector<ReportRow> rows;
    CString note;
    LoadRows(rows, note);
    m_rows = std::move(rows);
    m_note = std::move(note);
}

CMovieListDlg::MovieFacts CMovieListDlg::FactsOf(long movieId) const {
    const int number = m_table.GetMovieNumber(movieId);
    const MovieItem item = m_table.GetMovieDetails(number);
    return MovieFacts{item.title, ListTitle(item), MovieYear(item), m_table.GetMovieGenres(number)};
}

bool CMovieListDlg::NotInterestedApplies(const ReportRow& /*row*/) const {
    return true;
}

void CMovieListDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CHOICE_LIST, m_list);
}

BEGIN_MESSAGE_MAP(CMovieListDlg, CDialog)
ON_LBN_DBLCLK(IDC_CHOICE_LIST, OnListDblClk)
ON_LBN_SELCHANGE(IDC_CHOICE_LIST, OnListSelChange)
ON_BN_CLICKED(IDC_RATE_1, OnRate1)
ON_BN_CLICKED(IDC_RATE_2, OnRate2)
ON_BN_CLICKED(IDC_RATE_3, OnRate3)
ON_BN_CLICKED(IDC_RATE_4, OnRate4)
ON_BN_CLICKED(IDC_RATE_5, OnRate5)
ON_BN_CLICKED(IDC_NOT_INTERESTED, OnNotInterested)
END_MESSAGE_MAP()

BOOL CMovieListDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (const CString caption = Caption(); !caption.empty()) {
        SetWindowText(caption);
    }
    m_list.SetColumns(Columns());
    ShowRows();
    // The first row starts selected, so that Enter or a rating key right away acts on the best one.
    if (!m_rows.empty()) {
        m_list.SelectKey(m_list.GetKeys().front());
    }
    UpdateButtons();
    return TRUE;
}

void CMovieListDlg::ShowRows() {
    SetDlgItemText(IDC_CHOICE_NOTE, m_note);
    m_list.SetRows(m_rows);
}

void CMovieListDlg::Reload() {
    Load();
    ShowRows();
    UpdateButtons();
}

const ReportRow* CMovieListDlg::SelectedRow() const {
    const std::optional<long> key = m_list.GetSelection();
    if (!key) {
        return nullptr;
    }
    const auto row = std::find_if(m_rows.begin(), m_rows.end(), [&](const ReportRow& r) { return r.key == *key; });
    return row != m_rows.end() ? &*row : nullptr;
}

void CMovieListDlg::UpdateButtons() {
    const ReportRow* selected = SelectedRow();
    for (const int id : {IDC_RATE_1, IDC_RATE_2, IDC_RATE_3, IDC_RATE_4, IDC_RATE_5, IDOK}) {
        if (HWND button = GetDlgItem(id)) {
            AfxGetWindowSystem().EnableWindow(button, selected != nullptr);
        }
    }
    if (HWND button = GetDlgItem(IDC_NOT_INTERESTED)) {
        AfxGetWindowSystem().EnableWindow(button, selected != nullptr && NotInterestedApplies(*selected));
    }
}

template <typename Action> void CMovieListDlg::Guarded(Action&& action) {
    CString status;
    const EngineGuardResult result = RunEngineGuarded(*this, [&] { status = std::forward<Action>(action)(); });
    if (result == EngineGuardResult::OtherFailure) {
        status = "Unknown internal error";
    }
    if (result != EngineGuardResult::EngineFailure) {
        SetDlgItemText(IDC_CHOICE_STATUS, status);
    }
}

void CMovieListDlg::RateSelected(long stars) {
    const std::optional<long> movieId = m_list.GetSelection();
    if (!movieId) {
        return;
    }
    Guarded([&]() -> CString {
        if (EnterRating(m_table, *movieId, stars) == RatingEntryResult::AlreadyRated) {
            return kAlreadyRatedText;
        }
        const CString title = FactsOf(*movieId).title;
        Reload();
        return FormatString("You rated %s %s.", title, StarCount(stars));
    });
}

void CMovieListDlg::OnNotInterested() {
    const ReportRow* selected = SelectedRow();
    if (selected == nullptr || !NotInterestedApplies(*selected)) {
        return;
    }
    const long movieId = selected->key;
    Guarded([&]() -> CString {
        CString status = OnNotInterestedFor(movieId);
        Reload();
        return status;
    });
}

void CMovieListDlg::OnListSelChange() {
    SetDlgItemText(IDC_CHOICE_STATUS, CString());
    UpdateButtons();
}

void CMovieListDlg::OnOK() {
    m_chosenMovieId = m_list.GetSelection().value_or(0);
    CDialog::OnOK();
}

void CMovieListDlg::OnListDblClk() {
    OnOK();
}
