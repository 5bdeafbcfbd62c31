#include <gtest/gtest.h>

#include "CString.h"
#include "DecimalText.h"
#include "ScriptedWindowSystem.h"
#include "WaitDialog.h"
#include "resource.h"

namespace {

TEST(DecimalText, ReadsLikePlainDecimalAndSaturates) {
    EXPECT_EQ(ParseDecimalText(""), 0);
    EXPECT_EQ(ParseDecimalText("- 7"), 0);
    EXPECT_EQ(ParseDecimalText(" \t\n-42x"), -42);
    EXPECT_EQ(ParseDecimalText("+0005"), 5);
    EXPECT_EQ(ParseDecimalText("2147483647"), 2147483647);
    EXPECT_EQ(ParseDecimalText("2147483648"), 2147483647);
    EXPECT_EQ(ParseDecimalText("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimalText("-2147483649"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimalText("99999999999999999999999999999999"), 2147483647);
}

TEST(WaitDialog, ShowsItsTextFromCreationAndSurvivesAFailedCreate) {
    CScriptedWindowSystem windows;
    {
        CWaitDialog notice(CString("Orrabel initializing\r\n Please Wait."));
        EXPECT_TRUE(notice.Create(IDD_WAIT_DIALOG, nullptr));
        CScriptedWindow* window = windows.FindWindow(IDD_WAIT_DIALOG);
        ASSERT_NE(window, nullptr);
        EXPECT_FALSE(window->IsVisible());
        EXPECT_EQ(window->Text(IDC_WAIT_TEXT), "Orrabel initializing\r\n Please Wait.");
        // No such template: creation fails and nothing is attached.
        CWaitDialog broken(CString("text"));
        EXPECT_FALSE(broken.Create(9999, nullptr));
        EXPECT_EQ(broken.GetSafeHwnd(), nullptr);
    }
    EXPECT_TRUE(windows.Windows().empty());
}

} // namespace
