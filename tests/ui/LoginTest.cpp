#include <gtest/gtest.h>

#include "MainWindowHarness.h"
#include "MovieTable.h"
#include "ScriptedWindowSystem.h"
#include "resource.h"

namespace {

TEST(Login, RefusalsChangeNothingAndAcceptedIdsAreShown) {
    MainWindowHarness h;
    h.engine->users[{"guest", "pw"}] = 3;
    h.engine->users[{" zero ", "pw"}] = 0;
    h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        const auto login = [&](const CScriptedWindowSystem::ModalStep& step) {
            h.windows.ExpectModal(IDD_LOGIN_DIALOG, step);
            main.Click(IDC_LOGIN);
        };
        std::size_t calls = h.engine->Calls().size();
        login(MainWindowHarness::Login("", ""));
        EXPECT_EQ(main.Text(IDC_RESULTS), "Password not given");
        login(MainWindowHarness::Login("", "pw", true));
        EXPECT_EQ(main.Text(IDC_RESULTS), "User name not given");
        EXPECT_TRUE(h.CallsSince(calls).empty());

        // A wrong password, a refused registration and Cancel: silent, nothing changes.
        h.engine->insertUserAnswer = NO_USER;
        calls = h.engine->Calls().size();
        login(MainWindowHarness::Login("guest", "bad"));
        login(MainWindowHarness::Login("guest", "pw", true));
        login(MainWindowHarness::Cancel());
        EXPECT_EQ(h.CallsSince(calls), (Log{"GetUserID(guest,bad)", "InsertUser(guest,pw)"}));
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName: guest, UserID: 3");
        EXPECT_EQ(h.engine->currentUser, 3);

        // 0 and -2 are ids like any other; the name is shown as typed, blanks kept.
        login(MainWindowHarness::Login(" zero ", "pw"));
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName:  zero , UserID: 0");
        h.engine->insertUserAnswer = -2;
        // A registration goes on to the newcomer's picks.
        h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Login("neg", "pw", true));
        h.windows.ExpectModal(IDD_PICKS_DIALOG, [](CScriptedWindow& picks) { picks.PressEscape(); });
        main.Click(IDC_LOGIN);
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName: neg, UserID: -2");
        EXPECT_EQ(h.engine->currentUser, -2);
        EXPECT_EQ(main.Text(IDC_RESULTS), "User name not given");
    });
}

TEST(Login, UserIdFieldSetsTheCurrentUserFromItsDecimalValue) {
    MainWindowHarness h;
    h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
        const std::size_t mark = h.log.size();
        main.Paste(IDC_USER_ID, "12abc");
        EXPECT_EQ(h.Since(mark), (Log{"BeginWaitCursor", "SetCurrentUser(12)", "EndWaitCursor"}));
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "12abc");
        main.Paste(IDC_USER_ID, "");
        EXPECT_EQ(h.engine->currentUser, 0);
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "");
        main.Paste(IDC_USER_ID, "-1");
        EXPECT_EQ(h.engine->currentUser, -1);
        main.Paste(IDC_USER_ID, "99999999999");
        EXPECT_EQ(h.engine->currentUser, 2147483647);

        // An engine failure here is reported like anywhere else and the window goes on.
        h.engine->ThrowAt("SetCurrentUser", 5, CMException("Accounts", "no such user"));
        main.Paste(IDC_USER_ID, "7");
        EXPECT_EQ(h.windows.MessageBoxes().size(), 1u);
        EXPECT_EQ(h.windows.WaitCursorDepth(), 0);
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "99999999999");
    });
}

} // namespace
