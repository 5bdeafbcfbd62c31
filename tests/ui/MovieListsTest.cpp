// Top picks, More like this and Your ratings over the scripted toolkit and engine: what they list, rating and
// hiding from them, and where the keyboard is when they close.

#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "MainWindowHarness.h"
#include "MovieTable.h"
#include "PickTexts.h"
#include "RatingEntry.h"
#include "ScriptedWindowSystem.h"
#include "resource.h"

namespace {

TEST(MovieLists, LinesAndCellsReadAsWritten) {
    const std::pair<CString, std::string> cases[] = {
        {NewcomerNote(0),
         "Rate movies you have seen: select one and press 1 to 5. 15 more ratings make these picks your own."},
        {NewcomerNote(14),
         "Rate movies you have seen: select one and press 1 to 5. 1 more rating makes these picks your own."},
        {PersonalNote(27), "Picked for you from your 27 ratings"},
        {RatingsSummary(3, 11.0 / 3.0), "3 ratings, average 3.67"},
        {RatingsSummary(1, 5.0), "1 rating, average 5.00"},
        {RatingsSummary(0, 0.0), "No ratings yet."},
        {NoSimilarNote("Heat (1995)"),
         "Nobody who liked Heat (1995) liked other movies often enough to tell what is like it."},
        {MovieYear({"Toy Story (1995)", 1, "Toy Story", "01-Jan-1995"}), "1995"},
        {MovieYear({"Se7en", 2, "Se7en", "22-Sep-1995"}), "1995"},
        {MovieYear({"2001: A Space Odyssey (1968)", 3, "", ""}), "1968"},
        {MovieYear({"Blade Runner 2049 (12345)", 4, "", "0000"}), "0000"},
        {MovieYear({"Untitled", 5, "", "unknown"}), ""},
        {ListTitle({"Toy Story (1995)", 1, "Toy Story", ""}), "Toy Story"},
        {ListTitle({"Toy Story (1995)", 1, "", ""}), "Toy Story (1995)"},
        {PredictedStarsText(4.349), "4.3"},
        {PredictedStarsText(3.96), "4.0"},
        {BecauseText("Heat (1995)", 5), "Heat (1995), 5 stars"},
        {BecauseText("Heat (1995)", 1), "Heat (1995), 1 star"},
        {RatedOnText(0), ""},
    };
    for (const auto& [actual, expected] : cases) {
        EXPECT_EQ(actual, expected);
    }
}

TEST(MovieLists, TheDayOfARatingIsTheComputersLocalDay) {
    const char* previous = std::getenv("TZ");
    const std::string saved = previous != nullptr ? previous : "";
    struct Case {
        const char* zone;
        long long timestamp;
        const char* day;
    };
    // 2024-03-09 23:30 UTC is already the 10th east of Greenwich.
    for (const Case& c : {Case{"UTC0", 1710027000, "2024-03-09"}, Case{"AEST-10", 1710027000, "2024-03-10"},
                          Case{"UTC0", 880000000, "1997-11-20"}}) {
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(RatedOnText(c.timestamp), c.day) << c.zone;
    }
    if (previous != nullptr) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

constexpr long kUser = 3;

// Six movies (ids 101 to 106, genres on some), a user with 13 ratings of movies outside the picks, and four picks.
void Stock(MainWindowHarness& h) {
    h.engine->movies = {{"Heat (1995)", 101, "Heat", ""},         {"Toy Story (1995)", 102, "Toy Story", ""},
                        {"Jumanji (1995)", 103, "Jumanji", ""},   {"Casino (1995)", 104, "Casino", ""},
                        {"Clueless (1995)", 105, "Clueless", ""}, {"Babe (1995)", 106, "Babe", ""}};
    h.engine->genres = {{2, "Animation, Children's, Comedy"}, {3, "Adventure"}, {4, "Crime, Drama"}};
    h.engine->users[{"guest", "pw"}] = kUser;
    for (long movie = 201; movie <= 213; ++movie) {
        h.engine->ratings[{movie, kUser}] = 4;
    }
    h.engine->ratings[std::make_pair(101L, kUser)] = 5;
    h.engine->picks = {{102, 4.34, 101, 5}, {103, 3.96, 0, 0}, {104, 3.5, 101, 5}, {105, 3.1, 0, 0}};
    h.engine->similar[101] = {106, 103, 102};
}

// Opens a list dialog with `keys` in the main window and runs `inside` in it; `inside` closes it.
void InList(MainWindowHarness& h, CScriptedWindow& main, UINT templateId, const std::string& keys,
            const std::function<void(CScriptedWindow&)>& inside) {
    h.windows.ExpectModal(templateId, inside);
    main.PressKey(keys);
}

TEST(MovieLists, TopPicksListColumnsBestFirstAndEnterGoesToTheMovieWithTheKeyboardInTheMainList) {
    MainWindowHarness h;
    Stock(h);
    h.engine->ratings.erase({201, kUser}); // 13 ratings: 2 more make the picks his own
    h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        main.SetFocus(IDC_RATE); // where the focus was before: Enter there would rate
        InList(h, main, IDD_PICKS_DIALOG, "Ctrl+T", [](CScriptedWindow& picks) {
            EXPECT_EQ(picks.Title(), "Top picks");
            EXPECT_EQ(picks.Text(IDC_CHOICE_NOTE),
                      "Rate movies you have seen: select one and press 1 to 5. 2 more ratings make these picks your "
                      "own.");
            EXPECT_EQ(picks.Rows(IDC_CHOICE_LIST),
                      (Log{"1 | Toy Story | 1995 | Animation, Children's, Comedy | 4.3 | Heat (1995), 5 stars",
                           "2 | Jumanji | 1995 | Adventure | 4.0 | ",
                           "3 | Casino | 1995 | Crime, Drama | 3.5 | Heat (1995), 5 stars",
                           "4 | Clueless | 1995 |  | 3.1 | "}));
            EXPECT_EQ(picks.SelectedKey(IDC_CHOICE_LIST), std::optional<long>(102));
            EXPECT_EQ(picks.FocusedControl(), IDC_CHOICE_LIST);
            picks.Select(IDC_CHOICE_LIST, 2);
            picks.PressEnter();
        });
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 3);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "104");
        EXPECT_EQ(main.FocusedControl(), IDC_MOVIE_LIST);
        // Enter now asks the movie's rating instead of rating it.
        main.PressEnter();
        EXPECT_EQ(main.Text(IDC_RESULTS), "There is no rating for this movie yet.");
        EXPECT_FALSE(Contains(h.engine->Calls(), "SetNewRating(104,3,0)"));
        EXPECT_TRUE(Contains(h.engine->Calls(), "GetTopPicksWithReasons(3,50)"));
    });
}

