#include <gtest/gtest.h>

#include <string>

#include "AfxTypes.h"
#include "MainWindowHarness.h"
#include "MovieIdArray.h"
#include "ScriptedWindowSystem.h"
#include "resource.h"

namespace {

TEST(MovieList, ListsCatalogueNumbersOneToNMinusOneInCatalogueOrder) {
    MainWindowHarness h;
    h.SetTitles({"Zulu", "Alpha", "Mike", "Alpha", "Never asked"});
    h.engine->numberOfMovies = 5;
    h.engine->movies[2].id = -7;
    h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
        EXPECT_EQ(main.Items(IDC_MOVIE_LIST), (Log{"Zulu", "Alpha", "Mike", "Alpha"}));
        EXPECT_GE(main.Control(IDC_MOVIE_LIST).redraws, 1);
        main.Select(IDC_MOVIE_LIST, 2);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "-7");
        // With no selection the field keeps the movie it names.
        main.Control(IDC_MOVIE_LIST).curSel = -1;
        main.SendCommand(LBN_SELCHANGE, IDC_MOVIE_LIST);
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "-7");
    });
    EXPECT_EQ(h.CallsSince(2), (Log{"GetNumberOfMovies()", "GetMovieDetails(1)", "GetMovieDetails(2)",
                                    "GetMovieDetails(3)", "GetMovieDetails(4)"}));
    const MovieIdArray& ids = h.dlg->GetMovieIds();
    ASSERT_EQ(ids.GetSize(), 6);
    const int expected[] = {101, 102, -7, 104, 0, 0};
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
            EXPECT_GE(main.Control(IDC_MOVIE_LIST).redraws, 1);
            main.SendCommand(LBN_SELCHANGE, IDC_MOVIE_LIST);
            EXPECT_EQ(main.Text(IDC_MOVIE_ID), "");
        });
        for (const std::string& call : h.engine->Calls()) {
            EXPECT_EQ(call.rfind("GetMovieDetails", 0), std::string::npos) << count << ": " << call;
        }
        EXPECT_EQ(h.dlg->GetMovieIds().GetSize(), count < 0 ? 1 : static_cast<int>(count) + 1);
    }
}

TEST(MovieSearch, StartsAfterTheFirstMovieAndWrapsAround) {
    MainWindowHarness h;
    h.SetTitles({"Harbor", "Meadow", "Harbor Lights"});
    h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
        main.Type(IDC_SEARCH_TEXT, "xyz"); // no match and no selection: nothing written
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "");
        for (const char* text : {"h", "har", "harbor"}) {
            main.Type(IDC_SEARCH_TEXT, text);
            EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 2) << text;
            EXPECT_EQ(main.Text(IDC_MOVIE_ID), "103") << text;
        }
        main.Type(IDC_SEARCH_TEXT, "MEADOW");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 1);
        main.Type(IDC_SEARCH_TEXT, "Meadow ");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 1);
        main.Type(IDC_SEARCH_TEXT, "");
        EXPECT_EQ(main.Text(IDC_RESULTS), "Enter search string.");
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "102");
        main.Control(IDC_SEARCH_TEXT).text = "harbor l";
        main.SendCommand(BN_CLICKED, IDC_SEARCH);
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 2);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Enter search string.");
    });
    MainWindowHarness two;
    two.SetTitles({"Harbor", "Meadow"});
    two.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
        main.Type(IDC_SEARCH_TEXT, "ha");
        EXPECT_EQ(main.CurSel(IDC_MOVIE_LIST), 0);
    });
}

TEST(MovieDetails, UsesTheCatalogueNumberForBothEngineCalls) {
    MainWindowHarness h;
    h.SetTitles({"Listed title", "Second"});
    h.engine->movies[0] = {"Listed title", 55, "The Name", "12-Mar-1996"};
    h.engine->urls[1] = "http://example.org/m1";
    h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
        std::size_t calls = h.engine->Calls().size();
        h.windows.ExpectModal(IDD_MOVIE_DIALOG, [&](CScriptedWindow& details) {
            EXPECT_EQ(details.Text(IDC_DETAIL_NAME), "The Name");
            EXPECT_EQ(details.Text(IDC_DETAIL_DATE), "12-Mar-1996");
            EXPECT_EQ(details.Text(IDC_DETAIL_URL), "http://example.org/m1");
            details.PressEscape();
        });
        main.DoubleClick(IDC_MOVIE_LIST, 0);
        EXPECT_EQ(h.CallsSince(calls), (Log{"GetMovieDetails(1)", "GetURLOfMovie(1)"}));
        EXPECT_EQ(main.Text(IDC_MOVIE_ID), "55");

        // Nothing selected: no engine call and no dialog (the script would fail on one).
        main.Control(IDC_MOVIE_LIST).curSel = -1;
        calls = h.engine->Calls().size();
        main.SendCommand(LBN_DBLCLK, IDC_MOVIE_LIST);
        EXPECT_TRUE(h.CallsSince(calls).empty());

        // An engine failure is reported, no dialog opens and the window goes on.
        h.engine->ThrowAt("GetURLOfMovie", 2, CMException("Catalogue", "no url"));
        main.DoubleClick(IDC_MOVIE_LIST, 1);
        EXPECT_EQ(h.windows.MessageBoxes().size(), 1u);
    });
}

} // namespace
