#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AfxTypes.h"
#include "CmdTarget.h"
#include "Dialog.h"
#include "MessageMap.h"
#include "ScriptedWindowSystem.h"
#include "TestDialogs.h"
#include "WinApp.h"
#include "resource.h"

namespace {

// A command target with a two-level map: the derived map is looked at before the base map.
class CBaseTarget : public CCmdTarget {
public:
    std::vector<std::string> calls;
    void OnBaseOnly() { calls.push_back("base-only"); }
    void OnShared() { calls.push_back("base-shared"); }
    DECLARE_MESSAGE_MAP()
};

class CDerivedTarget : public CBaseTarget {
public:
    void OnShared() { calls.push_back("derived-shared"); }
    void OnFirst() { calls.push_back("first"); }
    void OnSecond() { calls.push_back("second"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseTarget, CCmdTarget)
ON_BN_CLICKED(10, OnBaseOnly)
ON_BN_CLICKED(11, OnShared)
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CDerivedTarget, CBaseTarget)
ON_BN_CLICKED(11, OnShared)
ON_EN_CHANGE(12, OnFirst)
ON_EN_CHANGE(12, OnSecond)
END_MESSAGE_MAP()

TEST(CommandMap, WalksTheClassMapThenItsBaseMapsAndRunsOnlyTheFirstMatch) {
    CDerivedTarget target;
    EXPECT_TRUE(target.OnCmdMsg(BN_CLICKED, 11));
    EXPECT_TRUE(target.OnCmdMsg(BN_CLICKED, 10));
    EXPECT_TRUE(target.OnCmdMsg(EN_CHANGE, 12));
    // The code is part of the key: a click on 12 or a text change on 10 matches nothing.
    EXPECT_FALSE(target.OnCmdMsg(BN_CLICKED, 12));
    EXPECT_FALSE(target.OnCmdMsg(EN_CHANGE, 10));
    EXPECT_EQ(target.calls, (std::vector<std::string>{"derived-shared", "base-only", "first"}));

    CCmdTarget root;
    EXPECT_FALSE(root.OnCmdMsg(BN_CLICKED, IDOK));
}

TEST(CommandMap, ApplicationMapTakesTheHelpCommand) {
    CWinApp app;
    EXPECT_EQ(AfxGetApp(), &app);
    EXPECT_TRUE(app.OnCmdMsg(BN_CLICKED, ID_HELP));
    EXPECT_FALSE(app.OnCmdMsg(BN_CLICKED, 4242));
    EXPECT_EQ(AfxWinMain(), 0);
}

TEST(CommandMap, DialogSendsUnmatchedCommandsToOkCancelThenToTheApplication) {
    CScriptedWindowSystem system;
    CRecordingApp app;
    CMainTemplateDialog dialog;
    system.ExpectModal(IDD_TOLLIVEX_DIALOG, [&](CScriptedWindow& w) {
        w.Click(IDC_LOGIN);                 // the dialog's own map
        w.SendCommand(BN_CLICKED, ID_HELP); // on to the application, whose map has Help
        w.SendCommand(BN_CLICKED, 4243);    // on to the application's own entry
        w.SendCommand(BN_CLICKED, 4242);    // nobody's: goes through and nothing happens
        w.SendCommand(EN_CHANGE, IDOK);     // IDOK with another code is not the OK action
        EXPECT_FALSE(w.IsEnded());
        w.SendCommand(BN_CLICKED, IDCANCEL);
        EXPECT_TRUE(w.IsEnded());
        EXPECT_EQ(w.Result(), IDCANCEL);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"OnLogin", "OnCancel"}));
    ASSERT_EQ(app.commands.size(), 4u);
    EXPECT_EQ(app.commands[0].id, static_cast<int>(ID_HELP));
    EXPECT_TRUE(app.commands[0].handled);
    EXPECT_EQ(app.commands[1].id, 4243);
    EXPECT_TRUE(app.commands[1].handled);
    EXPECT_EQ(app.ownCommands, 1);
    EXPECT_EQ(app.commands[2].id, 4242);
    EXPECT_FALSE(app.commands[2].handled);
    EXPECT_EQ(app.commands[3].code, EN_CHANGE);

    system.ExpectModal(IDD_TOLLIVEX_DIALOG, [](CScriptedWindow& w) { w.SendCommand(BN_CLICKED, IDOK); });
    dialog.calls.clear();
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"OnOK"}));
}

TEST(CommandMap, WindowMessagesMatchByMessageAloneElseTheToolkitDefault) {
    CScriptedWindowSystem system;
    CMainTemplateDialog dialog;
    system.ExpectModal(IDD_TOLLIVEX_DIALOG, [&](CScriptedWindow& w) {
        w.SysCommand(SC_MOVE, 7);
        w.Paint(); // no paint entry: default painting
        EXPECT_EQ(dialog.SendMessage(WM_QUERYDRAGICON), 0);
        // A command packed the classic way arrives like a notification.
        dialog.SendMessage(WM_COMMAND, (static_cast<WPARAM>(EN_CHANGE) << 16) | IDC_SEARCH_TEXT);
        EXPECT_FALSE(w.IsEnded());
        w.SysCommand(SC_CLOSE); // the close box: base handling, which is the Cancel command
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.calls,
              (std::vector<std::string>{"OnSysCommand(61456)", "OnSearchChange", "OnSysCommand(61536)", "OnCancel"}));
    EXPECT_EQ(system.EventLog(),
              (std::vector<std::string>{"Modal(102)", "DefWindowProc(274,61456)", "DefWindowProc(15,0)",
                                        "DefWindowProc(55,0)", "DefWindowProc(274,61536)", "EndModal(102,2)"}));
}

} // namespace