TEST(MovieLists, RatingFromTopPicksRefillsTheListCountsDownAndTheFifteenthMakesThePicksHisOwn) {
    MainWindowHarness h;
    Stock(h);
    h.engine->ratings.erase({201, kUser});
    h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        InList(h, main, IDD_PICKS_DIALOG, "Ctrl+T", [&](CScriptedWindow& picks) {
            const std::size_t mark = h.engine->Calls().size();
            picks.PressKey("4"); // Toy Story, the first row
            EXPECT_EQ(h.engine->ratings[std::make_pair(102L, kUser)], 4);
            EXPECT_EQ(picks.Text(IDC_CHOICE_STATUS), "You rated Toy Story (1995) 4 stars.");
            EXPECT_EQ(picks.Text(IDC_CHOICE_NOTE),
                      "Rate movies you have seen: select one and press 1 to 5. 1 more rating makes these picks your "
                      "own.");
            EXPECT_EQ(picks.Items(IDC_CHOICE_LIST).size(), 0u);
            EXPECT_EQ(picks.Rows(IDC_CHOICE_LIST).size(), 3u);
            // The next pick takes the rated one's place, and the selection with it.
            EXPECT_EQ(picks.SelectedKey(IDC_CHOICE_LIST), std::optional<long>(103));
            EXPECT_FALSE(Contains(h.CallsSince(mark), "SetRefresh(1)"));

            picks.Click(IDC_RATE_2); // Jumanji, by the button
            EXPECT_TRUE(Contains(h.CallsSince(mark), "SetRefresh(1)")) << "the 15th rating";
            EXPECT_EQ(picks.Text(IDC_CHOICE_NOTE), "Picked for you from your 15 ratings");
            EXPECT_EQ(picks.Rows(IDC_CHOICE_LIST), (Log{"1 | Casino | 1995 | Crime, Drama | 3.5 | Heat (1995), 5 stars",
                                                        "2 | Clueless | 1995 |  | 3.1 | "}));
            picks.PressEscape();
        });
        // The main window's results pane is not the list's business.
        EXPECT_EQ(main.Text(IDC_RESULTS), "");
    });
}

