#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AfxTypes.h"
#include "CString.h"
#include "ListBox.h"
#include "PaintDC.h"
#include "ScriptedWindowSystem.h"
#include "TestDialogs.h"
#include "WindowSystem.h"
#include "resource.h"

namespace {

// Runs the test dialog on the main window's template; `body` acts while it is up, then the run is closed.
template <typename Body> void WithMainTemplate(CScriptedWindowSystem& system, CMainTemplateDialog& dialog, Body body) {
    system.ExpectModal(IDD_TOLLIVEX_DIALOG, [&](CScriptedWindow& w) {
        body(w);
        if (!w.IsEnded()) {
            w.PressEscape();
        }
    });
    dialog.DoModal();
}

TEST(ScriptedToolkit, SelectByPrefixWrapsAroundAndIgnoresCase) {
    CScriptedWindowSystem system;
    CMainTemplateDialog dialog;
    WithMainTemplate(system, dialog, [&](CScriptedWindow& w) {
        CListBox& list = dialog.m_movieList;
        list.InsertString(-1, "Harbor");
        list.InsertString(-1, "Meadow");
        list.InsertString(-1, "Harbor Lights");
        EXPECT_EQ(list.SelectString(0, "h"), 2);  // after position 0 first
        EXPECT_EQ(list.SelectString(2, "h"), 0);  // past the end, round to the first
        EXPECT_EQ(list.SelectString(-1, "h"), 0); // -1: the whole list from the first
        EXPECT_EQ(list.SelectString(0, "MEADOW"), 1);
        EXPECT_EQ(list.SelectString(1, "harbor l"), 2);
        EXPECT_EQ(list.SelectString(1, "eadow"), LB_ERR); // a prefix, not a substring
        EXPECT_EQ(list.GetCurSel(), 2);                   // failed search keeps the selection
        EXPECT_EQ(list.SelectString(1, "Harbor Lights and more"), LB_ERR);
        EXPECT_TRUE(dialog.calls.empty()); // no selection-change notification from the program's own select

        // Two items: the item at the start position itself comes last.
        w.Control(IDC_MOVIE_LIST).items = {"Harbor", "Meadow"};
        EXPECT_EQ(list.SelectString(0, "ha"), 0);
        EXPECT_EQ(list.SelectString(1, "me"), 1);
        w.Control(IDC_MOVIE_LIST).items.clear();
        EXPECT_EQ(list.SelectString(-1, ""), LB_ERR);
    });
}

TEST(ScriptedToolkit, InsertionAtAPositionNeverSorts) {
    CScriptedWindowSystem system;
    CMainTemplateDialog dialog;
    WithMainTemplate(system, dialog, [&](CScriptedWindow& w) {
        CListBox& list = dialog.m_movieList; // the list has the sorted style, which positions override
        EXPECT_EQ(list.InitStorage(3, 64), 3);
        EXPECT_EQ(list.InsertString(0, "Zebra"), 0);
        EXPECT_EQ(list.InsertString(1, "Apple"), 1);
        EXPECT_EQ(list.InsertString(-1, "Mango"), 2);
        EXPECT_EQ(list.InsertString(0, "Kiwi"), 0);
        EXPECT_EQ(list.InsertString(9, "Beyond"), LB_ERR);
        EXPECT_EQ(w.Items(IDC_MOVIE_LIST), (std::vector<std::string>{"Kiwi", "Zebra", "Apple", "Mango"}));
        EXPECT_EQ(w.Control(IDC_MOVIE_LIST).initStorageCalls, 1);
        EXPECT_EQ(list.GetCurSel(), LB_ERR);

        // A user's selection raises the list's notifications; an insertion before it moves it along.
        w.DoubleClick(IDC_MOVIE_LIST, 1);
        EXPECT_EQ(dialog.calls, (std::vector<std::string>{"OnSelChange", "OnDblClk"}));
        list.InsertString(0, "Fig");
        EXPECT_EQ(list.GetCurSel(), 2);
        dialog.RedrawWindow(0);
        HWND listHandle = list.GetSafeHwnd();
        AfxGetWindowSystem().RedrawWindow(listHandle, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        EXPECT_EQ(w.Control(IDC_MOVIE_LIST).redraws, 1);
    });
}

TEST(ScriptedToolkit, TypingKeepsOnlyDigitsInADigitsOnlyEditButPastingKeepsText) {
    CScriptedWindowSystem system;
    CMainTemplateDialog dialog;
    WithMainTemplate(system, dialog, [&](CScriptedWindow& w) {
        w.Type(IDC_RATING, "4a");
        EXPECT_EQ(w.Text(IDC_RATING), "4");
        w.Type(IDC_RATING, "x");
        EXPECT_EQ(w.Text(IDC_RATING), "");
        w.Paste(IDC_RATING, "4a");
        EXPECT_EQ(w.Text(IDC_RATING), "4a");
        w.Type(IDC_SEARCH_TEXT, "Toy 2"); // an ordinary edit keeps everything typed
        EXPECT_EQ(w.Text(IDC_SEARCH_TEXT), "Toy 2");
        // The program setting an edit's text raises the same notification as typing.
        dialog.SetDlgItemText(IDC_USER_ID, "7");
        EXPECT_EQ(w.Text(IDC_USER_ID), "7");
        // A read-only edit takes no typing; the program may still set it.
        EXPECT_THROW(w.Type(IDC_CURRENT_USER, "x"), CScriptedFailure);
        EXPECT_EQ(system.TakeFailures().size(), 1u);
        dialog.SetDlgItemText(IDC_CURRENT_USER, "guest");
        CString text;
        EXPECT_EQ(dialog.GetDlgItemText(IDC_CURRENT_USER, text), 5);
        EXPECT_EQ(text, "guest");
        EXPECT_EQ(dialog.GetDlgItemText(IDC_RESULTS, text), 0);
        EXPECT_EQ(text, "");
    });
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"OnRatingChange", "OnRatingChange", "OnRatingChange",
                                                      "OnSearchChange", "OnUserIdChange", "OnCancel"}));
}

