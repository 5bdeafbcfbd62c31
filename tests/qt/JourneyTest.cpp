// A user's whole journey through the real windows and the real engine, on a small data set made here: register,
// search, rate until predictions are allowed, predict banded and exact, read the statistics, open the details,
// close; then start again and log in with the same name and password.

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "EngineFixtures.h"
#include "QtDialogWindow.h"
#include "QtReportList.h"
#include "QtTestHelpers.h"
#include "QtWindowSystem.h"
#include "ScriptedEngine.h"
#include "TollivexDlg.h"
#include "WinApp.h"
#include "WindowSystem.h"
#include "resource.h"

namespace {

namespace fs = std::filesystem;

// Twenty movies (ids 101 to 120, so ids and catalogue numbers differ) and six users who rated most of them.
void WriteDataSet(const fs::path& folder) {
    fs::create_directories(folder);
    std::ofstream(folder / "files.txt") << "format = movielens-100k\nmovies = u.item\nratings = u.data\n"
                                           "store = quillory.sqlite\n";
    std::ofstream movies(folder / "u.item");
    for (int number = 1; number <= 20; ++number) {
        std::string title = number == 1   ? "Harbor (1990)"
                            : number == 2 ? "Meadow (1991)"
                            : number == 3 ? "Harbor Lights (1992)"
                                          : "Film Number " + std::to_string(number) + " (1995)";
        movies << 100 + number << '|' << title << "|01-Jan-1995||http://example.org/movie/" << 100 + number;
        for (int flag = 0; flag < 19; ++flag) {
            movies << "|0";
        }
        movies << '\n';
    }
    std::ofstream ratings(folder / "u.data");
    for (int user = 1; user <= 6; ++user) {
        for (int number = 1; number <= 20; ++number) {
            if ((user + number) % 3 != 0) {
                ratings << user << '\t' << 100 + number << '\t' << 1 + (user * number) % 5 << "\t880000000\n";
            }
        }
    }
}

// The program's working folder for the test, removed afterwards.
class CJourneyFolder {
public:
    CJourneyFolder() : m_previous(fs::current_path()) {
        WriteDataSet(m_folder.Path() / "MovieData");
        fs::current_path(m_folder.Path());
    }
    ~CJourneyFolder() {
        std::error_code ignored;
        fs::current_path(m_previous, ignored);
    }
    CJourneyFolder(const CJourneyFolder&) = delete;
    CJourneyFolder& operator=(const CJourneyFolder&) = delete;

private:
    fs::path m_previous;
    quillory::test::CTempFolder m_folder;
};

// What a person does in the main window.
class CUser {
public:
    explicit CUser(CQtDialogWindow* window) : m_window(window) {}

    QString Text(int id) const { return CQtDialogWindow::ControlText(m_window->Control(id)); }
    std::string Results() const { return Text(IDC_RESULTS).toStdString(); }
    void Click(int id) { QTest::mouseClick(m_window->Control(id), Qt::LeftButton); }
    void Type(int id, const QString& text) {
        auto* edit = qobject_cast<QLineEdit*>(m_window->Control(id));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    QListWidget* List() const { return qobject_cast<QListWidget*>(m_window->Control(IDC_MOVIE_LIST)); }
    QString ListName(int id) const { return m_window->Control(id)->accessibleName(); }
    void ClickRow(int row) {
        QListWidgetItem* item = List()->item(row);
        List()->scrollToItem(item);
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier, List()->visualItemRect(item).center());
    }
    void DoubleClickRow(int row) {
        ClickRow(row);
        QListWidgetItem* item = List()->item(row);
        QTest::mouseDClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier, List()->visualItemRect(item).center());
    }

private:
    CQtDialogWindow* m_window;
};

void Press(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(window->focusWidget(), key, modifiers);
}

// Answers the login dialog: types the name and password, then clicks OK or New User. A registration opens the
// newcomer's picks, where `inPicks` runs (by default Escape closes them). Then runs `body` in the main window once it
// shows.
void LoginThen(
    const QString& name, const QString& password, bool newUser, std::function<void(CUser&)> body,
    std::function<void(QWidget*)> inPicks = [](QWidget* picks) { Press(picks, Qt::Key_Escape); }) {
    WhenShown([](QWidget* widget) { return widget == FindShownWindow(IDD_LOGIN_DIALOG); },
              [=](QWidget* widget) {
                  auto* login = qobject_cast<CQtDialogWindow*>(widget);
                  CUser user(login);
                  user.Type(IDC_LOGIN_USER_NAME, name);
                  user.Type(IDC_LOGIN_PASSWORD, password);
                  WhenShown([](QWidget* main) { return main == FindShownWindow(IDD_TOLLIVEX_DIALOG); },
                            [body](QWidget* main) {
                                auto* window = qobject_cast<CQtDialogWindow*>(main);
                                CUser inMain(window);
                                body(inMain);
                                // A body that stopped early (a failed assertion) must not leave the run hanging.
                                if (!window->IsEnded()) {
                                    window->End(-1);
                                }
                            });
                  if (newUser) {
                      WhenShown([](QWidget* picks) { return picks == FindShownWindow(IDD_PICKS_DIALOG); }, inPicks);
                  }
                  user.Click(newUser ? IDC_LOGIN_NEW_USER : IDOK);
              });
}

