#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "AfxTypes.h"
#include "MainWindowHarness.h"
#include "MovieTable.h"
#include "ScriptedWindowSystem.h"
#include "TollivexDlg.h"
#include "resource.h"

namespace {

class Prediction : public ::testing::Test {
protected:
    void Start(const std::function<void(CScriptedWindow&)>& body) {
        h.SetTitles({"First"});
        h.engine->users[{"guest", "pw"}] = 3;
        h.engine->canPredict = true;
        h.Run(MainWindowHarness::Login("guest", "pw"), [&](CScriptedWindow& main) {
            main.Select(IDC_MOVIE_LIST, 0);
            body(main);
        });
    }
    std::string Predict(CScriptedWindow& main, double prediction, double average) {
        h.engine->prediction = prediction;
        h.engine->info = std::make_pair(average, 20L);
        main.Click(IDC_PREDICT);
        return main.Text(IDC_RESULTS);
    }
    MainWindowHarness h;
};

TEST(PredictionBand, ThresholdsBelongToTheHigherBandAndNaNGivesOne) {
    EXPECT_EQ(CTollivexDlg::GetPredictionBand(std::nextafter(0.7, 0.0)), 1);
    EXPECT_EQ(CTollivexDlg::GetPredictionBand(0.7), 2);
    EXPECT_EQ(CTollivexDlg::GetPredictionBand(0.85), 3);
    EXPECT_EQ(CTollivexDlg::GetPredictionBand(1.0), 4);
    EXPECT_EQ(CTollivexDlg::GetPredictionBand(1.15), 5);
    EXPECT_EQ(CTollivexDlg::GetPredictionBand(std::numeric_limits<double>::quiet_NaN()), 1);
}

TEST_F(Prediction, BandsAgainstTheUsersAverage) {
    Start([&](CScriptedWindow& main) {
        EXPECT_EQ(Predict(main, 2.8, 4.0), "The prediction is : 2");
        EXPECT_EQ(Predict(main, 3.0, 4.0), "The prediction is : 2");
        EXPECT_EQ(Predict(main, 3.4, 4.0), "The prediction is : 3");
        EXPECT_EQ(Predict(main, 4.0, 4.0), "The prediction is : 4");
        EXPECT_EQ(Predict(main, 4.6, 4.0), "The prediction is : 5");
        EXPECT_EQ(Predict(main, 3.5, 5.0), "The prediction is : 2");
        // An average of 0 divides to an infinity or to a value that is not a number.
        EXPECT_EQ(Predict(main, 3.0, 0.0), "The prediction is : 5");
        EXPECT_EQ(Predict(main, 0.0, 0.0), "The prediction is : 1");
        EXPECT_EQ(Predict(main, -1.0, 0.0), "The prediction is : 1");
    });
}

TEST_F(Prediction, ChecksComeFirstAndTheWholePredictionRunsUnderTheWaitCursor) {
    Start([&](CScriptedWindow& main) {
        std::size_t mark = h.log.size();
        Predict(main, 3.0, 4.0);
        EXPECT_EQ(h.Since(mark),
                  (Log{"CanPredict()", "BeginWaitCursor", "GetCurrentUserID()", "GetPredictedRating(101,3)",
                       "GetCurrentUserID()", "GetInfo(3)", "EndWaitCursor"}));
        h.engine->canPredict = false;
        mark = h.log.size();
        main.Click(IDC_PREDICT);
        EXPECT_EQ(main.Text(IDC_RESULTS), "You must enter at least 15 ratings before you can predict.");
        EXPECT_EQ(h.Since(mark), (Log{"CanPredict()"}));
        main.Dialog().SetDlgItemText(IDC_MOVIE_ID, "");
        mark = h.log.size();
        main.Click(IDC_PREDICT);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Movie not picked...");
        EXPECT_TRUE(h.Since(mark).empty());
    });
}

TEST_F(Prediction, ExactDisplayInfoAndRefresh) {
    Start([&](CScriptedWindow& main) {
        main.Click(IDC_EXACT_PREDICTIONS);
        const std::size_t calls = h.engine->Calls().size();
        EXPECT_EQ(Predict(main, 3.5, 4.0), "The prediction is : 3.500000");
        EXPECT_FALSE(Contains(h.CallsSince(calls), "GetInfo(3)"));
        main.Click(IDC_EXACT_PREDICTIONS);
        EXPECT_EQ(Predict(main, 3.5, 3.5), "The prediction is : 4");

        h.engine->info = std::make_pair(3.5, 7L);
        main.Click(IDC_GET_INFO);
        EXPECT_EQ(main.Text(IDC_RESULTS), "The average is : 3.500000, The number of items rated is : 7");
        const std::size_t mark = h.log.size();
        main.Click(IDC_REFRESH);
        EXPECT_EQ(h.Since(mark), (Log{"BeginWaitCursor", "SetRefresh(1)", "EndWaitCursor"}));
        EXPECT_EQ(main.Text(IDC_RESULTS), "The average is : 3.500000, The number of items rated is : 7");
    });
}

TEST_F(Prediction, FailuresLeaveTheWindowUsable) {
    h.engine->ThrowAt("GetPredictedRating", 1, CMException("Model", "not trained"));
    h.engine->ThrowOtherAt("GetInfo", 1);
    Start([&](CScriptedWindow& main) {
        int depthUnderBox = -1;
        h.windows.OnNextMessageBox([&] { depthUnderBox = h.windows.WaitCursorDepth(); });
        main.Dialog().SetDlgItemText(IDC_RESULTS, "before");
        main.Click(IDC_PREDICT);
        EXPECT_EQ(depthUnderBox, 0);
        EXPECT_EQ(main.Text(IDC_RESULTS), "before");
        ASSERT_EQ(h.windows.MessageBoxes().size(), 1u);
        EXPECT_EQ(h.windows.MessageBoxes()[0].style, MB_OK);
        main.Click(IDC_GET_INFO);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Unknown internal error");
        h.engine->info = std::make_pair(2.0, 1L);
        main.Click(IDC_GET_INFO);
        EXPECT_EQ(main.Text(IDC_RESULTS), "The average is : 2.000000, The number of items rated is : 1");
    });
}

TEST_F(Prediction, AFailedRefreshEndsTheWaitCursorBeforeItIsReported) {
    h.engine->ThrowAt("SetRefresh", 1, CMException("Model", "refresh failed"));
    h.engine->ThrowOtherAt("SetRefresh", 2);
    Start([&](CScriptedWindow& main) {
        main.Dialog().SetDlgItemText(IDC_RESULTS, "before");
        int depthUnderBox = -1;
        h.windows.OnNextMessageBox([&] { depthUnderBox = h.windows.WaitCursorDepth(); });
        std::size_t mark = h.log.size();
        main.Click(IDC_REFRESH);
        EXPECT_EQ(h.Since(mark),
                  (Log{"BeginWaitCursor", "SetRefresh(1)", "EndWaitCursor", "MessageBox(Model|refresh failed)"}));
        EXPECT_EQ(depthUnderBox, 0);
        ASSERT_EQ(h.windows.MessageBoxes().size(), 1u);
        EXPECT_EQ(h.windows.MessageBoxes()[0].owner, nullptr);
        EXPECT_EQ(h.windows.MessageBoxes()[0].style, MB_OK);
        EXPECT_EQ(main.Text(IDC_RESULTS), "before");

        // Anything else: the cursor ends all the same, and the results pane says so.
        mark = h.log.size();
        main.Click(IDC_REFRESH);
        EXPECT_EQ(h.Since(mark), (Log{"BeginWaitCursor", "SetRefresh(1)", "EndWaitCursor"}));
        EXPECT_EQ(h.windows.WaitCursorDepth(), 0);
        EXPECT_EQ(h.windows.MessageBoxes().size(), 1u);
        EXPECT_EQ(main.Text(IDC_RESULTS), "Unknown internal error");

        // The window goes on: the next Refresh succeeds and leaves the pane alone.
        main.Dialog().SetDlgItemText(IDC_RESULTS, "after");
        main.Click(IDC_REFRESH);
        EXPECT_EQ(main.Text(IDC_RESULTS), "after");
        EXPECT_EQ(h.windows.WaitCursorDepth(), 0);
    });
}

} // namespace