TEST(MovieLists, ARatedMovieIsRefusedInEveryListWithTheRateButtonsMessageAndNothingIsOverwritten) {
    MainWindowHarness h;
    Stock(h);
    h.engine->ratings[std::make_pair(103L, kUser)] = 2;
    h.engine->userRatings = {{103, 2, 1710027000}, {101, 5, 880000000}};
    h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        main.Select(IDC_MOVIE_LIST, 0); // Heat
        InList(h, main, IDD_PICKS_DIALOG, "Ctrl+L", [&](CScriptedWindow& similar) {
            EXPECT_EQ(similar.Title(), "More like this");
            EXPECT_EQ(similar.Text(IDC_CHOICE_NOTE), "Liked by the people who liked Heat (1995).");
            EXPECT_EQ(similar.Rows(IDC_CHOICE_LIST),
                      (Log{"1 | Babe | 1995 |  | 3.0 | ", "2 | Jumanji | 1995 | Adventure | 3.0 | 2",
                           "3 | Toy Story | 1995 | Animation, Children's, Comedy | 3.0 | "}));
            similar.Select(IDC_CHOICE_LIST, 1);
            similar.PressKey("5");
            EXPECT_EQ(similar.Text(IDC_CHOICE_STATUS), kAlreadyRatedText);
            similar.Select(IDC_CHOICE_LIST, 0);
            EXPECT_EQ(similar.Text(IDC_CHOICE_STATUS), "") << "a new selection clears the message";
            similar.PressKey("3");
            EXPECT_EQ(similar.Rows(IDC_CHOICE_LIST)[0], "1 | Babe | 1995 |  | 3.0 | 3") << "his rating shows";
            similar.PressEscape();
        });
        InList(h, main, IDD_RATINGS_DIALOG, "Ctrl+R", [&](CScriptedWindow& ratings) {
            EXPECT_EQ(ratings.Rows(IDC_CHOICE_LIST)[0].substr(0, 26), "Jumanji | 1995 | Adventure");
            ratings.PressKey("1");
            EXPECT_EQ(ratings.Text(IDC_CHOICE_STATUS), kAlreadyRatedText);
            ratings.PressEscape();
        });
        EXPECT_EQ(h.engine->ratings[std::make_pair(103L, kUser)], 2);
        EXPECT_FALSE(Contains(h.engine->Calls(), "SetNewRating(103,3,5)"));
        EXPECT_FALSE(Contains(h.engine->Calls(), "SetNewRating(103,3,1)"));
        EXPECT_TRUE(Contains(h.engine->Calls(), "SetNewRating(106,3,3)"));
    });
}

TEST(MovieLists, NotInterestedHidesAPickForGoodAndYourRatingsBringsItBack) {
    MainWindowHarness h;
    Stock(h);
    h.engine->userRatings = {{101, 5, 880000000}};
    h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        InList(h, main, IDD_PICKS_DIALOG, "Ctrl+T", [&](CScriptedWindow& picks) {
            picks.Select(IDC_CHOICE_LIST, 1); // Jumanji
            picks.PressKey("Delete");
            EXPECT_EQ(picks.Text(IDC_CHOICE_STATUS),
                      "Jumanji (1995) will not be picked for you again (Your ratings can bring it back).");
            EXPECT_EQ(picks.SelectedKey(IDC_CHOICE_LIST), std::optional<long>(104));
            picks.Click(IDC_NOT_INTERESTED); // Casino, by the button
            EXPECT_EQ(picks.Rows(IDC_CHOICE_LIST).size(), 2u);
            picks.PressEscape();
        });
        EXPECT_EQ(h.engine->notInterested[kUser], (std::vector<long>{104, 103}));
        main.Select(IDC_MOVIE_LIST, 0);
        InList(h, main, IDD_PICKS_DIALOG, "Ctrl+L", [&](CScriptedWindow& similar) {
            EXPECT_EQ(similar.Rows(IDC_CHOICE_LIST).size(), 2u) << "Jumanji is left out";
            similar.PressEscape();
        });
        InList(h, main, IDD_RATINGS_DIALOG, "Ctrl+R", [&](CScriptedWindow& ratings) {
            EXPECT_EQ(ratings.Text(IDC_CHOICE_NOTE), "14 ratings, average 4.07");
            // Hidden movies come last, most recently hidden first, and stay last whatever the sort.
            ratings.ClickHeader(IDC_CHOICE_LIST, 0);
            EXPECT_EQ(ratings.Rows(IDC_CHOICE_LIST),
                      (Log{"Heat | 1995 |  | 5 | 1997-11-20", "Casino | 1995 | Crime, Drama | Not interested | ",
                           "Jumanji | 1995 | Adventure | Not interested | "}));
            // Delete acts on hidden movies only: the button is greyed on a rating.
            EXPECT_FALSE(ratings.IsControlEnabled(IDC_NOT_INTERESTED));
            ratings.PressKey("Delete");
            EXPECT_EQ(ratings.Rows(IDC_CHOICE_LIST).size(), 3u);
            ratings.Select(IDC_CHOICE_LIST, 2);
            EXPECT_TRUE(ratings.IsControlEnabled(IDC_NOT_INTERESTED));
            ratings.PressKey("Delete");
            EXPECT_EQ(ratings.Text(IDC_CHOICE_STATUS), "Jumanji (1995) can be picked for you again.");
            EXPECT_EQ(ratings.Rows(IDC_CHOICE_LIST).size(), 2u);
            ratings.PressEscape();
        });
        InList(h, main, IDD_PICKS_DIALOG, "Ctrl+T", [&](CScriptedWindow& picks) {
            EXPECT_EQ(picks.Rows(IDC_CHOICE_LIST).size(), 3u);
            EXPECT_EQ(picks.Rows(IDC_CHOICE_LIST)[1].substr(0, 11), "2 | Jumanji");
            picks.PressEscape();
        });
    });
}

