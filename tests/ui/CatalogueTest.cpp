#include <gtest/gtest.h>

#include "MainWindowHarness.h"

namespace {

TEST(MovieList, ListsCatalogueNumbersOneToNMinusOneInCatalogueOrder) {
    MainWindowHarness h;
    h.SetTitles({"Zulu", "Alpha", "Mike", "Alpha", "Never asked"});
    h.engine->numberOfMovies = 5;
    h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
        EXPECT_EQ(main.Items(IDC_MOVIE_LIST), (std::vector<std::string>{"Zulu", "Alpha", "Mike", "Alpha"}));
        EXPECT_EQ(main.Control(IDC_MOVIE_LIST).initStorageCalls, 1);
        EXPECT_EQ(main.Control(IDC_MOVIE_LIST).redraws, 1);
    });
    EXPECT_EQ(h.engine->Calls(),
              (std::vector<std::string>{"Init(MovieData\\files.txt)", "InitMatrices()", "GetNumberOfMovies()",
                                        "GetMovieDetails(1)", "GetMovieDetails(2)", "GetMovieDetails(3)",
                                        "GetMovieDetails(4)"}));
    const MovieIdArray& ids = h.dlg->GetMovieIds();
    ASSERT_EQ(ids.GetSize(), 6);
    const int expected[] = {101, 102, 103, 104, 0, 0};
    for (int p = 0; p < 6; ++p) {
        EXPECT_EQ(ids.GetAt(p), expected[p]) << p;
    }
}

TEST(MovieList, SmallAndNegativeCountsListNothingButStillRedraw) {
    for (long count : {0L, 1L, -3L}) {
        MainWindowHarness h;
        h.SetTitles({"Unused"});
        h.engine->numberOfMovies = count;
        h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
            EXPECT_TRUE(main.Items(IDC_MOVIE_LIST).empty());
            EXPECT_EQ(main.Control(IDC_MOVIE_LIST).redraws, 1);
            // Nothing to select: the movie field stays empty.
            main.SendCommand(LBN_SELCHANGE, IDC_MOVIE_LIST);
            EXPECT_EQ(main.Text(IDC_MOVIE_ID), "");
        });
        EXPECT_FALSE(Contains(h.engine->Calls(), "GetMovieDetails(0)"));
        EXPECT_FALSE(Contains(h.engine->Calls(), "GetMovieDetails(1)"));
        const MovieIdArray& ids = h.dlg->GetMovieIds();
        EXPECT_EQ(ids.GetSize(), count < 0 ? 1 : static_cast<int>(count) + 1);
        for (int p = 0; p < ids.GetSize(); ++p) {
            EXPECT_EQ(ids.GetAt(p), 0);
        }
    }
}

TEST(MovieList, SelectionWritesTheMovieIdAndNoSelectionLeavesItAlone) {
    MainWindowHarness h;
    h.SetTitles({"A", "B", "C", "D"});
    h.engine->movies[2].id = -7;
    h.engine->movies[3].id = 0;
    h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
        main.Select(IDC_MOVIE_LIST, 1);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "102");
        main.Select(IDC_MOVIE_LIST, 2);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "-7");
        main.Select(IDC_MOVIE_LIST, 3);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "0");
        main.Control(IDC_MOVIE_LIST).curSel = -1;
        main.SendCommand(LBN_SELCHANGE, IDC_MOVIE_LIST);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "0");
        EXPECT_EQ(main.Text(IDC_RESULTS), "");
    });
}

TEST(MovieSearch, StartsAfterTheFirstMovieAndWrapsAround) {
    MainWindowHarness h;
    h.SetTitles({"Harbor", "Meadow", "Harbor Lights"});
    h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
        // Nothing matches and nothing is selected yet: no selection, the field stays empty.
        main.Type(IDC_SEARCH_TEXT, "xyz");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), -1);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "");

        for (const char* text : {"h", "har", "harbor"}) {
            main.Type(IDC_SEARCH_TEXT, text);
            EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 2) << text;
            EXPECT_EQ(main.Text(IDC_MOVIE_ID), "103") << text;
        }
        main.Type(IDC_SEARCH_TEXT, "MEADOW");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 1);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "102");
        main.Type(IDC_SEARCH_TEXT, "eadow");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 1);
        main.Type(IDC_SEARCH_TEXT, "Meadow ");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 1);
        EXPECT_EQ(main.Text(IDC_RESULTS), "");

        main.Type(IDC_SEARCH_TEXT, "");
        EXPECT_EQ(main.Text(IDC_RESULTS), "Enter search string.");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 1);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "102");
        main.Type(IDC_SEARCH_TEXT, "harbor l");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 2);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Enter search string.");

        // The search command runs the same steps.
        main.Control(IDC_SEARCH_TEXT).text = "me";
        main.SendCommand(BN_CLICKED, IDC_SEARCH);
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 1);
    });

    MainWindowHarness two;
    two.SetTitles({"Harbor", "Meadow"});
    two.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
        main.Type(IDC_SEARCH_TEXT, "ha");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 0);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "101");
    });
    // The search never asks the engine.
    EXPECT_EQ(two.engine->Calls().size(), 5u);
}

TEST(MovieDetails, UsesTheCatalogueNumberForBothEngineCalls) {
    MainWindowHarness h;
    h.SetTitles({"Listed title", "Second"});
    h.engine->movies[0].id = 55;
    h.engine->movies[0].name = "The Name";
    h.engine->movies[0].releaseDate = "12-Mar-1996";
    h.engine->urls[1] = "http://example.org/m1";
    h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
        main.Dialog().SetDlgItemText(IDC_RESULTS, "kept");
        const std::size_t calls = h.engine->Calls().size();
        bool shown = false;
        h.windows.ExpectModal(IDD_MOVIE_DIALOG, [&](CScriptedWindow& details) {
            shown = true;
            EXPECT_EQ(details.Text(IDC_DETAIL_NAME), "The Name");
            EXPECT_EQ(details.Text(IDC_DETAIL_DATE), "12-Mar-1996");
            EXPECT_EQ(details.Text(IDC_DETAIL_URL), "http://example.org/m1");
            details.PressEscape();
        });
        main.DoubleClick(IDC_MOVIE_LIST, 0);
        EXPECT_TRUE(shown);
        EXPECT_EQ(h.CallsSince(calls), (std::vector<std::string>{"GetMovieDetails(1)", "GetURLOfMovie(1)"}));
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "55");
        EXPECT_EQ(main.Text(IDC_RESULTS), "kept");

        // Nothing selected: no engine call and no dialog.
        main.Control(IDC_MOVIE_LIST).curSel = -1;
        const std::size_t before = h.engine->Calls().size();
        main.SendCommand(LBN_DBLCLK, IDC_MOVIE_LIST);
        EXPECT_EQ(h.engine->Calls().size(), before);

        // An engine failure is reported and no dialog opens.
        h.engine->ThrowAt("GetURLOfMovie", 2, CMException("Catalogue", "no url"));
        main.DoubleClick(IDC_MOVIE_LIST, 1);
        EXPECT_EQ(h.windows.MessageBoxes().size(), 1u);
        EXPECT_FALSE(main.IsEnded());
    });
    EXPECT_EQ(h.windows.PendingModalSteps(), 0u);
}

} // namespace
