#pragma once

#include <vector>

#include "CString.h"
#include "Dialog.h"
#include "ListBox.h"
#include "MessageMap.h"

// A dialog that lists movies, one line of text above them, and lets the user choose one: Enter, "Go to movie" or a
// double-click on a row chooses the selected movie and closes the dialog; Escape or "Close" closes it with none.
// The caller fills it before the modal run and reads the choice afterwards; the dialog itself calls no engine.
class CMovieChoiceDlg : public CDialog {
public:
    explicit CMovieChoiceDlg(UINT templateId, CWnd* parent = nullptr);
    ~CMovieChoiceDlg() override;

    // A caption in place of the template's title.
    void SetCaption(const CString& caption) { m_caption = caption; }
    void SetNote(const CString& note) { m_note = note; }
    void AddRow(long movieId, const CString& text);

    // The movie chosen when the dialog closed with IDOK; 0 when none was.
    long GetChosenMovieId() const { return m_chosenMovieId; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnListDblClk();

private:
    struct Row {
        long movieId;
        CString text;
    };

    CListBox m_list;
    CString m_caption;
    CString m_note;
    std::vector<Row> m_rows;
    long m_chosenMovieId = 0;

    DECLARE_MESSAGE_MAP()
};
