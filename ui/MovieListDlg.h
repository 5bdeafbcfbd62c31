#pragma once

#include <vector>

#include "CString.h"
#include "Dialog.h"
#include "MessageMap.h"
#include "MovieTable.h"
#include "ReportList.h"

// A dialog that lists movies in columns under one line of text, and lets the user act on the selected one: keys 1
// to 5 (or the buttons) rate it, Delete (or its button) does what the dialog makes of it, and Enter, "Go to movie" or
// a double-click chooses it and closes the dialog; Escape or "Close" closes it with none. Each kind of list says
// how it asks the engine for its rows (Load, called before the run and after every change the user makes).
class CMovieListDlg : public CDialog {
public:
    CMovieListDlg(UINT templateId, CMovieTable& table, CWnd* parent = nullptr);
    ~CMovieListDlg() override;

    // Asks the engine for the rows and the line above them. CMException as the engine throws it.
    void Load();

    // The movie chosen when the dialog closed with IDOK; 0 when none was.
    long GetChosenMovieId() const { return m_chosenMovieId; }

protected:
    // What one movie shows in the columns that every list has.
    struct MovieFacts {
        CString title; // as the main window lists it, year included
        CString name;  // without the year
        CString year;
        CString genres;
    };
    MovieFacts FactsOf(long movieId) const;

    virtual CString Caption() const { return {}; }
    virtual std::vector<ReportColumn> Columns() const = 0;
    // The rows, in the order they first show, and the line above them.
    virtual void LoadRows(std::vector<ReportRow>& rows, CString& note) = 0;
    // Delete or the dialog's not-interested button, on the selected movie; the status line's text afterwards.
    virtual CString OnNotInterestedFor(long movieId) = 0;
    // Whether the not-interested button acts on this row.
    virtual bool NotInterestedApplies(const ReportRow& row) const;

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnListDblClk();
    void OnListSelChange();
    void OnRate1() { RateSelected(1); }
    void OnRate2() { RateSelected(2); }
    void OnRate3() { RateSelected(3); }
    void OnRate4() { RateSelected(4); }
    void OnRate5() { RateSelected(5); }
    void OnNotInterested();

    CMovieTable& m_table;

private:
    void RateSelected(long stars);
    // Loads again and shows the new rows, the selection kept by movie or place.
    void Reload();
    void ShowRows();
    void UpdateButtons();
    const ReportRow* SelectedRow() const;
    // Runs an action on the engine; a failure is shown as every engine failure is, or in the status line.
    template <typename Action> void Guarded(Action&& action);

    CReportList m_list;
    std::vector<ReportRow> m_rows;
    CString m_note;
    long m_chosenMovieId = 0;

    DECLARE_MESSAGE_MAP()
};
