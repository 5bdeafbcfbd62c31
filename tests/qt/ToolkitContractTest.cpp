// The behaviour the program's logic relies on, checked against both toolkits with the same cases.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AfxTypes.h"
#include "CString.h"
#include "QtDriver.h"
#include "RecordingDialog.h"
#include "ReportList.h"
#include "ScriptedDriver.h"
#include "ToolkitDriver.h"
#include "WindowSystem.h"
#include "resource.h"

namespace {

template <typename Driver> class ToolkitContract : public ::testing::Test {
protected:
    void SetUp() override { m_driver.Open(m_dialog); }

    CWindowSystem& System() { return m_driver.System(); }
    HWND Item(int id) { return m_dialog.GetDlgItem(id); }
    std::string Text(int id) {
        CString text;
        System().GetWindowText(Item(id), text);
        return text;
    }
    int Count(UINT code, int id) const {
        int count = 0;
        for (const auto& command : m_dialog.m_commands) {
            count += command == std::pair<UINT, int>(code, id) ? 1 : 0;
        }
        return count;
    }

    Driver m_driver; // before the dialog, so the dialog's window goes first
    CRecordingDialog m_dialog{IDD_TOLLIVEX_DIALOG};
};

using Toolkits = ::testing::Types<CQtDriver, CScriptedDriver>;
class ToolkitNames {
public:
    template <typename T> static std::string GetName(int) { return std::is_same_v<T, CQtDriver> ? "Qt" : "Scripted"; }
};
TYPED_TEST_SUITE(ToolkitContract, Toolkits, ToolkitNames);

TYPED_TEST(ToolkitContract, SelectByPrefixSearchesAfterTheStartThenWrapsRound) {
    HWND list = this->Item(IDC_MOVIE_LIST);
    for (const char* title : {"Harbor", "Meadow", "Harbor Lights"}) {
        this->System().ListInsertString(list, -1, title);
    }
    this->m_dialog.Clear();

    // After position 0 the first match is "Harbor Lights"; letters compare without regard to case.
    EXPECT_EQ(this->System().ListSelectString(list, 0, "hARBOR"), 2);
    EXPECT_EQ(this->System().ListGetCurSel(list), 2);
    // From the last item the search wraps round to the first.
    EXPECT_EQ(this->System().ListSelectString(list, 2, "Harbor"), 0);
    // The start position itself is examined last.
    EXPECT_EQ(this->System().ListSelectString(list, 1, "meadow"), 1);
    EXPECT_EQ(this->System().ListSelectString(list, -1, "Harbor L"), 2);
    // No match: -1, and the selection stays where it was.
    EXPECT_EQ(this->System().ListSelectString(list, 0, "Lights"), LB_ERR);
    EXPECT_EQ(this->System().ListGetCurSel(list), 2);
    // Selecting by prefix is the program's doing, not the user's: no selection-change notification.
    EXPECT_EQ(this->Count(LBN_SELCHANGE, IDC_MOVIE_LIST), 0);

    // A user's selection does notify.
    this->m_driver.SelectByUser(IDC_MOVIE_LIST, 1);
    EXPECT_EQ(this->System().ListGetCurSel(list), 1);
    EXPECT_EQ(this->Count(LBN_SELCHANGE, IDC_MOVIE_LIST), 1);
}

TYPED_TEST(ToolkitContract, InsertionAtAPositionIsNeverSorted) {
    HWND list = this->Item(IDC_MOVIE_LIST); // a list with the sorted style
    EXPECT_EQ(this->System().ListGetCurSel(list), LB_ERR);
    EXPECT_EQ(this->System().ListInsertString(list, -1, "Zulu"), 0);
    EXPECT_EQ(this->System().ListInsertString(list, -1, "Alpha"), 1);
    EXPECT_EQ(this->System().ListInsertString(list, 1, "Mike"), 1);
    EXPECT_EQ(this->System().ListInsertString(list, 0, "Echo"), 0);
    // The order is the order of the positions given: a search from the start meets them in that order.
    EXPECT_EQ(this->System().ListSelectString(list, -1, "E"), 0);
    EXPECT_EQ(this->System().ListSelectString(list, -1, "Z"), 1);
    EXPECT_EQ(this->System().ListSelectString(list, -1, "M"), 2);
    EXPECT_EQ(this->System().ListSelectString(list, -1, "A"), 3);
    EXPECT_EQ(this->System().ListGetCurSel(list), 3);
}

TYPED_TEST(ToolkitContract, FillInOneCallListsTheTextsAfterTheItemsThereAndSearchesAsInsertionsDo) {
    HWND list = this->Item(IDC_MOVIE_LIST);
    EXPECT_EQ(this->System().ListInsertString(list, -1, "Zulu"), 0);
    EXPECT_EQ(this->System().ListAddStrings(list, {"Mike", "alpha", "Alpha Centauri", "Echo"}), 5);
    EXPECT_EQ(this->System().ListAddStrings(list, {}), 5);
    EXPECT_EQ(this->System().ListInsertString(list, 2, "Kilo"), 2);
    // Rows: Zulu, Mike, Kilo, alpha, Alpha Centauri, Echo; filling is the program's doing and notifies nothing.
    EXPECT_EQ(this->Count(LBN_SELCHANGE, IDC_MOVIE_LIST), 0);

    struct Case {
        int startAfter;
        const char* prefix;
        int row; // LB_ERR: no match, the selection stays
    };
    const Case cases[] = {
        {-1, "Z", 0},          {0, "m", 1},
        {0, "KILO", 2},        {0, "Alpha", 3},
        {3, "alpha", 4},       {4, "ALPHA", 3},
        {0, "alpha c", 4},     {0, "Echo", 5},
        {5, "zU", 0},          {0, "Zulu", 0},
        {99, "a", 3},          {-7, "e", 5},
        {0, "Echoes", LB_ERR}, {2, "Alpha Centaurus", LB_ERR},
        {1, "lpha", LB_ERR},
    };
    int selected = LB_ERR;
    for (const Case& c : cases) {
        EXPECT_EQ(this->System().ListSelectString(list, c.startAfter, c.prefix), c.row) << c.prefix;
        selected = c.row != LB_ERR ? c.row : selected;
        EXPECT_EQ(this->System().ListGetCurSel(list), selected) << c.prefix;
    }
    EXPECT_EQ(this->Count(LBN_SELCHANGE, IDC_MOVIE_LIST), 0);
}

TYPED_TEST(ToolkitContract, EnterClicksTheDefaultButtonUnlessAnotherButtonHasFocus) {
    for (int field : {IDC_SEARCH_TEXT, IDC_RATING}) {
        this->m_dialog.Clear();
        this->m_driver.Focus(field);
        this->m_driver.PressEnter();
        EXPECT_EQ(this->m_dialog.m_commands, (std::vector<std::pair<UINT, int>>{{BN_CLICKED, IDC_GET_RATING}}))
            << "Enter in field " << field;
    }
    this->m_dialog.Clear();
    this->m_driver.Focus(IDC_LOGIN);
    this->m_driver.PressEnter();
    EXPECT_EQ(this->m_dialog.m_commands, (std::vector<std::pair<UINT, int>>{{BN_CLICKED, IDC_LOGIN}}));
}

TYPED_TEST(ToolkitContract, EscapeIsTheCancelCommand) {
    this->m_driver.Focus(IDC_SEARCH_TEXT);
    this->m_driver.PressEscape();
    EXPECT_EQ(this->m_dialog.m_commands, (std::vector<std::pair<UINT, int>>{{BN_CLICKED, IDCANCEL}}));
}

TYPED_TEST(ToolkitContract, DigitsOnlyFieldRefusesTypedLettersButKeepsPastedAndSetText) {
    this->m_driver.Type(IDC_RATING, "4a2");
    EXPECT_EQ(this->Text(IDC_RATING), "42");
    this->m_driver.Paste(IDC_RATING, "x7");
    EXPECT_EQ(this->Text(IDC_RATING), "x7");
    this->System().SetWindowText(this->Item(IDC_RATING), "abc");
    EXPECT_EQ(this->Text(IDC_RATING), "abc");
    // Any other edit takes letters.
    this->m_driver.Type(IDC_SEARCH_TEXT, "4a2");
    EXPECT_EQ(this->Text(IDC_SEARCH_TEXT), "4a2");

    // Setting a text reports a change like typing does, even when the text stays the same.
    this->m_dialog.Clear();
    this->System().SetWindowText(this->Item(IDC_SEARCH_TEXT), "4a2");
    EXPECT_EQ(this->Count(EN_CHANGE, IDC_SEARCH_TEXT), 1);
}

TYPED_TEST(ToolkitContract, OwnerlessMessageBoxLeavesTheWindowsWorking) {
    bool enabledWhileUp = false;
    const CToolkitDriver::SeenMessageBox seen =
        this->m_driver.MessageBoxWhile("Cannot open the file", "Orrabel Engine Error", [this, &enabledWhileUp] {
            enabledWhileUp = this->m_driver.IsEnabled();
            this->m_driver.Click(IDC_GET_RATING);
        });
    EXPECT_TRUE(enabledWhileUp);
    // The window's command ran while the box was still up.
    EXPECT_TRUE(this->m_dialog.Received(BN_CLICKED, IDC_GET_RATING));
    EXPECT_EQ(seen.text, "Cannot open the file");
    EXPECT_EQ(seen.caption, "Orrabel Engine Error");
    EXPECT_EQ(seen.result, IDOK);
}

TYPED_TEST(ToolkitContract, AGreyedMenuItemsShortcutDoesNothing) {
    HWND window = this->m_dialog.GetSafeHwnd();
    ASSERT_TRUE(this->System().SetMenu(window, IDR_MAIN_MENU));
    EXPECT_TRUE(this->System().EnableMenuItem(window, ID_MOVIES_TOP_PICKS, false));
    EXPECT_FALSE(this->System().EnableMenuItem(window, IDC_GET_RATING, false)); // not an item of the bar
    this->m_driver.Focus(IDC_SEARCH_TEXT);
    this->m_driver.PressKey("Ctrl+T");
    EXPECT_EQ(this->Count(BN_CLICKED, ID_MOVIES_TOP_PICKS), 0);
    EXPECT_TRUE(this->System().EnableMenuItem(window, ID_MOVIES_TOP_PICKS, true));
    this->m_driver.PressKey("Ctrl+T");
    EXPECT_EQ(this->Count(BN_CLICKED, ID_MOVIES_TOP_PICKS), 1);
}

// The report list of the movie lists' dialogs, and their keys.
template <typename Driver> class ReportContract : public ToolkitContract<Driver> {
protected:
    void SetUp() override {
        this->m_driver.Open(m_picks);
        List().SetColumns({{"Title", 60, ReportColumn::Kind::Text},
                           {"Year", 25, ReportColumn::Kind::Number, true, true},
                           {"Stars", 25, ReportColumn::Kind::Number, true}});
        List().SetRows({{11, 0, {"meadow", "1991", "4.5"}},
                        {12, 0, {"Harbor", "1990", ""}},
                        {13, 0, {"alpha", "2001", "3"}},
                        {14, 0, {"Zulu", "1990", "5"}},
                        {15, 1, {"Beta", "1985", "Not interested"}}});
    }
    void TearDown() override { m_list.Detach(); }
    CReportList& List() {
        if (m_list.GetSafeHwnd() == nullptr) {
            m_list.Attach(m_picks.GetDlgItem(IDC_CHOICE_LIST));
        }
        return m_list;
    }
    int PicksCount(UINT code, int id) const {
        int count = 0;
        for (const auto& command : m_picks.m_commands) {
            count += command == std::pair<UINT, int>(code, id) ? 1 : 0;
        }
        return count;
    }

    CRecordingDialog m_picks{IDD_PICKS_DIALOG};
    CReportList m_list;
};
TYPED_TEST_SUITE(ReportContract, Toolkits, ToolkitNames);

TYPED_TEST(ReportContract, HeadingClicksAndKeysSortWithinGroupsAndKeepTheSelectedRow) {
    EXPECT_EQ(this->List().GetKeys(), (std::vector<long>{11, 12, 13, 14, 15}));
    this->m_driver.SelectByUser(IDC_CHOICE_LIST, 2);
    EXPECT_EQ(this->List().GetSelection(), std::optional<long>(13));
    EXPECT_EQ(this->PicksCount(LBN_SELCHANGE, IDC_CHOICE_LIST), 1);

    struct Step {
        const char* action; // "header N" or keys
        ReportSort sort;
        std::vector<long> keys;
    };
    const Step steps[] = {
        // Letters without regard to case; the hidden row's group stays last in either direction.
        {"header 0", {0, false}, {13, 12, 11, 14, 15}},
        {"header 0", {0, true}, {14, 11, 12, 13, 15}},
        // Years start highest first; equal years keep the rows' own order.
        {"header 1", {1, true}, {13, 11, 12, 14, 15}},
        // By number, a cell without one first; the same key again turns the order round.
        {"Ctrl+3", {2, false}, {12, 13, 11, 14, 15}},
        {"Ctrl+3", {2, true}, {14, 11, 13, 12, 15}},
        {"Ctrl+0", {-1, false}, {11, 12, 13, 14, 15}},
        {"Ctrl+2", {1, true}, {13, 11, 12, 14, 15}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.action);
        const std::string action = step.action;
        if (action.rfind("header ", 0) == 0) {
            this->m_driver.ClickHeader(IDC_CHOICE_LIST, action.back() - '0');
        } else {
            this->m_driver.PressKey(action);
        }
        EXPECT_EQ(this->List().GetSort(), step.sort);
        EXPECT_EQ(this->List().GetKeys(), step.keys);
        EXPECT_EQ(this->List().GetSelection(), std::optional<long>(13));
    }
    // Sorting is no selection change.
    EXPECT_EQ(this->PicksCount(LBN_SELCHANGE, IDC_CHOICE_LIST), 1);
}

TYPED_TEST(ReportContract, NewRowsKeepTheSelectedMovieElseTheSelectedPlace) {
    this->List().SortBy({0, false}); // alpha 13, Harbor 12, meadow 11, Zulu 14, Beta 15
    this->m_driver.SelectByUser(IDC_CHOICE_LIST, 1);
    EXPECT_EQ(this->List().GetSelection(), std::optional<long>(12));

    // The same movie among new rows stays selected, wherever the sort puts it.
    EXPECT_EQ(
        this->List().SetRows(
            {{12, 0, {"Harbor", "1990", "2"}}, {16, 0, {"Aardvark", "2000", "1"}}, {13, 0, {"alpha", "2001", "3"}}}),
        3);
    EXPECT_EQ(this->List().GetKeys(), (std::vector<long>{16, 13, 12}));
    EXPECT_EQ(this->List().GetSelection(), std::optional<long>(12));
    // Gone: the row now in its place is selected, the last one when the list got shorter.
    this->List().SetRows({{16, 0, {"Aardvark", "2000", "1"}}, {13, 0, {"alpha", "2001", "3"}}});
    EXPECT_EQ(this->List().GetSelection(), std::optional<long>(13));
    this->List().SetRows({{17, 0, {"Quiet", "1970", "4"}}, {13, 0, {"alpha", "2001", "3"}}});
    EXPECT_EQ(this->List().GetSelection(), std::optional<long>(13));
    this->List().SetRows({{17, 0, {"Quiet", "1970", "4"}}});
    EXPECT_EQ(this->List().GetSelection(), std::optional<long>(17));
    this->List().SetRows({});
    EXPECT_EQ(this->List().GetSelection(), std::nullopt);

    // The program's own selection: no notification; a key no row has changes nothing.
    this->List().SetRows({{21, 0, {"One", "2001", "1"}}, {22, 0, {"Two", "2002", "2"}}});
    EXPECT_TRUE(this->List().SelectKey(22));
    EXPECT_FALSE(this->List().SelectKey(99));
    EXPECT_EQ(this->List().GetSelection(), std::optional<long>(22));
    EXPECT_EQ(this->PicksCount(LBN_SELCHANGE, IDC_CHOICE_LIST), 1);
}

TYPED_TEST(ReportContract, RatingKeysAndDeleteAreTheirButtonsUnlessTheButtonIsDisabled) {
    this->m_driver.SelectByUser(IDC_CHOICE_LIST, 0);
    this->m_picks.Clear();
    for (const char* keys : {"1", "3", "5", "Delete"}) {
        this->m_driver.PressKey(keys);
    }
    EXPECT_EQ(this->m_picks.m_commands, (std::vector<std::pair<UINT, int>>{{BN_CLICKED, IDC_RATE_1},
                                                                           {BN_CLICKED, IDC_RATE_3},
                                                                           {BN_CLICKED, IDC_RATE_5},
                                                                           {BN_CLICKED, IDC_NOT_INTERESTED}}));
    this->m_picks.Clear();
    this->System().EnableWindow(this->m_picks.GetDlgItem(IDC_RATE_3), false);
    this->System().EnableWindow(this->m_picks.GetDlgItem(IDC_NOT_INTERESTED), false);
    this->m_driver.PressKey("3");
    this->m_driver.PressKey("Delete");
    this->m_driver.PressKey("4");
    EXPECT_EQ(this->m_picks.m_commands, (std::vector<std::pair<UINT, int>>{{BN_CLICKED, IDC_RATE_4}}));
    // The list keeps the focus through it all.
    EXPECT_EQ(this->List().GetSelection(), std::optional<long>(11));
}

} // namespace
