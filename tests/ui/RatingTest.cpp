#include <gtest/gtest.h>

#include <functional>

#include "MainWindowHarness.h"
#include "ScriptedWindowSystem.h"
#include "resource.h"

namespace {

// A running main window with user 3 logged in and the movie at position 0 (id 101) selected.
class Rating : public ::testing::Test {
protected:
    void Start(const std::function<void(CScriptedWindow&)>& body) {
        h.SetTitles({"First", "Second", "Third"});
        h.engine->users[{"guest", "pw"}] = 3;
        h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
            main.Select(IDC_MOVIE_LIST, 0);
            body(main);
        });
    }
    MainWindowHarness h;
};

TEST_F(Rating, RateChecksInOrderThenStoresUnderTheWaitCursor) {
    Start([&](CScriptedWindow& main) {
        const std::size_t calls = h.engine->Calls().size();
        main.Dialog().SetDlgItemText(IDC_MOVIE_ID, "");
        main.Click(IDC_RATE);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Movie not picked...");
        main.Click(IDC_GET_RATING);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Movie not picked...");
        main.Dialog().SetDlgItemText(IDC_MOVIE_ID, "101");
        main.Click(IDC_RATE);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Rating is missing...");
        for (const char* text : {"0", "6", "a3", "99999999999", "-99999999999"}) {
            main.Paste(IDC_RATING, text);
            main.Click(IDC_RATE);
            EXPECT_EQ(main.Text(IDC_RESULTS), "Rating can be between 1 and 5 only.") << text;
        }
        EXPECT_TRUE(h.CallsSince(calls).empty());

        main.Dialog().SetDlgItemText(IDC_RESULTS, "before");
        main.Paste(IDC_RATING, "3a");
        const std::size_t mark = h.log.size();
        main.Click(IDC_RATE);
        EXPECT_EQ(h.Since(mark),
                  (Log{"GetCurrentUserID()", "GetRating(101,3,)", "BeginWaitCursor", "GetCurrentUserID()",
                       "SetNewRating(101,3,3)", "EndWaitCursor", "GetCurrentUserID()", "GetInfo(3)"}));
        EXPECT_EQ(main.Text(IDC_RESULTS), "before");

        main.Click(IDC_GET_RATING);
        EXPECT_EQ(main.Text(IDC_RESULTS), "The rating is : 3");
        main.Click(IDC_RATE);
        EXPECT_EQ(main.Text(IDC_RESULTS), "The movie is already rated by you.\nPick a different movie please.");
        main.Select(IDC_MOVIE_LIST, 1);
        main.Click(IDC_GET_RATING);
        EXPECT_EQ(main.Text(IDC_RESULTS), "There is no rating for this movie yet.");
        main.Paste(IDC_RATING, "05");
        main.Click(IDC_RATE);
        EXPECT_EQ((h.engine->ratings[{102, 3}]), 5);
    });
}

TEST_F(Rating, OnlyTheFifteenthRatingAsksForARefresh) {
    for (long movie = 1; movie <= 13; ++movie) {
        h.engine->ratings[{1000 + movie, 3}] = 4;
    }
    Start([&](CScriptedWindow& main) {
        main.Paste(IDC_RATING, "4");
        Log refreshes;
        for (int p = 0; p < 3; ++p) {
            main.Select(IDC_MOVIE_LIST, p);
            const std::size_t mark = h.log.size();
            main.Click(IDC_RATE);
            refreshes.push_back(h.Since(mark).back());
        }
        // The 14th and the 16th end with GetInfo; the 15th asks for a refresh, without a wait cursor.
        EXPECT_EQ(refreshes, (Log{"GetInfo(3)", "SetRefresh(1)", "GetInfo(3)"}));
    });
}

TEST_F(Rating, FailuresAreReportedAfterTheWaitCursorIsGone) {
    h.engine->ThrowAt("SetNewRating", 1, CMException("Store", "disk full"));
    h.engine->ThrowOtherAt("GetRating", 2);
    Start([&](CScriptedWindow& main) {
        int depthUnderBox = -1;
        h.windows.OnNextMessageBox([&] { depthUnderBox = h.windows.WaitCursorDepth(); });
        main.Paste(IDC_RATING, "4");
        const std::size_t mark = h.log.size();
        main.Click(IDC_RATE);
        EXPECT_EQ(depthUnderBox, 0);
        EXPECT_EQ(h.Since(mark).back(), "MessageBox(Store|disk full)");
        main.Click(IDC_GET_RATING);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Unknown internal error");
        main.Click(IDC_GET_RATING); // the window goes on working
        EXPECT_EQ(main.Text(IDC_RESULTS), "There is no rating for this movie yet.");
    });
}

} // namespace