TEST(ScriptedToolkit, KeysFocusCheckBoxesAndHiddenControls) {
    CScriptedWindowSystem system;
    CMainTemplateDialog dialog;
    WithMainTemplate(system, dialog, [&](CScriptedWindow& w) {
        // After initialisation the first visible tab stop has the focus: Enter there is "Close Program".
        EXPECT_EQ(w.FocusedControl(), IDOK);
        EXPECT_FALSE(w.Control(IDC_MOVIE_ID).visible);
        EXPECT_FALSE(w.Control(IDC_USER_ID).visible);
        EXPECT_TRUE(w.Control(IDC_RATING).visible);
        w.SetFocus(IDC_SEARCH_TEXT);
        w.PressEnter(); // an edit has the focus: the default push button GetRating
        w.Type(IDC_RATING, "3");
        w.PressEnter();
        w.Click(IDC_LOGIN);
        w.PressEnter(); // a focused push button takes Enter itself
        w.Click(IDC_EXACT_PREDICTIONS);
        EXPECT_EQ(w.Control(IDC_EXACT_PREDICTIONS).check, 1);
        w.Click(IDC_EXACT_PREDICTIONS);
        EXPECT_EQ(w.Control(IDC_EXACT_PREDICTIONS).check, 0);
        EXPECT_THROW(w.Click(IDC_RESULTS), CScriptedFailure);
        EXPECT_THROW(w.Control(4242), CScriptedFailure);
        EXPECT_EQ(system.TakeFailures().size(), 2u);
        w.SetFocus(IDOK);
        w.PressEnter();
        EXPECT_TRUE(w.IsEnded());
        EXPECT_EQ(w.Result(), IDOK);
    });
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"OnGetRating", "OnRatingChange", "OnGetRating", "OnLogin",
                                                      "OnLogin", "OnExact", "OnExact", "OnOK"}));
}

TEST(ScriptedToolkit, ResourcesSystemMenuAndPaintingSteps) {
    CScriptedWindowSystem system;
    CWindowSystem& toolkit = system;
    EXPECT_EQ(toolkit.LoadString(IDS_ABOUTBOX), "&About Tollivex...");
    EXPECT_EQ(toolkit.LoadString(4242), "");
    system.Strings().erase(IDS_ABOUTBOX);
    EXPECT_EQ(toolkit.LoadString(IDS_ABOUTBOX), "");
    HICON mainIcon = toolkit.LoadIcon(IDR_MAINFRAME);
    EXPECT_NE(mainIcon, nullptr);
    EXPECT_EQ(toolkit.LoadIcon(IDR_MAINFRAME), mainIcon);
    EXPECT_NE(toolkit.LoadIcon(IDI_PROGRAM_ICON), mainIcon);
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);
    system.SetIconMetrics(16, 20);
    EXPECT_EQ(GetSystemMetrics(SM_CYICON), 20);

    CMainTemplateDialog dialog;
    WithMainTemplate(system, dialog, [&](CScriptedWindow& w) {
        HMENU menu = dialog.GetSystemMenu(FALSE);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(dialog.GetSystemMenu(FALSE), menu); // the window's own menu, not a copy
        EXPECT_TRUE(toolkit.AppendMenu(menu, MF_SEPARATOR, 0, ""));
        EXPECT_TRUE(toolkit.AppendMenu(menu, MF_STRING, IDM_ABOUTBOX, "&About"));
        ASSERT_EQ(w.SystemMenu().size(), 2u);
        EXPECT_EQ(w.SystemMenu()[1].id, static_cast<UINT_PTR>(IDM_ABOUTBOX));
        EXPECT_EQ(w.SystemMenu()[1].text, "&About");
        dialog.SetIcon(mainIcon, TRUE);
        EXPECT_EQ(w.Icon(true), mainIcon);
        EXPECT_EQ(w.Icon(false), nullptr);

        w.SetIconic(true);
        w.SetClientSize(100, 40);
        EXPECT_TRUE(dialog.IsIconic());
        RECT rect;
        dialog.GetClientRect(&rect);
        EXPECT_EQ(rect.Width(), 100);
        EXPECT_EQ(rect.Height(), 40);
        system.EventLog().clear();
        {
            CPaintDC dc(&dialog);
            dialog.SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()));
            dc.DrawIcon(34, 10, mainIcon);
        }
        EXPECT_EQ(system.EventLog(),
                  (std::vector<std::string>{"BeginPaint", "EraseIconBkgnd", "DrawIcon(34,10)", "EndPaint"}));
    });

    system.SetNoSystemMenu(IDD_TOLLIVEX_DIALOG);
    WithMainTemplate(system, dialog, [&](CScriptedWindow&) { EXPECT_EQ(dialog.GetSystemMenu(FALSE), nullptr); });
}

} // namespace