TEST(MovieLists, ASortKeepsTheSelectedMovieAndAKeyRatesThatMovie) {
    MainWindowHarness h;
    Stock(h);
    h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        InList(h, main, IDD_PICKS_DIALOG, "Ctrl+T", [&](CScriptedWindow& picks) {
            picks.Select(IDC_CHOICE_LIST, 2);      // Casino
            picks.ClickHeader(IDC_CHOICE_LIST, 1); // by title: Casino, Clueless, Jumanji, Toy Story
            EXPECT_EQ(picks.SelectedKey(IDC_CHOICE_LIST), std::optional<long>(104));
            picks.PressKey("Ctrl+5"); // by predicted stars, highest first
            EXPECT_EQ(picks.Rows(IDC_CHOICE_LIST)[0].substr(0, 13), "1 | Toy Story");
            EXPECT_EQ(picks.SelectedKey(IDC_CHOICE_LIST), std::optional<long>(104));
            picks.PressKey("2");
            picks.PressEscape();
        });
        EXPECT_EQ(h.engine->ratings[std::make_pair(104L, kUser)], 2);
    });
}

TEST(MovieLists, AnEmptyListSaysWhyAndOffersNothingToGoTo) {
    MainWindowHarness h;
    Stock(h);
    h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
        main.Select(IDC_MOVIE_LIST, 4); // Clueless: nobody who liked it liked others enough
        InList(h, main, IDD_PICKS_DIALOG, "Ctrl+L", [&](CScriptedWindow& similar) {
            EXPECT_EQ(similar.Text(IDC_CHOICE_NOTE),
                      "Nobody who liked Clueless (1995) liked other movies often enough to tell what is like it.");
            EXPECT_FALSE(similar.IsControlEnabled(IDOK));
            EXPECT_FALSE(similar.IsControlEnabled(IDC_RATE_3));
            similar.PressEnter();
            similar.PressKey("3");
            EXPECT_FALSE(similar.IsEnded());
            similar.PressEscape();
        });
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "105");
    });
}

TEST(MovieLists, TheMoviesMenuIsGreyedWhileNobodyIsLoggedIn) {
    MainWindowHarness h;
    Stock(h);
    h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
        for (const int id : {ID_MOVIES_TOP_PICKS, ID_MOVIES_MORE_LIKE_THIS, ID_MOVIES_YOUR_RATINGS}) {
            EXPECT_FALSE(main.IsMenuItemEnabled(id)) << id;
        }
        main.PressKey("Ctrl+T"); // an unexpected dialog or box would show in the script and the boxes
        main.PressKey("Ctrl+R");
        main.Paste(IDC_USER_ID, "7");
        EXPECT_TRUE(main.IsMenuItemEnabled(ID_MOVIES_TOP_PICKS));
    });
    EXPECT_TRUE(h.windows.MessageBoxes().empty());
}

TEST(MovieLists, ANewcomerLandsInHisTopPicksRightAfterRegistering) {
    MainWindowHarness h;
    Stock(h);
    h.engine->ratings.clear();
    h.engine->nextInsertedUserId = 2000000000;
    std::string note;
    h.windows.ExpectModal(IDD_TOLLIVEX_DIALOG, [&](CScriptedWindow& main) {
        EXPECT_TRUE(main.IsMenuItemEnabled(ID_MOVIES_TOP_PICKS));
        main.Click(IDOK);
    });
    h.windows.ExpectModal(IDD_LOGIN_DIALOG, MainWindowHarness::Login("walker", "pw", /*newUser=*/true));
    h.windows.ExpectModal(IDD_PICKS_DIALOG, [&](CScriptedWindow& picks) {
        note = picks.Text(IDC_CHOICE_NOTE);
        picks.PressKey("3");
        EXPECT_EQ(picks.Text(IDC_CHOICE_NOTE).substr(56), "14 more ratings make these picks your own.");
        picks.PressEscape();
    });
    h.dlg->DoModal();
    EXPECT_EQ(note,
              "Rate movies you have seen: select one and press 1 to 5. 15 more ratings make these picks your own.");
    EXPECT_TRUE(
        InOrder(h.engine->Calls(), {"InsertUser(walker,pw)", "SetCurrentUser(2000000000)",
                                    "GetTopPicksWithReasons(2000000000,50)", "SetNewRating(102,2000000000,3)"}));
}

} // namespace
