#include <functional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "MainWindowHarness.h"
#include "MovieTable.h"
#include "PickTexts.h"
#include "ScriptedWindowSystem.h"
#include "resource.h"

namespace {

TEST(MovieChoice, RowsAndLinesReadAsWritten) {
    const std::pair<CString, std::string> cases[] = {
        {PickRowText("Toy Story (1995)", 4.34, "Heat (1995)", 5),
         "Toy Story (1995) — 4.3 — because you rated Heat (1995) 5"},
        {PickRowText("Jumanji (1995)", 3.96, "", 0), "Jumanji (1995) — 4.0"},
        {NewcomerNote(0), "Rate 15 more movies to make these picks your own."},
        {NewcomerNote(14), "Rate 1 more movie to make these picks your own."},
        {RatingsSummary(3, 11.0 / 3.0), "3 ratings, average 3.666667"},
        {RatingsSummary(0, 0.0), "No ratings yet."},
    };
    for (const auto& [actual, expected] : cases) {
        EXPECT_EQ(actual, expected);
    }
}

// The main window with three movies (ids 101 to 103) and a user with 14 ratings; `body` runs in it.
void WithPicks(MainWindowHarness& h, const std::function<void(CScriptedWindow&)>& body) {
    h.SetTitles({"Heat (1995)", "Toy Story (1995)", "Jumanji (1995)"});
    h.engine->users[{"guest", "pw"}] = 3;
    h.engine->info = std::make_pair(3.5, 14L);
    h.engine->picks = {{102, 4.34, 101, 5}, {103, 3.96, 0, 0}};
    h.engine->similar[101] = {103, 102};
    h.engine->userRatings = {{103, 4, 900}, {101, 2, 800}};
    h.Run(MainWindowHarness::Login("guest", "pw"), body);
}

// The rows, then the title and the line, of the dialog that `keys` open; `answer` then closes it.
Log Open(MainWindowHarness& h, CScriptedWindow& main, UINT templateId, const std::string& keys,
         const std::function<void(CScriptedWindow&)>& answer) {
    Log seen;
    h.windows.ExpectModal(templateId, [&](CScriptedWindow& dialog) {
        seen = dialog.Items(IDC_CHOICE_LIST);
        seen.push_back(dialog.Title() + " | " + dialog.Text(IDC_CHOICE_NOTE));
        answer(dialog);
    });
    main.PressShortcut(keys);
    return seen;
}

TEST(MovieChoice, EnterOrADoubleClickGoesToTheMovieAsAClickThereDoesAndEscapeNowhere) {
    MainWindowHarness h;
    WithPicks(h, [&](CScriptedWindow& main) {
        EXPECT_EQ(Open(h, main, IDD_PICKS_DIALOG, "Ctrl+T", [](CScriptedWindow& d) { d.PressEscape(); }),
                  (Log{"Toy Story (1995) — 4.3 — because you rated Heat (1995) 5", "Jumanji (1995) — 4.0",
                       "Top picks | Rate 1 more movie to make these picks your own."}));
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), -1);
        Open(h, main, IDD_PICKS_DIALOG, "Ctrl+T", [](CScriptedWindow& d) {
            d.Select(IDC_CHOICE_LIST, 1);
            d.PressEnter();
        });
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 2);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "103");
        EXPECT_EQ(
            Open(h, main, IDD_RATINGS_DIALOG, "Ctrl+R", [](CScriptedWindow& d) { d.DoubleClick(IDC_CHOICE_LIST, 1); }),
            (Log{"Jumanji (1995) — 4", "Heat (1995) — 2", "Your ratings | 14 ratings, average 3.500000"}));
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "101");
        EXPECT_TRUE(InOrder(h.engine->Calls(), {"GetTopPicksWithReasons(3,20)", "GetUserRatings(3)"}));
    });
}

TEST(MovieChoice, MoreLikeThisNeedsAPickedMovieAsPredictDoes) {
    MainWindowHarness h;
    WithPicks(h, [&](CScriptedWindow& main) {
        main.PressShortcut("Ctrl+L"); // an unexpected dialog would fail the script
        EXPECT_EQ(main.Text(IDC_RESULTS), "Movie not picked...");
        main.Select(IDC_MOVIE_LIST, 0);
        EXPECT_EQ(
            Open(h, main, IDD_PICKS_DIALOG, "Ctrl+L", [](CScriptedWindow& d) { d.PressEnter(); }),
            (Log{"Jumanji (1995)", "Toy Story (1995)", "More like this | Liked by the people who liked Heat (1995)."}));
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "103");
    });
}

TEST(MovieChoice, NobodyLoggedInGetsTheEnginesMessageAndNoDialog) {
    MainWindowHarness h;
    h.engine->ThrowAt("GetTopPicksWithReasons", 1, CMException("Quillory engine error", "Nobody is logged in."));
    h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
        main.PressShortcut("Ctrl+T");
        h.windows.ExpectModal(IDD_ABOUTBOX, [](CScriptedWindow& about) { about.PressEnter(); });
        main.SendCommand(BN_CLICKED, ID_HELP_ABOUT);
    });
    ASSERT_EQ(h.windows.MessageBoxes().size(), 1u);
    EXPECT_EQ(h.windows.MessageBoxes()[0].text, "Nobody is logged in.");
    EXPECT_EQ(h.windows.PendingModalSteps(), 0u);
}

} // namespace
