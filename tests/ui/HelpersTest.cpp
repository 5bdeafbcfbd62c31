#include <stdexcept>

#include <gtest/gtest.h>

#include "DecimalText.h"
#include "MovieIdArray.h"
#include "ScriptedWindowSystem.h"
#include "WaitDialog.h"
#include "resource.h"

namespace {

TEST(DecimalText, ReadsLikePlainDecimalAndSaturates) {
    EXPECT_EQ(ParseDecimalText(""), 0);
    EXPECT_EQ(ParseDecimalText("abc"), 0);
    EXPECT_EQ(ParseDecimalText("12abc"), 12);
    EXPECT_EQ(ParseDecimalText(" \t\n-42x"), -42);
    EXPECT_EQ(ParseDecimalText("+7"), 7);
    EXPECT_EQ(ParseDecimalText("- 7"), 0);
    EXPECT_EQ(ParseDecimalText("0005"), 5);
    EXPECT_EQ(ParseDecimalText("2147483647"), 2147483647);
    EXPECT_EQ(ParseDecimalText("2147483648"), 2147483647);
    EXPECT_EQ(ParseDecimalText("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimalText("-2147483649"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimalText("99999999999999999999999999999999"), 2147483647);
    EXPECT_EQ(ParseDecimalText("-99999999999999999999999999999999"), -2147483647 - 1);
}

TEST(MovieIdArray, GrowsWithZerosAndChecksEveryAccess) {
    MovieIdArray ids;
    EXPECT_EQ(ids.GetSize(), 0);
    EXPECT_THROW(ids.GetAt(0), std::out_of_range);
    ids.SetSize(3);
    ids.SetAt(1, -7);
    EXPECT_EQ(ids.GetAt(0), 0);
    EXPECT_EQ(ids.GetAt(1), -7);
    EXPECT_THROW(ids.GetAt(-1), std::out_of_range);
    EXPECT_THROW(ids.SetAt(3, 1), std::out_of_range);
    ids.SetSize(-2);
    EXPECT_EQ(ids.GetSize(), 0);
}

TEST(WaitDialog, ShowsItsTextFromCreationAndSurvivesAFailedCreate) {
    CScriptedWindowSystem windows;
    AfxSetWindowSystem(&windows);
    {
        CWaitDialog notice(CString("Orrabel initializing\r\n Please Wait."));
        EXPECT_TRUE(notice.Create(IDD_WAIT_DIALOG, nullptr));
        CScriptedWindow* window = windows.FindWindow(IDD_WAIT_DIALOG);
        ASSERT_NE(window, nullptr);
        EXPECT_FALSE(window->IsVisible());
        EXPECT_EQ(window->Text(IDC_WAIT_TEXT), "Orrabel initializing\r\n Please Wait.");

        CWaitDialog empty(static_cast<CWnd*>(nullptr));
        EXPECT_TRUE(empty.Create(IDD_WAIT_DIALOG, nullptr));
        EXPECT_EQ(windows.Windows().back()->Text(IDC_WAIT_TEXT), "");

        // No such template: creation fails, nothing is attached, and the text is not set anywhere.
        CWaitDialog broken(CString("text"));
        EXPECT_FALSE(broken.Create(9999, nullptr));
        EXPECT_EQ(broken.GetSafeHwnd(), nullptr);
    }
    EXPECT_TRUE(windows.Windows().empty());
    AfxSetWindowSystem(nullptr);
}

} // namespace
