#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "AfxTypes.h"
#include "CString.h"
#include "Dialog.h"
#include "ScriptedWindowSystem.h"
#include "TestDialogs.h"
#include "WaitCursor.h"
#include "WinApp.h"
#include "WindowSystem.h"
#include "resource.h"

namespace {

TEST(Dialog, DataExchangeBindsControlsOnceAndMovesTheCheckMarkBothWays) {
    CScriptedWindowSystem system;
    CMainTemplateDialog dialog;
    dialog.m_exactPredictions = 1;
    HWND boundList = nullptr;
    system.ExpectModal(IDD_TOLLIVEX_DIALOG, [&](CScriptedWindow& w) {
        // Load direction inside the base initialisation: objects bound, box set from the member.
        EXPECT_EQ(dialog.m_refreshButton.GetSafeHwnd(), dialog.GetDlgItem(IDC_REFRESH));
        EXPECT_EQ(dialog.m_movieList.GetSafeHwnd(), dialog.GetDlgItem(IDC_MOVIE_LIST));
        EXPECT_NE(dialog.m_movieList.GetSafeHwnd(), nullptr);
        boundList = dialog.m_movieList.GetSafeHwnd();
        EXPECT_EQ(w.Control(IDC_EXACT_PREDICTIONS).check, 1);
        EXPECT_EQ(dialog.m_movieList.InsertString(-1, "Harbor"), 0);
        EXPECT_EQ(w.Items(IDC_MOVIE_LIST), (std::vector<std::string>{"Harbor"}));

        // Member and box are independent until the next exchange.
        w.Click(IDC_EXACT_PREDICTIONS);
        EXPECT_EQ(w.Control(IDC_EXACT_PREDICTIONS).check, 0);
        EXPECT_EQ(dialog.m_exactPredictions, 1);
        dialog.m_exactPredictions = 1;
        dialog.UpdateData(FALSE); // a second load does not rebind, but sets the box again
        EXPECT_EQ(dialog.m_movieList.GetSafeHwnd(), boundList);
        EXPECT_EQ(w.Control(IDC_EXACT_PREDICTIONS).check, 1);
        w.Click(IDC_EXACT_PREDICTIONS);
        w.Click(IDOK); // OK saves: the member takes the box's mark
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.m_exactPredictions, 0);
    // The window is gone and so are the bindings to its controls.
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    EXPECT_EQ(dialog.m_movieList.GetSafeHwnd(), nullptr);
    EXPECT_EQ(dialog.m_movieList.GetCurSel(), LB_ERR);

    // Cancel does not save: the member keeps its value whatever the box shows.
    system.ExpectModal(IDD_TOLLIVEX_DIALOG, [&](CScriptedWindow& w) {
        EXPECT_NE(dialog.m_movieList.GetSafeHwnd(), boundList); // bound again, to the new window
        EXPECT_TRUE(w.Items(IDC_MOVIE_LIST).empty());
        w.Click(IDC_EXACT_PREDICTIONS);
        EXPECT_EQ(w.Control(IDC_EXACT_PREDICTIONS).check, 1);
        w.PressEscape();
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.m_exactPredictions, 0);
    EXPECT_EQ(system.PendingModalSteps(), 0u);
}

TEST(Dialog, ModalRunEndsWithTheCodeGivenAlsoDuringInitialisation) {
    CScriptedWindowSystem system;
    CPlainLoginDialog login;
    system.ExpectModal(IDD_LOGIN_DIALOG, [](CScriptedWindow& w) {
        EXPECT_TRUE(w.IsVisible());
        EXPECT_EQ(w.Title(), "Login Please...");
        w.PressEnter(); // the default push button is OK
    });
    EXPECT_EQ(login.DoModal(), IDOK);
    system.ExpectModal(IDD_LOGIN_DIALOG, [](CScriptedWindow& w) { w.Click(IDCANCEL); });
    EXPECT_EQ(login.DoModal(), IDCANCEL);

    // EndDialog inside OnInitDialog: the run ends before the window is shown and the step never runs.
    CMainTemplateDialog dialog;
    bool stepRan = false;
    dialog.onInit = [&] {
        dialog.EndDialog(7);
        return TRUE;
    };
    system.ExpectModal(IDD_TOLLIVEX_DIALOG, [&](CScriptedWindow&) { stepRan = true; });
    EXPECT_EQ(dialog.DoModal(), 7);
    EXPECT_FALSE(stepRan);
    EXPECT_TRUE(system.Windows().empty());
    EXPECT_EQ(system.EventLog(), (std::vector<std::string>{"Modal(105)", "EndModal(105,1)", "Modal(105)",
                                                           "EndModal(105,2)", "Modal(102)", "EndModal(102,7)"}));
}

TEST(Dialog, ModalRunDisablesItsOwnerButAnOwnerlessMessageBoxDoesNot) {
    CScriptedWindowSystem system;
    CWinApp app;
    CMainTemplateDialog mainDialog;
    app.m_pMainWnd = &mainDialog;
    CPlainLoginDialog login;
    bool checkedInBox = false;
    mainDialog.onLogin = [&] {
        system.ExpectModal(IDD_LOGIN_DIALOG, [&](CScriptedWindow& w) {
            // No parent given: the application's main window is the owner and takes no input now.
            CScriptedWindow* mainWindow = system.FindWindow(IDD_TOLLIVEX_DIALOG);
            EXPECT_FALSE(mainWindow->IsEnabled());
            EXPECT_TRUE(w.IsEnabled());
            EXPECT_THROW(mainWindow->Click(IDC_LOGIN), CScriptedFailure);
            EXPECT_EQ(system.TakeFailures().size(), 1u);
            w.Click(IDOK);
        });
        EXPECT_EQ(login.DoModal(), IDOK);
        system.OnNextMessageBox([&] {
            CScriptedWindow* mainWindow = system.FindWindow(IDD_TOLLIVEX_DIALOG);
            EXPECT_TRUE(mainWindow->IsEnabled());
            mainWindow->Type(IDC_RATING, "4"); // the box's own loop lets the main window's commands through
            checkedInBox = true;
        });
        EXPECT_EQ(AfxMessageBox("Text", "Caption"), IDOK);
    };
    system.ExpectModal(IDD_TOLLIVEX_DIALOG, [&](CScriptedWindow& w) {
        w.Click(IDC_LOGIN);
        EXPECT_TRUE(w.IsEnabled());
        w.Click(IDOK);
    });
    EXPECT_EQ(mainDialog.DoModal(), IDOK);
    EXPECT_TRUE(checkedInBox);
    EXPECT_EQ(mainDialog.calls, (std::vector<std::string>{"OnLogin", "OnRatingChange", "OnOK"}));
    ASSERT_EQ(system.MessageBoxes().size(), 1u);
    EXPECT_EQ(system.MessageBoxes()[0].owner, nullptr);
    EXPECT_EQ(system.MessageBoxes()[0].style, MB_OK);
    EXPECT_EQ(system.EventLog(), (std::vector<std::string>{"Modal(102)", "Modal(105)", "EndModal(105,1)",
                                                           "MessageBox(Caption|Text)", "EndModal(102,1)"}));
}

TEST(Dialog, ScriptMismatchesAndExceptionsLeaveNoStaleWindows) {
    CScriptedWindowSystem system;
    CWinApp app;
    {
        CMainTemplateDialog mainDialog;
        app.m_pMainWnd = &mainDialog;
        CPlainLoginDialog login;
        // A modal run the script did not ask for.
        EXPECT_THROW(login.DoModal(), CScriptedFailure);
        // A step that leaves the dialog open.
        system.ExpectModal(IDD_LOGIN_DIALOG, [](CScriptedWindow&) {});
        EXPECT_THROW(login.DoModal(), CScriptedFailure);
        // The wrong template.
        system.ExpectModal(IDD_ABOUTBOX, [](CScriptedWindow& w) { w.Click(IDOK); });
        EXPECT_THROW(login.DoModal(), CScriptedFailure);
        EXPECT_EQ(system.TakeFailures().size(), 3u);
        EXPECT_EQ(system.PendingModalSteps(), 1u);
        EXPECT_TRUE(system.Windows().empty());
        EXPECT_EQ(login.GetSafeHwnd(), nullptr);

        // The leftover step is still queued, and the toolkit still works.
        CDialog about(IDD_ABOUTBOX);
        EXPECT_EQ(about.DoModal(), IDOK);

        // A process exit from inside nested runs unwinds every run and re-enables every owner.
        system.ExpectModal(IDD_TOLLIVEX_DIALOG, [&](CScriptedWindow&) {
            system.ExpectModal(IDD_LOGIN_DIALOG, [&](CScriptedWindow&) {
                EXPECT_FALSE(system.FindWindow(IDD_TOLLIVEX_DIALOG)->IsEnabled());
                AfxGetWindowSystem().ExitProcess(3);
            });
            login.DoModal();
        });
        try {
            mainDialog.DoModal();
            ADD_FAILURE() << "the process exit did not arrive";
        } catch (const CScriptedProcessExit& exit) {
            EXPECT_EQ(exit.status, 3);
        }
        EXPECT_TRUE(system.Windows().empty());
        EXPECT_EQ(mainDialog.GetSafeHwnd(), nullptr);
        EXPECT_EQ(mainDialog.m_movieList.GetSafeHwnd(), nullptr);
        EXPECT_EQ(system.EventLog().back(), "Exit(3)");
        EXPECT_EQ(system.PendingModalSteps(), 0u);

        // The next run starts from a clean state: the main window is enabled again.
        system.ExpectModal(IDD_TOLLIVEX_DIALOG, [](CScriptedWindow& w) {
            EXPECT_TRUE(w.IsEnabled());
            w.Click(IDOK);
        });
        EXPECT_EQ(mainDialog.DoModal(), IDOK);
    }
    // The main window object is gone: the application no longer names it.
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
}

TEST(Dialog, ModelessDialogIsCreatedHiddenShownAndDestroyedWithItsObject) {
    CScriptedWindowSystem system;
    auto notice = std::make_unique<CDialog>(IDD_WAIT_DIALOG);
    EXPECT_TRUE(notice->CreateModeless(IDD_WAIT_DIALOG, nullptr));
    CScriptedWindow* window = system.FindWindow(IDD_WAIT_DIALOG);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->IsVisible()); // its template is not visible when created
    notice->SetDlgItemText(IDC_WAIT_TEXT, "Line one\r\n Line two");
    EXPECT_EQ(window->Text(IDC_WAIT_TEXT), "Line one\r\n Line two");
    CString text;
    EXPECT_EQ(notice->GetDlgItemText(IDC_WAIT_TEXT, text), 19);
    EXPECT_EQ(notice->GetSystemMenu(FALSE), nullptr); // the notice has no system menu
    notice->ShowWindow(SW_SHOWNORMAL);
    EXPECT_TRUE(window->IsVisible());
    notice->ShowWindow(SW_HIDE);
    EXPECT_FALSE(window->IsVisible());
    notice.reset();
    EXPECT_TRUE(system.Windows().empty());
    EXPECT_EQ(system.EventLog(),
              (std::vector<std::string>{"Create(104)", "Show(104,1)", "Show(104,0)", "Destroy(104)"}));

    // A template that does not exist: no window, and the operations on the object do nothing.
    CDialog missing(999);
    EXPECT_FALSE(missing.CreateModeless(999, nullptr));
    missing.SetDlgItemText(IDC_WAIT_TEXT, "x");
    EXPECT_FALSE(missing.ShowWindow(SW_SHOWNORMAL));
    EXPECT_EQ(missing.GetDlgItemText(IDC_WAIT_TEXT, text), 0);
    EXPECT_TRUE(text.empty());
}

TEST(Dialog, WaitCursorEndsAlsoWhenAFailureLeavesTheBlock) {
    CScriptedWindowSystem system;
    try {
        CWaitCursor outer;
        {
            CWaitCursor inner;
            EXPECT_EQ(system.WaitCursorDepth(), 2);
        }
        EXPECT_EQ(system.WaitCursorDepth(), 1);
        throw std::runtime_error("engine failure");
    } catch (const std::runtime_error&) {
        EXPECT_EQ(system.WaitCursorDepth(), 0);
    }
    EXPECT_EQ(system.EventLog(),
              (std::vector<std::string>{"BeginWaitCursor", "BeginWaitCursor", "EndWaitCursor", "EndWaitCursor"}));
}

} // namespace
