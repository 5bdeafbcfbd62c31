#include <gtest/gtest.h>

#include "MainWindowHarness.h"

namespace {

TEST(SystemMenu, AboutEntryIsAppendedOnlyWhenItsTextExists) {
    {
        MainWindowHarness h;
        h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
            const auto& menu = main.SystemMenu();
            ASSERT_EQ(menu.size(), 2u);
            EXPECT_EQ(menu[0].flags, MF_SEPARATOR);
            EXPECT_EQ(menu[1].flags, MF_STRING);
            EXPECT_EQ(menu[1].id, static_cast<UINT_PTR>(IDM_ABOUTBOX));
            EXPECT_EQ(menu[1].text, "&About Tollivex...");
        });
    }
    {
        MainWindowHarness h;
        h.windows.Strings().erase(IDS_ABOUTBOX);
        h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) { EXPECT_TRUE(main.SystemMenu().empty()); });
    }
    {
        MainWindowHarness h;
        h.windows.Strings()[IDS_ABOUTBOX] = "";
        h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) { EXPECT_TRUE(main.SystemMenu().empty()); });
    }
    {
        // No system menu at all: nothing is added and start-up goes on.
        MainWindowHarness h;
        h.windows.SetNoSystemMenu(IDD_TOLLIVEX_DIALOG);
        bool ran = false;
        h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
            ran = true;
            EXPECT_TRUE(main.SystemMenu().empty());
        });
        EXPECT_TRUE(ran);
    }
}

TEST(SystemMenu, AnyCommandWhoseMaskedIdIsTheAboutEntryOpensTheAboutBox) {
    MainWindowHarness h;
    int aboutRuns = 0;
    h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
        for (UINT id = 0x0010; id <= 0x001F; ++id) {
            h.windows.ExpectModal(IDD_ABOUTBOX, [&](CScriptedWindow& about) {
                ++aboutRuns;
                about.Click(IDOK);
            });
            main.SysCommand(id);
        }
        // 0x0020 is not the About entry: the About box stays closed.
        main.SysCommand(0x0020);
        EXPECT_FALSE(main.IsEnded());
    });
    EXPECT_EQ(aboutRuns, 16);
    EXPECT_EQ(h.windows.PendingModalSteps(), 0u);
}

TEST(SystemMenu, MinimisedWindowCentresItsIconTruncatingTowardsZero) {
    MainWindowHarness h;
    h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
        main.SetIconic(true);
        main.SetClientSize(100, 100);
        std::size_t mark = h.log.size();
        main.Paint();
        EXPECT_TRUE(InOrder(h.Since(mark), {"EraseIconBkgnd", "DrawIcon(34,34)"}));

        main.SetClientSize(20, 20);
        mark = h.log.size();
        main.Paint();
        EXPECT_TRUE(InOrder(h.Since(mark), {"EraseIconBkgnd", "DrawIcon(-5,-5)"}));

        h.windows.SetIconMetrics(16, 48);
        main.SetClientSize(100, 20);
        mark = h.log.size();
        main.Paint();
        EXPECT_TRUE(Contains(h.Since(mark), "DrawIcon(42,-13)"));

        // Not minimised: the default painting, no icon.
        main.SetIconic(false);
        mark = h.log.size();
        main.Paint();
        for (const std::string& entry : h.Since(mark)) {
            EXPECT_EQ(entry.rfind("DrawIcon", 0), std::string::npos) << entry;
        }

        EXPECT_EQ(main.Dialog().WindowProc(WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(main.Icon(true)));
    });
}

} // namespace