TEST(JourneyTest, RegisterRatePredictAndComeBack) {
    CJourneyFolder folder;
    CQtWindowSystem windows;
    AfxSetWindowSystem(&windows);
    CWinApp app;
    std::string userLine;

    {
        CTollivexDlg dlg;
        app.m_pMainWnd = &dlg;
        LoginThen("walker", "open sesame", /*newUser=*/true, [&](CUser& user) {
            userLine = user.Text(IDC_CURRENT_USER).toStdString();
            EXPECT_TRUE(std::regex_match(userLine, std::regex("UserName: walker, UserID: [0-9]+"))) << userLine;
            // Every movie of the catalogue, in catalogue order.
            ASSERT_EQ(user.List()->count(), 20);
            EXPECT_EQ(user.List()->item(0)->text(), QStringLiteral("Harbor (1990)"));

            // Typing part of a title finds it; Enter in the search field asks for the rating.
            user.Type(IDC_SEARCH_TEXT, QStringLiteral("harbor l"));
            EXPECT_EQ(user.List()->currentRow(), 2);
            EXPECT_EQ(user.Text(IDC_MOVIE_ID), QStringLiteral("103"));
            QTest::keyClick(user.List()->window()->focusWidget(), Qt::Key_Return);
            EXPECT_EQ(user.Results(), "There is no rating for this movie yet.");
            user.Click(IDC_PREDICT);
            EXPECT_EQ(user.Results(), "You must enter at least 15 ratings before you can predict.");

            user.Type(IDC_RATING, QStringLiteral("9"));
            user.Click(IDC_RATE);
            EXPECT_EQ(user.Results(), "Rating can be between 1 and 5 only.");

            // Fifteen ratings, 1 to 5 three times over; success leaves the results pane as it was.
            for (int row = 0; row < 15; ++row) {
                user.ClickRow(row);
                user.Type(IDC_RATING, QString::number(row % 5 + 1));
                user.Click(IDC_RATE);
            }
            EXPECT_EQ(user.Results(), "Rating can be between 1 and 5 only.");
            user.ClickRow(0);
            user.Click(IDC_RATE);
            EXPECT_EQ(user.Results(), "The movie is already rated by you.\nPick a different movie please.");
            user.Click(IDC_GET_RATING);
            EXPECT_EQ(user.Results(), "The rating is : 1");
            user.Click(IDC_GET_INFO);
            EXPECT_EQ(user.Results(), "The average is : 3.000000, The number of items rated is : 15");

            user.ClickRow(17);
            user.Click(IDC_PREDICT);
            EXPECT_TRUE(std::regex_match(user.Results(), std::regex("The prediction is : [1-5]"))) << user.Results();
            user.Click(IDC_EXACT_PREDICTIONS);
            user.Click(IDC_PREDICT);
            EXPECT_TRUE(std::regex_match(user.Results(), std::regex("The prediction is : [0-9]+\\.[0-9]{6}")))
                << user.Results();

            // The details of catalogue number 18 (list position 17), read-only, closed with OK.
            std::string name;
            std::string url;
            WhenShown([](QWidget* widget) { return widget == FindShownWindow(IDD_MOVIE_DIALOG); },
                      [&](QWidget* widget) {
                          CUser details(qobject_cast<CQtDialogWindow*>(widget));
                          name = details.Text(IDC_DETAIL_NAME).toStdString();
                          url = details.Text(IDC_DETAIL_URL).toStdString();
                          details.Click(IDOK);
                      });
            user.DoubleClickRow(17);
            EXPECT_EQ(name, "Film Number 18");
            EXPECT_EQ(url, "http://example.org/movie/118");

            user.Click(IDOK); // "Close Program"
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
        app.m_pMainWnd = nullptr;
    }

    // Start again: the same name and password give the same user and his ratings.
    {
        CTollivexDlg dlg;
        app.m_pMainWnd = &dlg;
        std::string againLine;
        std::string info;
        LoginThen("walker", "open sesame", /*newUser=*/false, [&](CUser& user) {
            againLine = user.Text(IDC_CURRENT_USER).toStdString();
            user.Click(IDC_GET_INFO);
            info = user.Results();
            QTest::keyClick(user.List()->window()->focusWidget(), Qt::Key_Escape);
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        app.m_pMainWnd = nullptr;
        EXPECT_EQ(againLine, userLine);
        EXPECT_EQ(info, "The average is : 3.000000, The number of items rated is : 15");
    }
    AfxSetWindowSystem(nullptr);
}

TEST(JourneyTest, WithNobodyLoggedInEveryCommandForTheUserSaysToLogIn) {
    CJourneyFolder folder;
    CQtWindowSystem windows;
    AfxSetWindowSystem(&windows);
    CWinApp app;
    std::vector<std::string> said;
    {
        CTollivexDlg dlg;
        app.m_pMainWnd = &dlg;
        WhenShown([](QWidget* widget) { return widget == FindShownWindow(IDD_LOGIN_DIALOG); },
                  [&](QWidget* widget) {
                      WhenShown([](QWidget* main) { return main == FindShownWindow(IDD_TOLLIVEX_DIALOG); },
                                [&](QWidget* main) {
                                    auto* window = qobject_cast<CQtDialogWindow*>(main);
                                    CUser user(window);
                                    user.ClickRow(4);
                                    user.Type(IDC_RATING, QStringLiteral("4"));
                                    for (const int command : {IDC_GET_INFO, IDC_GET_RATING, IDC_RATE, IDC_PREDICT}) {
                                        WhenShown([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
                                                  [&](QWidget* w) {
                                                      auto* box = qobject_cast<QMessageBox*>(w);
                                                      said.push_back(box->windowTitle().toStdString() + "|" +
                                                                     box->text().toStdString());
                                                      box->button(QMessageBox::Ok)->click();
                                                  });
                                        user.Click(command);
                                    }
                                    EXPECT_EQ(user.Text(IDC_CURRENT_USER), QString());
                                    if (!window->IsEnded()) {
                                        window->End(IDOK);
                                    }
                                });
                      CUser(qobject_cast<CQtDialogWindow*>(widget)).Click(IDCANCEL);
                  });
        EXPECT_EQ(dlg.DoModal(), IDOK);
        app.m_pMainWnd = nullptr;
    }
    AfxSetWindowSystem(nullptr);
    const std::string nobody = "Quillory engine error|Nobody is logged in. Log in first.";
    EXPECT_EQ(said, (std::vector<std::string>{nobody, nobody, nobody, nobody}));
}

// By keyboard alone over a scripted engine: log in, Ctrl+T, Down and Enter go to the second pick with the keyboard in
// the main list; Tab to Predict, Enter. The first Ctrl+T meets an engine failure.
TEST(JourneyTest, KeyboardAloneFromTopPicksToAPrediction) {
    CQtWindowSystem windows;
    AfxSetWindowSystem(&windows);
    CWinApp app;
    auto engine = std::make_unique<CScriptedEngine>();
    engine->movies = {{"Heat (1995)", 101, "", ""}, {"Toy Story (1995)", 102, "", ""}, {"Jumanji (1995)", 103, "", ""}};
    engine->users[{"guest", "pw"}] = 3;
    engine->canPredict = true;
    engine->prediction = 4.6;
    engine->info = std::make_pair(4.0, 20L);
    engine->picks = {{102, 4.3, 101, 5}, {103, 4.1, 101, 5}};
    engine->ThrowAt("GetTopPicksWithReasons", 1, CMException("Quillory engine error", "Not yet."));
    CTollivexDlg dlg{CMovieTable(std::move(engine))};
    app.m_pMainWnd = &dlg;
    const auto shown = [](int id) { return [id](QWidget* w) { return w == FindShownWindow(id); }; };
    WhenShown(shown(IDD_LOGIN_DIALOG), [&](QWidget* login) {
        WhenShown(shown(IDD_TOLLIVEX_DIALOG), [&](QWidget* window) {
            auto* main = qobject_cast<CQtDialogWindow*>(window);
            CUser user(main);
            // The bar sits above the client area, whose controls keep their places.
            EXPECT_EQ(main->Control(IDOK)->y(), main->MenuBar()->height() + main->Units().ToPixelsY(7));
            // The engine's message first; once it is dismissed, the main window takes the keyboard back.
            WhenShown([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
                      [](QWidget* box) { Press(box, Qt::Key_Return); });
            Press(main, Qt::Key_T, Qt::ControlModifier);
            EXPECT_TRUE(QTest::qWaitForWindowActive(main));
            WhenShown(shown(IDD_PICKS_DIALOG), [&](QWidget* picks) {
                EXPECT_EQ(CUser(qobject_cast<CQtDialogWindow*>(picks)).ListName(IDC_CHOICE_LIST), "Top picks");
                Press(picks, Qt::Key_Down);
                Press(picks, Qt::Key_Return);
            });
            Press(main, Qt::Key_T, Qt::ControlModifier);
            EXPECT_EQ(user.List()->currentRow(), 2);
            EXPECT_EQ(user.Text(IDC_MOVIE_ID), QStringLiteral("103"));
            EXPECT_EQ(main->focusWidget(), user.List());
            for (int tabs = 0; tabs < 20 && main->focusWidget() != main->Control(IDC_PREDICT); ++tabs) {
                Press(main, Qt::Key_Tab);
            }
            Press(main, Qt::Key_Return);
            EXPECT_EQ(user.Results(), "The prediction is : 5");
            Press(main, Qt::Key_Escape);
        });
        CUser inLogin(qobject_cast<CQtDialogWindow*>(login));
        inLogin.Type(IDC_LOGIN_USER_NAME, QStringLiteral("guest"));
        inLogin.Type(IDC_LOGIN_PASSWORD, QStringLiteral("pw"));
        Press(login, Qt::Key_Return);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    AfxSetWindowSystem(nullptr);
}

// A newcomer's first minutes on the real engine: he registers, his picks open by themselves, he rates fifteen of
// them with the number keys, the picks become his own with their reasons, he goes to one, and Enter asks its rating.
TEST(JourneyTest, ANewcomerRatesFifteenPicksByKeyAndGetsHisOwn) {
    CJourneyFolder folder;
    CQtWindowSystem windows;
    AfxSetWindowSystem(&windows);
    CWinApp app;
    std::vector<std::string> notes;
    QString because;
    long chosen = 0;
    {
        CTollivexDlg dlg;
        app.m_pMainWnd = &dlg;
        const auto ratePicks = [&](QWidget* widget) {
            auto* picks = qobject_cast<CQtDialogWindow*>(widget);
            // The rating keys are the window's while it is the active one, as it is when a person sees it.
            ASSERT_TRUE(QTest::qWaitForWindowActive(picks));
            auto* list = qobject_cast<CQtReportList*>(picks->Control(IDC_CHOICE_LIST));
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(picks->focusWidget(), list);
            const QString note = CQtDialogWindow::ControlText(picks->Control(IDC_CHOICE_NOTE));
            notes.push_back(note.toStdString());
            for (int rating = 0; rating < 15; ++rating) {
                const int before = list->RowCount();
                Press(picks, static_cast<Qt::Key>(Qt::Key_3 + rating % 3));
                EXPECT_EQ(list->RowCount(), before - 1) << "rating " << rating + 1;
                if (rating == 0 || rating == 13) {
                    notes.push_back(CQtDialogWindow::ControlText(picks->Control(IDC_CHOICE_NOTE)).toStdString());
                }
            }
            notes.push_back(CQtDialogWindow::ControlText(picks->Control(IDC_CHOICE_NOTE)).toStdString());
            ASSERT_GT(list->RowCount(), 0);
            for (int row = 0; row < list->RowCount() && because.isEmpty(); ++row) {
                because = list->CellText(row, 5);
            }
            Press(picks, Qt::Key_End);
            chosen = list->Selection().value_or(0);
            Press(picks, Qt::Key_Return);
        };
        LoginThen(
            "newcomer", "first steps", /*newUser=*/true,
            [&](CUser& user) {
                // Back from the picks: the chosen movie is selected in the main list, which has the keyboard.
                EXPECT_EQ(user.Text(IDC_MOVIE_ID), QString::number(chosen));
                EXPECT_EQ(user.List()->window()->focusWidget(), user.List());
                QTest::keyClick(user.List(), Qt::Key_Return);
                EXPECT_EQ(user.Results(), "There is no rating for this movie yet.");
                user.Click(IDC_GET_INFO);
                EXPECT_EQ(user.Results().substr(user.Results().size() - 2), "15");
                QTest::keyClick(user.List(), Qt::Key_Escape);
            },
            ratePicks);
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        app.m_pMainWnd = nullptr;
    }
    AfxSetWindowSystem(nullptr);
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "Rate movies you have seen: select one and press 1 to 5. 15 more ratings make these picks "
                         "your own.",
                         "Rate movies you have seen: select one and press 1 to 5. 14 more ratings make these picks "
                         "your own.",
                         "Rate movies you have seen: select one and press 1 to 5. 1 more rating makes these picks your "
                         "own.",
                         "Picked for you from your 15 ratings"}));
    EXPECT_TRUE(std::regex_match(because.toStdString(), std::regex(".+ \\([0-9]{4}\\), [45] stars")))
        << because.toStdString();
}

} // namespace
