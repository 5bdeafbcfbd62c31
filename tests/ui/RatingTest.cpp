#include <gtest/gtest.h>

#include "MainWindowHarness.h"

namespace {

// A running main window with user 3 logged in and the movie at position 0 (id 101) selected.
class Rating : public ::testing::Test {
protected:
    void Start(const std::function<void(CScriptedWindow&)>& body) {
        h.SetTitles({"First", "Second", "Third", "Fourth"});
        h.engine->users[{"guest", "pw"}] = 3;
        h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
            main.Select(IDC_MOVIE_LIST, 0);
            body(main);
        });
    }
    MainWindowHarness h;
};

TEST_F(Rating, NoMovieMeansNoEngineCall) {
    Start([&](CScriptedWindow& main) {
        main.Dialog().SetDlgItemText(IDC_MOVIE_ID, "");
        const std::size_t calls = h.engine->Calls().size();
        main.Click(IDC_GET_RATING);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Movie not picked...");
        main.Dialog().SetDlgItemText(IDC_RESULTS, "");
        main.Click(IDC_RATE);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Movie not picked...");
        EXPECT_TRUE(h.CallsSince(calls).empty());
    });
}

TEST_F(Rating, RateChecksInOrderThenStoresUnderTheWaitCursor) {
    Start([&](CScriptedWindow& main) {
        const std::size_t calls = h.engine->Calls().size();
        main.Click(IDC_RATE);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Rating is missing...");
        for (const char* text : {"0", "6", "a3", "99999999999", "-99999999999", "-4"}) {
            main.Paste(IDC_RATING, text);
            main.Click(IDC_RATE);
            EXPECT_EQ(main.Text(IDC_RESULTS), "Rating can be between 1 and 5 only.") << text;
        }
        EXPECT_TRUE(h.CallsSince(calls).empty());

        main.Dialog().SetDlgItemText(IDC_RESULTS, "before");
        main.Paste(IDC_RATING, "3a");
        const std::size_t mark = h.log.size();
        main.Click(IDC_RATE);
        EXPECT_EQ(h.Since(mark), (std::vector<std::string>{"GetCurrentUserID()", "GetRating(101,3,)", "BeginWaitCursor",
                                                           "GetCurrentUserID()", "SetNewRating(101,3,3)",
                                                           "EndWaitCursor", "GetCurrentUserID()", "GetInfo(3)"}));
        EXPECT_EQ(main.Text(IDC_RESULTS), "before");
        EXPECT_EQ(main.Text(IDC_RATING), "3a");

        main.Click(IDC_GET_RATING);
        EXPECT_EQ(main.Text(IDC_RESULTS), "The rating is : 3");
        main.Paste(IDC_RATING, "3");
        const std::size_t again = h.engine->Calls().size();
        main.Click(IDC_RATE);
        EXPECT_EQ(main.Text(IDC_RESULTS), "The movie is already rated by you.\nPick a different movie please.");
        EXPECT_EQ(h.CallsSince(again), (std::vector<std::string>{"GetCurrentUserID()", "GetRating(101,3,)"}));

        main.Select(IDC_MOVIE_LIST, 1);
        main.Paste(IDC_RATING, "05");
        main.Click(IDC_RATE);
        EXPECT_EQ((h.engine->ratings[{102, 3}]), 5);
        main.Select(IDC_MOVIE_LIST, 2);
        main.Paste(IDC_RATING, "1");
        main.Click(IDC_RATE);
        EXPECT_EQ((h.engine->ratings[{103, 3}]), 1);
    });
}

TEST_F(Rating, GetRatingShowsAnyNonZeroValue) {
    h.engine->ratings[{101, 3}] = -2;
    Start([&](CScriptedWindow& main) {
        main.Click(IDC_GET_RATING);
        EXPECT_EQ(main.Text(IDC_RESULTS), "The rating is : -2");
        main.Select(IDC_MOVIE_LIST, 1);
        main.Click(IDC_GET_RATING);
        EXPECT_EQ(main.Text(IDC_RESULTS), "There is no rating for this movie yet.");
    });
}

TEST_F(Rating, OnlyTheFifteenthRatingAsksForARefresh) {
    for (long movie = 1; movie <= 13; ++movie) {
        h.engine->ratings[{1000 + movie, 3}] = 4;
    }
    Start([&](CScriptedWindow& main) {
        main.Paste(IDC_RATING, "4");
        int refreshes[3] = {};
        for (int p = 0; p < 3; ++p) {
            main.Select(IDC_MOVIE_LIST, p);
            const std::size_t calls = h.engine->Calls().size();
            main.Click(IDC_RATE);
            for (const std::string& call : h.CallsSince(calls)) {
                refreshes[p] += call == "SetRefresh(1)" ? 1 : 0;
            }
        }
        EXPECT_EQ(refreshes[0], 0); // 14th
        EXPECT_EQ(refreshes[1], 1); // 15th
        EXPECT_EQ(refreshes[2], 0); // 16th
        // The refresh asked for by Rate runs without the wait cursor.
        EXPECT_TRUE(InOrder(h.log, {"GetInfo(3)", "SetRefresh(1)"}));
        const auto refresh = std::find(h.log.begin(), h.log.end(), "SetRefresh(1)");
        EXPECT_NE(*(refresh - 1), "BeginWaitCursor");
    });
}

TEST_F(Rating, FailuresAreReportedAfterTheWaitCursorIsGone) {
    h.engine->ThrowAt("SetNewRating", 1, CMException("Store", "disk full"));
    h.engine->ThrowOtherAt("GetRating", 2);
    Start([&](CScriptedWindow& main) {
        int depthUnderBox = -1;
        h.windows.OnNextMessageBox([&] { depthUnderBox = h.windows.WaitCursorDepth(); });
        main.Dialog().SetDlgItemText(IDC_RESULTS, "before");
        main.Paste(IDC_RATING, "4");
        const std::size_t mark = h.log.size();
        main.Click(IDC_RATE);
        EXPECT_EQ(depthUnderBox, 0);
        EXPECT_TRUE(InOrder(h.Since(mark), {"SetNewRating(101,3,4)", "EndWaitCursor", "MessageBox(Store|disk full)"}));
        EXPECT_FALSE(Contains(h.Since(mark), "GetInfo(3)"));
        EXPECT_EQ(main.Text(IDC_RESULTS), "before");

        main.Click(IDC_GET_RATING);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Unknown internal error");
        // The window goes on working.
        main.Click(IDC_GET_RATING);
        EXPECT_EQ(main.Text(IDC_RESULTS), "There is no rating for this movie yet.");
        EXPECT_FALSE(main.IsEnded());
    });
}

} // namespace
