#include <gtest/gtest.h>

#include "AfxTypes.h"
#include "MainWindowHarness.h"
#include "ScriptedWindowSystem.h"
#include "resource.h"

namespace {

TEST(SystemMenu, AboutEntryIsAppendedOnlyWhenItsTextExists) {
    MainWindowHarness h;
    h.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) {
        const auto& menu = main.SystemMenu();
        ASSERT_EQ(menu.size(), 2u);
        EXPECT_EQ(menu[0].flags, MF_SEPARATOR);
        EXPECT_EQ(menu[1].id, static_cast<UINT_PTR>(IDM_ABOUTBOX));
        EXPECT_EQ(menu[1].text, "&About Tollivex...");
    });
    MainWindowHarness missing;
    missing.windows.Strings().erase(IDS_ABOUTBOX);
    missing.Run(MainWindowHarness::Cancel(), [](CScriptedWindow& main) { EXPECT_TRUE(main.SystemMenu().empty()); });
    MainWindowHarness none;
    none.windows.SetNoSystemMenu(IDD_TOLLIVEX_DIALOG);
    bool ran = false;
    none.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow&) { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(SystemMenu, TheAboutEntryOpensTheAboutBoxWhateverItsLowFourBits) {
    struct Case {
        UINT id;
        bool opensAbout;
    };
    const Case cases[] = {{0x0010, true}, {0x0013, true}, {0x001F, true}, {0x0020, false}, {0x000F, false}};
    MainWindowHarness h;
    h.Run(MainWindowHarness::Cancel(), [&](CScriptedWindow& main) {
        for (const Case& c : cases) {
            int aboutRuns = 0;
            if (c.opensAbout) {
                h.windows.ExpectModal(IDD_ABOUTBOX, [&](CScriptedWindow& about) {
                    ++aboutRuns;
                    about.Click(IDOK);
                });
            }
            main.SysCommand(c.id); // an unexpected About box would fail the script
            EXPECT_EQ(aboutRuns, c.opensAbout ? 1 : 0) << c.id;
            EXPECT_FALSE(main.IsEnded());
        }
    });
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
        EXPECT_EQ(main.Dialog().WindowProc(WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(main.Icon(true)));
    });
}

} // namespace
