#pragma once

#include "CString.h"
#include "Dialog.h"
#include "MessageMap.h"

// The "Movie Details" dialog on template 130: shows a movie's name, release date and URL, read-only.
class CMovieDialog : public CDialog {
public:
    explicit CMovieDialog(CWnd* parent = nullptr);
    ~CMovieDialog() override;

    // The three texts to show; called before the modal run.
    void SetDetails(const CString& name, const CString& releaseDate, const CString& url);
    INT_PTR DoModal() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

private:
    CString m_name;
    CString m_releaseDate;
    CString m_url;

    DECLARE_MESSAGE_MAP()
};
