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

// The main window with three movies (ids 101 to 103) and a user with `ratings` ratings averaging 11/3.
struct Choices {
    explicit Choices(long ratings) {
        h.SetTitles({"Heat (1995)", "Toy Story (1995)", "Jumanji (1995)"});
        h.engine->users[{"guest", "pw"}] = 3;
        h.engine->info = std::make_pair(11.0 / 3.0, ratings);
        h.engine->picks = {{102, 4.34, 101, 5}, {103, 3.96, 0, 0}};
        h.engine->similar[101] = {103, 102};
        h.engine->userRatings = {{103, 4, 900}, {101, 2, 800}};
    }
    // Runs `body` in the main window once the user is logged in.
    void Run(const std::function<void(CScriptedWindow&)>& body) {
        h.Run(MainWindowHarness::Login("guest", "pw"), body);
    }
    // Runs `inside` in the dialog on `templateId` that `open` opens; keeps what the dialog showed.
    void InDialog(UINT templateId, const std::function<void()>& open,
                  const std::function<void(CScriptedWindow&)>& inside) {
        h.windows.ExpectModal(templateId, [&](CScriptedWindow& dialog) {
            rows = dialog.Items(IDC_CHOICE_LIST);
            note = dialog.Text(IDC_CHOICE_NOTE);
            title = dialog.Title();
            inside(dialog);
        });
        open();
    }
    MainWindowHarness h;
    Log rows;
    std::string note;
    std::string title;
};

TEST(MovieChoice, RowsAndLinesReadAsWritten) {
    const std::pair<CString, std::string> cases[] = {
        {PickRowText("Toy Story (1995)", 4.34, "Heat (1995)", 5),
         "Toy Story (1995) — 4.3 — because you rated Heat (1995) 5"},
        {PickRowText("Jumanji (1995)", 3.96, "", 0), "Jumanji (1995) — 4.0"},
        {NewcomerNote(0), "Rate 15 more movies to make these picks your own."},
        {NewcomerNote(14), "Rate 1 more movie to make these picks your own."},
        {RatingRowText("Heat (1995)", 3), "Heat (1995) — 3"},
        {RatingsSummary(1, 5.0), "1 rating, average 5.000000"},
        {RatingsSummary(0, 0.0), "No ratings yet."},
    };
    for (const auto& [actual, expected] : cases) {
        EXPECT_EQ(actual, expected);
    }
}

TEST(MovieChoice, TopPicksSayWhyAndANewcomerHowManyRatingsHeLacks) {
    for (const long ratings : {0L, 14L, 15L}) {
        Choices c(ratings);
        c.Run([&](CScriptedWindow& main) {
            c.InDialog(
                IDD_PICKS_DIALOG, [&] { main.PressShortcut("Ctrl+T"); }, [](CScriptedWindow& d) { d.PressEscape(); });
            EXPECT_EQ(c.rows,
                      (Log{"Toy Story (1995) — 4.3 — because you rated Heat (1995) 5", "Jumanji (1995) — 4.0"}));
            EXPECT_EQ(c.note, ratings == 15 ? "" : NewcomerNote(ratings));
            EXPECT_TRUE(Contains(c.h.engine->Calls(), "GetTopPicksWithReasons(3,20)"));
            EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), -1) << "Escape chooses nothing";
        });
    }
}

TEST(MovieChoice, EnterOrADoubleClickGoesToTheMovieAsAClickThereDoes) {
    Choices c(20);
    c.Run([&](CScriptedWindow& main) {
        c.InDialog(
            IDD_PICKS_DIALOG, [&] { main.ChooseMenuItem(ID_MOVIES_TOP_PICKS); },
            [](CScriptedWindow& d) {
                d.Select(IDC_CHOICE_LIST, 1);
                d.PressEnter();
            });
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 2);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "103");
        c.InDialog(
            IDD_RATINGS_DIALOG, [&] { main.PressShortcut("Ctrl+R"); },
            [](CScriptedWindow& d) { d.DoubleClick(IDC_CHOICE_LIST, 1); });
        EXPECT_EQ(c.rows, (Log{"Jumanji (1995) — 4", "Heat (1995) — 2"}));
        EXPECT_EQ(c.note, "20 ratings, average 3.666667");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 0);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "101");
        EXPECT_EQ(main.Text(IDC_RESULTS), "");
    });
}

TEST(MovieChoice, MoreLikeThisNeedsAPickedMovieAsPredictDoes) {
    Choices c(20);
    c.Run([&](CScriptedWindow& main) {
        main.PressShortcut("Ctrl+L"); // an unexpected dialog would fail the script
        EXPECT_EQ(main.Text(IDC_RESULTS), "Movie not picked...");
        EXPECT_FALSE(Contains(c.h.engine->Calls(), "GetSimilarMovies(101,20)"));
        main.Select(IDC_MOVIE_LIST, 0);
        c.InDialog(
            IDD_PICKS_DIALOG, [&] { main.PressShortcut("Ctrl+L"); }, [](CScriptedWindow& d) { d.PressEnter(); });
        EXPECT_EQ(c.title, "More like this");
        EXPECT_EQ(c.note, "Liked by the people who liked Heat (1995).");
        EXPECT_EQ(c.rows, (Log{"Jumanji (1995)", "Toy Story (1995)"}));
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "103");
    });
}

TEST(MovieChoice, NobodyLoggedInGetsTheEnginesMessageAndNoDialog) {
    Choices c(0);
    const CMException nobody("Quillory engine error", "Nobody is logged in. Log in first.");
    c.h.engine->ThrowAt("GetTopPicksWithReasons", 1, nobody);
    c.h.engine->ThrowAt("GetUserRatings", 1, nobody);
    c.h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
        main.PressShortcut("Ctrl+T");
        main.PressShortcut("Ctrl+R");
        c.h.windows.ExpectModal(IDD_ABOUTBOX, [](CScriptedWindow& about) { about.PressEnter(); });
        main.ChooseMenuItem(ID_HELP_ABOUT);
    });
    ASSERT_EQ(c.h.windows.MessageBoxes().size(), 2u);
    EXPECT_EQ(c.h.windows.MessageBoxes()[1].text, "Nobody is logged in. Log in first.");
    EXPECT_EQ(c.h.windows.PendingModalSteps(), 0u);
}

} // namespace
