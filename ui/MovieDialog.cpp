#include "MovieDialog.h"

#include "AfxTypes.h"
#include "resource.h"

CMovieDialog::CMovieDialog(CWnd* parent) : CDialog(IDD_MOVIE_DIALOG, parent) {}

CMovieDialog::~CMovieDialog() = default;

void CMovieDialog::SetDetails(const CString& name, const CString& releaseDate, const CString& url) {
    m_name = name;
    m_releaseDate = releaseDate;
    m_url = url;
}

INT_PTR CMovieDialog::DoModal() {
    return CDialog::DoModal();
}

void CMovieDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

BOOL CMovieDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetDlgItemText(IDC_DETAIL_NAME, m_name);
    SetDlgItemText(IDC_DETAIL_DATE, m_releaseDate);
    SetDlgItemText(IDC_DETAIL_URL, m_url);
    return TRUE;
}

BEGIN_MESSAGE_MAP(CMovieDialog, CDialog)
END_MESSAGE_MAP()
