#include <gtest/gtest.h>

#include "MainWindowHarness.h"

namespace {

TEST(Startup, RunsEverySetUpStepInOrderBeforeTheWindowShows) {
    MainWindowHarness h;
    h.SetTitles({"Zebra", "Apple"});
    h.engine->users[{"guest", "pw"}] = 3;

    bool visibleWhenRunning = false;
    const INT_PTR result = h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        visibleWhenRunning = main.IsVisible();
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName: guest, UserID: 3");
        EXPECT_EQ(main.Items(IDC_MOVIE_LIST), (std::vector<std::string>{"Zebra", "Apple"}));
        EXPECT_EQ(main.Control(IDC_EXACT_PREDICTIONS).check, 0);
        EXPECT_EQ(main.Icon(true), main.Icon(false));
        EXPECT_NE(main.Icon(true), nullptr);
    });

    EXPECT_TRUE(visibleWhenRunning);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(h.engine->Calls(),
              (std::vector<std::string>{"Init(MovieData\\files.txt)", "InitMatrices()", "GetNumberOfMovies()",
                                        "GetMovieDetails(1)", "GetMovieDetails(2)", "GetUserID(guest,pw)",
                                        "SetCurrentUser(3)"}));
    // The notice is up around the engine work and gone before the login dialog opens.
    EXPECT_TRUE(InOrder(h.log, {"Create(104)", "Show(104,1)", "Init(MovieData\\files.txt)", "InitMatrices()",
                                "GetMovieDetails(2)", "Redraw(1016)", "Show(104,0)", "Destroy(104)", "Modal(105)",
                                "GetUserID(guest,pw)", "BeginWaitCursor", "SetCurrentUser(3)", "EndWaitCursor"}));
    EXPECT_TRUE(h.windows.MessageBoxes().empty());
    EXPECT_EQ(h.windows.PendingModalSteps(), 0u);
}

TEST(Startup, EngineFailureInInitShowsOneBoxAndEndsWithStatusOne) {
    MainWindowHarness h;
    h.engine->ThrowAt("Init", 1, CMException("Data error", "Cannot open MovieData\\files.txt"));
    bool noticeVisibleUnderBox = false;
    h.windows.OnNextMessageBox([&] {
        CScriptedWindow* notice = h.windows.FindWindow(IDD_WAIT_DIALOG);
        noticeVisibleUnderBox = notice != nullptr && notice->IsVisible();
    });
    h.windows.ExpectModal(IDD_TOLLIVEX_DIALOG, [](CScriptedWindow&) { ADD_FAILURE() << "main window ran"; });
    h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Cancel());

    int status = -1;
    try {
        h.dlg->DoModal();
    } catch (const CScriptedProcessExit& exit) {
        status = exit.status;
    }
    EXPECT_EQ(status, 1);
    ASSERT_EQ(h.windows.MessageBoxes().size(), 1u);
    EXPECT_EQ(h.windows.MessageBoxes()[0].owner, nullptr);
    EXPECT_EQ(h.windows.MessageBoxes()[0].caption, "Data error");
    EXPECT_EQ(h.windows.MessageBoxes()[0].text, "Cannot open MovieData\\files.txt");
    EXPECT_TRUE(noticeVisibleUnderBox);
    EXPECT_FALSE(Contains(h.log, "Modal(105)"));
    EXPECT_FALSE(Contains(h.engine->Calls(), "InitMatrices()"));
    // The main window's run had begun; the login dialog's never did.
    EXPECT_EQ(h.windows.PendingModalSteps(), 1u);
}

TEST(Startup, OtherFailureEndsWithStatusOneAndSaysSoOnStandardError) {
    MainWindowHarness h;
    h.engine->ThrowOtherAt("InitMatrices", 1);
    h.windows.ExpectModal(IDD_TOLLIVEX_DIALOG, [](CScriptedWindow&) { ADD_FAILURE() << "main window ran"; });
    h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Cancel());

    ::testing::internal::CaptureStderr();
    int status = -1;
    try {
        h.dlg->DoModal();
    } catch (const CScriptedProcessExit& exit) {
        status = exit.status;
    }
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_NE(errors.find("Unknown internal error"), std::string::npos);
    EXPECT_TRUE(h.windows.MessageBoxes().empty());
    // The main window's run had begun; the login dialog's never did.
    EXPECT_EQ(h.windows.PendingModalSteps(), 1u);
}

TEST(Startup, FailuresInTheListFillOrTheLoginDoNotEndStartUp) {
    {
        MainWindowHarness h;
        h.SetTitles({"One", "Two", "Three", "Four", "Five"});
        h.engine->ThrowAt("GetMovieDetails", 3, CMException("Catalogue", "bad line"));
        bool ran = false;
        h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
            ran = true;
            EXPECT_TRUE(main.IsVisible());
            EXPECT_EQ(main.Items(IDC_MOVIE_LIST), (std::vector<std::string>{"One", "Two"}));
            EXPECT_EQ(main.Control(IDC_MOVIE_LIST).redraws, 0);
            EXPECT_EQ(main.Text(IDC_CURRENT_USER), "");
        });
        EXPECT_TRUE(ran);
        ASSERT_EQ(h.windows.MessageBoxes().size(), 1u);
        EXPECT_EQ(h.windows.MessageBoxes()[0].text, "bad line");
        EXPECT_TRUE(
            InOrder(h.log, {"GetMovieDetails(3)", "MessageBox(Catalogue|bad line)", "Destroy(104)", "Modal(105)"}));
        const MovieIdArray& ids = h.dlg->GetMovieIds();
        ASSERT_EQ(ids.GetSize(), 7);
        EXPECT_EQ(ids.GetAt(0), 101);
        EXPECT_EQ(ids.GetAt(1), 102);
        for (int p = 2; p < 7; ++p) {
            EXPECT_EQ(ids.GetAt(p), 0);
        }
    }
    {
        MainWindowHarness h;
        h.SetTitles({"One"});
        h.engine->ThrowOtherAt("GetMovieDetails", 1);
        h.Run(MainWindowHarness::Cancel(),
              [](CScriptedWindow& main) { EXPECT_EQ(main.Text(IDC_RESULTS), "Unknown internal error"); });
        EXPECT_TRUE(h.windows.MessageBoxes().empty());
    }
    {
        MainWindowHarness h;
        h.engine->ThrowAt("GetUserID", 1, CMException("Accounts", "store locked"));
        bool ran = false;
        h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
            ran = true;
            EXPECT_EQ(main.Text(IDC_CURRENT_USER), "");
        });
        EXPECT_TRUE(ran);
        EXPECT_EQ(h.windows.MessageBoxes().size(), 1u);
    }
}

TEST(Startup, EscapeAndTheCloseBoxEndTheWindowAsCancel) {
    MainWindowHarness h;
    EXPECT_EQ(h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) { main.PressEscape(); }), IDCANCEL);

    MainWindowHarness h2;
    EXPECT_EQ(h2.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) { main.SysCommand(SC_CLOSE); }), IDCANCEL);
}

TEST(Startup, CloseProgramSavesTheExactPredictionsMark) {
    MainWindowHarness h;
    h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
        main.Click(IDC_EXACT_PREDICTIONS);
        // A command no entry takes goes to the base handling and changes nothing.
        main.SendCommand(BN_CLICKED, 4242);
        EXPECT_FALSE(main.IsEnded());
    });
    EXPECT_EQ(h.dlg->GetExactPredictions(), 1);
}

} // namespace
