// Top picks by keyboard alone, on the real widgets over a scripted engine: Ctrl+T, Down, Enter, then Tab to Predict.

#include <memory>
#include <string>
#include <utility>

#include <QListWidget>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include "QtDialogWindow.h"
#include "QtTestHelpers.h"
#include "QtWindowSystem.h"
#include "ScriptedEngine.h"
#include "TollivexDlg.h"
#include "WinApp.h"
#include "resource.h"

namespace {

QString Text(CQtDialogWindow* window, int id) {
    return CQtDialogWindow::ControlText(window->Control(id));
}

void Press(CQtDialogWindow* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(window->focusWidget(), key, modifiers);
}

TEST(MovieChoiceJourney, KeyboardAloneFromTopPicksToAPrediction) {
    CQtWindowSystem windows;
    AfxSetWindowSystem(&windows);
    CWinApp app;
    auto engine = std::make_unique<CScriptedEngine>();
    engine->movies = {{"Heat (1995)", 101, "Heat", ""},
                      {"Toy Story (1995)", 102, "Toy Story", ""},
                      {"Jumanji (1995)", 103, "Jumanji", ""}};
    engine->currentUser = 3;
    engine->canPredict = true;
    engine->prediction = 4.6;
    engine->info = std::make_pair(4.0, 20L);
    engine->picks = {{102, 4.3, 101, 5}, {103, 4.1, 101, 5}};
    std::string listName;
    {
        CTollivexDlg dlg{CMovieTable(std::move(engine))};
        app.m_pMainWnd = &dlg;
        WhenShown([](QWidget* w) { return w == FindShownWindow(IDD_LOGIN_DIALOG); },
                  [&](QWidget* login) {
                      WhenShown(
                          [](QWidget* w) { return w == FindShownWindow(IDD_TOLLIVEX_DIALOG); },
                          [&](QWidget* shown) {
                              auto* main = qobject_cast<CQtDialogWindow*>(shown);
                              // The bar sits above the template's client area, which keeps its size and its controls'
                              // places.
                              EXPECT_EQ(main->ClientTop(), main->MenuBar()->height());
                              EXPECT_EQ(main->Control(IDOK)->y(), main->ClientTop() + main->Units().ToPixelsY(7));
                              WhenShown([](QWidget* w) { return w == FindShownWindow(IDD_PICKS_DIALOG); },
                                        [&](QWidget* picks) {
                                            auto* dialog = qobject_cast<CQtDialogWindow*>(picks);
                                            listName = dialog->Control(IDC_CHOICE_LIST)->accessibleName().toStdString();
                                            Press(dialog, Qt::Key_Down);
                                            Press(dialog, Qt::Key_Return);
                                        });
                              Press(main, Qt::Key_T, Qt::ControlModifier);
                              EXPECT_EQ(qobject_cast<QListWidget*>(main->Control(IDC_MOVIE_LIST))->currentRow(), 2);
                              EXPECT_EQ(Text(main, IDC_MOVIE_ID), QStringLiteral("103"));
                              for (int tabs = 0; tabs < 20 && main->focusWidget() != main->Control(IDC_PREDICT);
                                   ++tabs) {
                                  Press(main, Qt::Key_Tab);
                              }
                              Press(main, Qt::Key_Return);
                              EXPECT_EQ(Text(main, IDC_RESULTS), QStringLiteral("The prediction is : 5"));
                              Press(main, Qt::Key_Escape);
                          });
                      Press(qobject_cast<CQtDialogWindow*>(login), Qt::Key_Escape);
                  });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        app.m_pMainWnd = nullptr;
    }
    AfxSetWindowSystem(nullptr);
    EXPECT_EQ(listName, "Top picks");
}

} // namespace
