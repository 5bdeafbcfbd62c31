#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "MainWindowHarness.h"
#include "MovieIdArray.h"
#include "MovieTable.h"
#include "ScriptedWindowSystem.h"
#include "resource.h"

namespace {

TEST(Startup, RunsEverySetUpStepInOrderBeforeTheWindowShows) {
    MainWindowHarness h;
    h.SetTitles({"Zebra", "Apple"});
    h.engine->users[{"guest", "pw"}] = 3;
    bool visible = false;
    h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        visible = main.IsVisible();
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName: guest, UserID: 3");
        EXPECT_EQ(main.Items(IDC_MOVIE_LIST), (Log{"Zebra", "Apple"}));
        EXPECT_NE(main.Icon(true), nullptr);
        EXPECT_EQ(main.Icon(true), main.Icon(false));
    });
    EXPECT_TRUE(visible);
    // Loading, then training, then the list, then the login.
    EXPECT_TRUE(InOrder(h.engine->Calls(), {"Init(MovieData\\files.txt)", "InitMatrices()", "GetMovieDetails(2)",
                                            "GetUserID(guest,pw)", "SetCurrentUser(3)"}));
    // The notice is up around the engine work and gone before the login dialog opens.
    EXPECT_TRUE(InOrder(h.log, {"Create(104)", "Show(104,1)", "Init(MovieData\\files.txt)", "GetMovieDetails(2)",
                                "Redraw(1016)", "Show(104,0)", "Destroy(104)", "Modal(105)", "GetUserID(guest,pw)",
                                "BeginWaitCursor", "SetCurrentUser(3)", "EndWaitCursor"}));
    EXPECT_TRUE(h.windows.MessageBoxes().empty());
}

// From a second after the start, the notice says below its text what the engine reports; before, the text stays as
// it is. The notice's events run at every report either way.
TEST(Startup, TheNoticeShowsTheEnginesProgressOnlyInALongStart) {
    const struct {
        int msSinceStart;
        StartProgress progress;
        const char* shown;
    } cases[] = {
        {999, {"Reading ratings", 42, 100}, "Orrabel initializing\r\n Please Wait."},
        {1000, {"Reading ratings", 42, 100}, "Orrabel initializing\r\n Please Wait.\r\nReading ratings 42%"},
        {1000, {"Reading ratings", 100, 100}, "Orrabel initializing\r\n Please Wait.\r\nReading ratings 100%"},
        {5000, {"Training", 3, 20}, "Orrabel initializing\r\n Please Wait.\r\nTraining step 3 of 20"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        MainWindowHarness h;
        const std::chrono::steady_clock::time_point start;
        int reads = 0;
        h.dlg->SetStartClock([&] { return reads++ == 0 ? start : start + std::chrono::milliseconds(c.msSinceStart); });
        std::string shown;
        h.engine->duringInit = [&](const StartProgressCallback& report) {
            report(c.progress);
            shown = h.windows.FindWindow(IDD_WAIT_DIALOG)->Text(IDC_WAIT_TEXT);
        };
        h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow&) {});
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(h.windows.PendingEventRuns(), 1);
    }
}

// Runs a start-up that is expected to end the process; returns its status.
int RunFailingStartup(MainWindowHarness& h) {
    h.windows.ExpectModal(IDD_TOLLIVEX_DIALOG, [](CScriptedWindow&) { ADD_FAILURE() << "main window ran"; });
    h.windows.ExpectModal(IDD_LOGIN_DIALOG, [](CScriptedWindow&) { ADD_FAILURE() << "login ran"; });
    try {
        h.dlg->DoModal();
    } catch (const CScriptedProcessExit& exit) {
        return exit.status;
    }
    return -1;
}

TEST(Startup, AFailureBeforeTheListEndsTheProcessWithStatusOne) {
    MainWindowHarness h;
    h.engine->ThrowAt("Init", 1, CMException("Data error", "Cannot open"));
    bool noticeUnderBox = false;
    h.windows.OnNextMessageBox([&] {
        CScriptedWindow* notice = h.windows.FindWindow(IDD_WAIT_DIALOG);
        noticeUnderBox = notice != nullptr && notice->IsVisible();
    });
    EXPECT_EQ(RunFailingStartup(h), 1);
    ASSERT_EQ(h.windows.MessageBoxes().size(), 1u);
    EXPECT_EQ(h.windows.MessageBoxes()[0].owner, nullptr);
    EXPECT_EQ(h.windows.MessageBoxes()[0].caption, "Data error");
    EXPECT_EQ(h.windows.MessageBoxes()[0].text, "Cannot open");
    EXPECT_TRUE(noticeUnderBox);
    EXPECT_FALSE(Contains(h.log, "Modal(105)"));
    EXPECT_FALSE(Contains(h.log, "InitMatrices()"));

    // Not an engine failure: no box, but a line on standard error.
    MainWindowHarness other;
    other.engine->ThrowOtherAt("InitMatrices", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunFailingStartup(other), 1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("Unknown internal error"), std::string::npos);
    EXPECT_TRUE(other.windows.MessageBoxes().empty());
    EXPECT_FALSE(Contains(other.log, "Modal(105)"));

    // Loading the data is where memory runs out: whatever leaves Init is an engine error naming the manifest.
    MainWindowHarness loading;
    loading.engine->ThrowOtherAt("Init", 1);
    EXPECT_EQ(RunFailingStartup(loading), 1);
    ASSERT_EQ(loading.windows.MessageBoxes().size(), 1u);
    EXPECT_EQ(loading.windows.MessageBoxes()[0].caption, "Quillory data error");
    EXPECT_EQ(loading.windows.MessageBoxes()[0].text,
              "Loading the data named by MovieData\\files.txt failed: scripted failure in Init");
}

TEST(Startup, FailuresInTheListFillOrTheLoginDoNotEndStartUp) {
    MainWindowHarness h;
    h.SetTitles({"One", "Two", "Three", "Four", "Five"});
    h.engine->ThrowAt("GetMovieDetails", 3, CMException("Catalogue", "bad line"));
    h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
        EXPECT_EQ(main.Items(IDC_MOVIE_LIST), (Log{"One", "Two"}));
        EXPECT_EQ(main.Control(IDC_MOVIE_LIST).redraws, 0);
    });
    EXPECT_EQ(h.windows.MessageBoxes().size(), 1u);
    EXPECT_TRUE(InOrder(h.log, {"MessageBox(Catalogue|bad line)", "Destroy(104)", "Modal(105)"}));
    const MovieIdArray& ids = h.dlg->GetMovieIds();
    ASSERT_EQ(ids.GetSize(), 7);
    EXPECT_EQ(ids.GetAt(1), 102);
    EXPECT_EQ(ids.GetAt(2), 0);

    MainWindowHarness other;
    other.SetTitles({"One"});
    other.engine->ThrowOtherAt("GetMovieDetails", 1);
    other.Run(MainWindowHarness::Cancel(),
              [](CScriptedWindow& main) { EXPECT_EQ(main.Text(IDC_RESULTS), "Unknown internal error"); });

    MainWindowHarness login;
    login.engine->ThrowAt("GetUserID", 1, CMException("Accounts", "store locked"));
    bool ran = false;
    login.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        ran = true;
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "");
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(login.windows.MessageBoxes().size(), 1u);
}

} // namespace
