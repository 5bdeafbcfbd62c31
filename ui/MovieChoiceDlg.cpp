#include "MovieChoiceDlg.h"

#include "DataExchange.h"
#include "resource.h"

CMovieChoiceDlg::CMovieChoiceDlg(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}

CMovieChoiceDlg::~CMovieChoiceDlg() = default;

void CMovieChoiceDlg::AddRow(long movieId, const CString& text) {
    m_rows.push_back({movieId, text});
}

void CMovieChoiceDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CHOICE_LIST, m_list);
}

BEGIN_MESSAGE_MAP(CMovieChoiceDlg, CDialog)
ON_LBN_DBLCLK(IDC_CHOICE_LIST, OnListDblClk)
END_MESSAGE_MAP()

BOOL CMovieChoiceDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (!m_caption.empty()) {
        SetWindowText(m_caption);
    }
    SetDlgItemText(IDC_CHOICE_NOTE, m_note);
    for (const Row& row : m_rows) {
        m_list.InsertString(-1, row.text);
    }
    // The first row starts selected, so that Enter right away takes the best one and the arrows start from it.
    if (!m_rows.empty()) {
        m_list.SetCurSel(0);
    }
    return TRUE;
}

void CMovieChoiceDlg::OnOK() {
    const int position = m_list.GetCurSel();
    m_chosenMovieId = position >= 0 && position < static_cast<int>(m_rows.size())
                          ? m_rows[static_cast<std::size_t>(position)].movieId
                          : 0;
    CDialog::OnOK();
}

void CMovieChoiceDlg::OnListDblClk() {
    OnOK();
}
