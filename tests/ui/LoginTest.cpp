#include <gtest/gtest.h>

#include "LoginDialog.h"
#include "MainWindowHarness.h"

namespace {

struct LoginOutcome {
    INT_PTR result;
    std::string userName, password, errorText;
    bool newUser;
};

LoginOutcome RunLoginDialog(const CScriptedWindowSystem::ModalStep& step) {
    CScriptedWindowSystem windows;
    AfxSetWindowSystem(&windows);
    CLoginDialog login;
    windows.ExpectModal(IDD_LOGIN_DIALOG, step);
    const INT_PTR result = login.DoModal();
    AfxSetWindowSystem(nullptr);
    return {result, login.m_userName, login.m_password, login.m_errorText, login.m_newUser};
}

TEST(LoginDialog, ReportsTheMissingFieldAndHowItWasClosed) {
    LoginOutcome o = RunLoginDialog(MainWindowHarness::Login("", ""));
    EXPECT_EQ(o.result, IDOK);
    EXPECT_EQ(o.errorText, "Password not given");
    EXPECT_FALSE(o.newUser);

    o = RunLoginDialog(MainWindowHarness::Login("", "", true));
    EXPECT_EQ(o.result, IDOK);
    EXPECT_EQ(o.errorText, "Password not given");
    EXPECT_TRUE(o.newUser);

    o = RunLoginDialog(MainWindowHarness::Login("", "secret"));
    EXPECT_EQ(o.errorText, "User name not given");
    o = RunLoginDialog(MainWindowHarness::Login("ann", ""));
    EXPECT_EQ(o.errorText, "Password not given");

    o = RunLoginDialog(MainWindowHarness::Login("   ", " pw "));
    EXPECT_EQ(o.errorText, "");
    EXPECT_EQ(o.userName, "   ");
    EXPECT_EQ(o.password, " pw ");

    o = RunLoginDialog([](CScriptedWindow& login) {
        login.Type(IDC_LOGIN_USER_NAME, "ann");
        login.Type(IDC_LOGIN_PASSWORD, "pw");
        login.PressEscape();
    });
    EXPECT_EQ(o.result, IDCANCEL);
    EXPECT_EQ(o.userName, "");
    EXPECT_EQ(o.password, "");
    EXPECT_EQ(o.errorText, "");
    EXPECT_FALSE(o.newUser);

    o = RunLoginDialog([](CScriptedWindow& login) {
        login.Type(IDC_LOGIN_USER_NAME, "ann");
        login.Type(IDC_LOGIN_PASSWORD, "pw");
        login.SetFocus(IDC_LOGIN_PASSWORD);
        login.PressEnter();
    });
    EXPECT_EQ(o.result, IDOK);
    EXPECT_EQ(o.userName, "ann");
    EXPECT_FALSE(o.newUser);
}

TEST(Login, RefusalsChangeNothingAndAcceptedIdsAreShown) {
    MainWindowHarness h;
    h.engine->users[{"guest", "pw"}] = 3;
    h.engine->users[{"zero", "pw"}] = 0;
    h.engine->users[{" blank ", "pw"}] = 9;
    h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        ASSERT_EQ(main.Text(IDC_CURRENT_USER), "UserName: guest, UserID: 3");

        // A missing field is reported and the engine is not asked.
        std::size_t calls = h.engine->Calls().size();
        h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Login("", ""));
        main.Click(IDC_LOGIN);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Password not given");
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName: guest, UserID: 3");
        h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Login("", "pw", true));
        main.Click(IDC_LOGIN);
        EXPECT_EQ(main.Text(IDC_RESULTS), "User name not given");
        EXPECT_TRUE(h.CallsSince(calls).empty());

        // Wrong password and a refused registration: silent, nothing changes.
        h.engine->insertUserAnswer = NO_USER;
        calls = h.engine->Calls().size();
        h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Login("guest", "bad"));
        main.Click(IDC_LOGIN);
        h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Login("guest", "pw", true));
        main.Click(IDC_LOGIN);
        EXPECT_EQ(h.CallsSince(calls), (std::vector<std::string>{"GetUserID(guest,bad)", "InsertUser(guest,pw)"}));
        EXPECT_EQ(main.Text(IDC_RESULTS), "User name not given");
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName: guest, UserID: 3");
        EXPECT_EQ(h.engine->currentUser, 3);

        // Cancel changes nothing either.
        h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Cancel());
        main.Click(IDC_LOGIN);
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName: guest, UserID: 3");

        // 0 and -2 are user ids like any other; the name is shown as typed.
        h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Login("zero", "pw"));
        main.Click(IDC_LOGIN);
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName: zero, UserID: 0");
        h.engine->insertUserAnswer = -2;
        h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Login("neg", "pw", true));
        main.Click(IDC_LOGIN);
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName: neg, UserID: -2");
        EXPECT_EQ(h.engine->currentUser, -2);
        h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Login(" blank ", "pw"));
        main.Click(IDC_LOGIN);
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "UserName:  blank , UserID: 9");
        // The earlier message stays after successful logins.
        EXPECT_EQ(main.Text(IDC_RESULTS), "User name not given");
    });
    // The wait cursor covers setting the current user only.
    EXPECT_TRUE(
        InOrder(h.log, {"Modal(105)", "GetUserID(guest,pw)", "BeginWaitCursor", "SetCurrentUser(3)", "EndWaitCursor"}));
}

TEST(Login, UserIdFieldSetsTheCurrentUserFromItsDecimalValue) {
    MainWindowHarness h;
    h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
        std::size_t mark = h.log.size();
        main.Paste(IDC_USER_ID, "12abc");
        EXPECT_EQ(h.Since(mark), (std::vector<std::string>{"BeginWaitCursor", "SetCurrentUser(12)", "EndWaitCursor"}));
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "12abc");

        main.Paste(IDC_USER_ID, "");
        EXPECT_EQ(h.engine->currentUser, 0);
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "");

        main.Paste(IDC_USER_ID, "-1");
        EXPECT_EQ(h.engine->currentUser, -1);
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "-1");

        main.Paste(IDC_USER_ID, "  99999999999");
        EXPECT_EQ(h.engine->currentUser, 2147483647);

        // An engine failure here is reported like anywhere else and the window goes on.
        h.engine->ThrowAt("SetCurrentUser", 5, CMException("Accounts", "no such user"));
        main.Paste(IDC_USER_ID, "7");
        EXPECT_EQ(h.windows.MessageBoxes().size(), 1u);
        EXPECT_EQ(h.windows.WaitCursorDepth(), 0);
        EXPECT_EQ(main.Text(IDC_CURRENT_USER), "  99999999999");
        EXPECT_FALSE(main.IsEnded());
    });
}

} // namespace
