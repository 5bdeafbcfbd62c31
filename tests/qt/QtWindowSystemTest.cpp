// What only the Qt toolkit can get wrong: real widgets, their places, keys, focus, menus and windows.

#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include "AfxTypes.h"
#include "CString.h"
#include "PaintDC.h"
#include "QtDialogWindow.h"
#include "QtDriver.h"
#include "QtReportList.h"
#include "QtTestHelpers.h"
#include "RecordingDialog.h"
#include "ReportList.h"
#include "Resources.h"
#include "WinApp.h"
#include "WindowSystem.h"
#include "resource.h"

namespace {

class QtWindowSystemTest : public ::testing::Test {
protected:
    CQtDialogWindow* Open(CRecordingDialog& dialog) {
        m_driver.Open(dialog);
        return m_driver.Window();
    }

    CQtDriver m_driver;
};

int Round(double value) {
    return static_cast<int>(std::lround(value));
}

TEST_F(QtWindowSystemTest, MainWindowHasItsTwentyControlsAtTheirTemplatePlaces) {
    CRecordingDialog dialog(IDD_TOLLIVEX_DIALOG);
    CQtDialogWindow* window = Open(dialog);
    const DialogTemplate& tmpl = *FindDialogTemplate(IDD_TOLLIVEX_DIALOG);

    // Liberation Sans stands in for the template's font, which gives the intended 6-pixel horizontal unit.
    EXPECT_EQ(QFontInfo(window->font()).family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(QFontInfo(window->font()).pointSize(), 8);
    const int baseX = window->Units().BaseX();
    const int baseY = window->Units().BaseY();
    EXPECT_EQ(baseX, 6);
    EXPECT_GE(baseY, 12);
    EXPECT_LE(baseY, 14);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quillory"));
    EXPECT_EQ(window->size(), QSize(Round(412 * baseX / 4.0), Round(268 * baseY / 8.0)));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window must not be resizable";

    ASSERT_EQ(window->Controls().size(), 20u);
    for (std::size_t i = 0; i < tmpl.controls.size(); ++i) {
        const ControlTemplate& control = tmpl.controls[i];
        const auto& [entry, widget] = window->Controls()[i];
        SCOPED_TRACE(::testing::Message() << "control " << i << " id " << control.id);
        EXPECT_EQ(entry, &control);
        const QRect expected(Round(control.x * baseX / 4.0), Round(control.y * baseY / 8.0),
                             Round(control.cx * baseX / 4.0), Round(control.cy * baseY / 8.0));
        EXPECT_EQ(widget->pos(), expected.topLeft());
        EXPECT_EQ(widget->height(), expected.height());
        EXPECT_GE(widget->width(), expected.width());
        switch (control.kind) {
        case ControlKind::PushButton:
            EXPECT_NE(qobject_cast<QPushButton*>(widget), nullptr);
            EXPECT_EQ(widget->width(), expected.width());
            break;
        case ControlKind::Edit:
            EXPECT_NE(qobject_cast<QLineEdit*>(widget), nullptr);
            break;
        case ControlKind::StaticText:
        case ControlKind::StaticIcon:
            EXPECT_NE(qobject_cast<QLabel*>(widget), nullptr);
            break;
        case ControlKind::ListBox:
            EXPECT_NE(qobject_cast<QListWidget*>(widget), nullptr);
            break;
        case ControlKind::CheckBox:
            EXPECT_NE(qobject_cast<QCheckBox*>(widget), nullptr);
            break;
        case ControlKind::GroupBox:
            EXPECT_NE(qobject_cast<QGroupBox*>(widget), nullptr);
            break;
        case ControlKind::ReportList:
            ADD_FAILURE() << "the main window has no report list";
            break;
        }
    }
    // The results pane wraps its words; the search and rating edits are plain edits; the check box starts clear.
    auto* results = qobject_cast<QLabel*>(window->Control(IDC_RESULTS));
    ASSERT_NE(results, nullptr);
    EXPECT_TRUE(results->wordWrap());
    EXPECT_NE(results->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(m_driver.System().GetCheck(dialog.GetDlgItem(IDC_EXACT_PREDICTIONS)), BST_UNCHECKED);
    EXPECT_TRUE(qobject_cast<QLineEdit*>(window->Control(IDC_CURRENT_USER))->isReadOnly());
}

TEST_F(QtWindowSystemTest, HiddenControlsStayHiddenAndOutOfTheTabOrder) {
    CRecordingDialog dialog(IDD_TOLLIVEX_DIALOG);
    CQtDialogWindow* window = Open(dialog);
    std::set<const QWidget*> hidden;
    std::vector<QWidget*> expectedTabOrder;
    for (const auto& [control, widget] : window->Controls()) {
        if ((control->style & CS_HIDDEN) != 0) {
            hidden.insert(widget);
            EXPECT_FALSE(widget->isVisible()) << control->id;
            EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus) << control->id;
        } else if ((control->style & CS_TABSTOP) != 0) {
            expectedTabOrder.push_back(widget);
        }
    }
    EXPECT_EQ(hidden.size(), 3u);

    // Walk the focus chain from the first tab stop, keeping what Tab can reach.
    std::vector<QWidget*> tabOrder;
    QWidget* start = expectedTabOrder.front();
    QWidget* current = start;
    do {
        if (window->OwnsControl(current) && current->isVisible() && current->isEnabled() &&
            (current->focusPolicy() & Qt::TabFocus) != 0) {
            tabOrder.push_back(current);
        }
        current = current->nextInFocusChain();
    } while (current != start && tabOrder.size() < 100);
    EXPECT_EQ(tabOrder, expectedTabOrder);

    // Tab from the last visible control never lands on a hidden one.
    for (int i = 0; i < 30; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Tab);
        EXPECT_EQ(hidden.count(QApplication::focusWidget()), 0u);
    }
    // The first tab stop has the focus when the window opens: "Close Program".
    EXPECT_EQ(window->Control(IDOK), expectedTabOrder.front());
}

TEST_F(QtWindowSystemTest, EscapeEndsAModalRunWithCancelThroughTheDialog) {
    CRecordingDialog dialog(IDD_TOLLIVEX_DIALOG, /*endOnOkCancel=*/true);
    WhenShown([](QWidget* widget) { return widget == FindShownWindow(IDD_TOLLIVEX_DIALOG); },
              [](QWidget* widget) {
                  QTest::keyClick(widget->focusWidget() ? widget->focusWidget() : widget, Qt::Key_Escape);
                  // Gone from the screen at once, before the run returns.
                  EXPECT_FALSE(widget->isVisible());
              });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(dialog.Received(BN_CLICKED, IDCANCEL));
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr) << "the window is gone after the run";

    // Enter on the first tab stop ("Close Program", focused when the window opens) ends it with OK.
    dialog.Clear();
    WhenShown([](QWidget* widget) { return widget == FindShownWindow(IDD_TOLLIVEX_DIALOG); },
              [](QWidget* widget) {
                  QTest::keyClick(widget->focusWidget() ? widget->focusWidget() : widget, Qt::Key_Return);
              });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.m_commands, (std::vector<std::pair<UINT, int>>{{BN_CLICKED, IDOK}}));

    // The caption's close box is the close system command, which the dialog's default turns into Cancel.
    dialog.Clear();
    WhenShown([](QWidget* widget) { return widget == FindShownWindow(IDD_TOLLIVEX_DIALOG); },
              [](QWidget* widget) { widget->close(); });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.m_sysCommands, std::vector<UINT>{SC_CLOSE});
    EXPECT_TRUE(dialog.Received(BN_CLICKED, IDCANCEL));
}

TEST_F(QtWindowSystemTest, ModalDialogDisablesTheMainWindowAndAnOwnerlessMessageBoxDoesNot) {
    CRecordingDialog main(IDD_TOLLIVEX_DIALOG);
    CQtDialogWindow* mainWindow = Open(main);

    CRecordingDialog about(IDD_ABOUTBOX, /*endOnOkCancel=*/true, &main);
    QWidget* search = mainWindow->Control(IDC_SEARCH_TEXT);
    search->setFocus(Qt::OtherFocusReason);
    bool mainEnabledDuringModal = true;
    WhenShown([](QWidget* widget) { return widget == FindShownWindow(IDD_ABOUTBOX); },
              [&](QWidget* widget) {
                  mainEnabledDuringModal = mainWindow->isEnabled();
                  // The window manager's close of the disabled main window is refused like any other command.
                  mainWindow->close();
                  QTest::mouseClick(qobject_cast<CQtDialogWindow*>(widget)->Control(IDOK), Qt::LeftButton);
              });
    EXPECT_EQ(about.DoModal(), IDOK);
    EXPECT_FALSE(mainEnabledDuringModal);
    EXPECT_TRUE(main.m_sysCommands.empty());
    EXPECT_TRUE(mainWindow->isEnabled()) << "the owner is enabled again after the run";
    EXPECT_EQ(mainWindow->focusWidget(), search) << "the focus is back where it was, not on Close Program";

    main.Clear();
    bool mainEnabledDuringBox = false;
    WhenShown([](QWidget* widget) { return qobject_cast<QMessageBox*>(widget) != nullptr; },
              [&](QWidget* widget) {
                  auto* box = qobject_cast<QMessageBox*>(widget);
                  mainEnabledDuringBox = mainWindow->isEnabled();
                  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
                  QTest::mouseClick(mainWindow->Control(IDC_GET_INFO), Qt::LeftButton);
                  EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
                  QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
              });
    EXPECT_EQ(m_driver.System().MessageBox(nullptr, "Line one\r\nLine two", "Caption", MB_OK), IDOK);
    EXPECT_TRUE(mainEnabledDuringBox);
    EXPECT_TRUE(main.Received(BN_CLICKED, IDC_GET_INFO));
}

// An engine failure's box has no owner. It still opens in front of the main window (transient for it, active, the
// keyboard on OK) and leaves it enabled; before the main window shows, it opens in front of the start-up notice.
TEST_F(QtWindowSystemTest, OwnerlessMessageBoxOpensInFrontOfTheMainWindowAndLeavesItEnabled) {
    CRecordingDialog main(IDD_TOLLIVEX_DIALOG);
    CQtDialogWindow* mainWindow = Open(main);
    CRecordingDialog notice(IDD_WAIT_DIALOG);
    ASSERT_TRUE(notice.CreateModeless(IDD_WAIT_DIALOG, nullptr));
    m_driver.System().ShowWindow(notice.GetSafeHwnd(), SW_SHOW);
    QWidget* noticeWindow = m_driver.QtSystem().WindowOf(notice.GetSafeHwnd());
    CWinApp app;
    app.m_pMainWnd = &main;

    struct Case {
        const char* name;
        bool mainShown;
        QWidget* inFrontOf;
    };
    for (const Case& c : {Case{"main window shown", true, mainWindow}, Case{"start-up", false, noticeWindow}}) {
        SCOPED_TRACE(c.name);
        mainWindow->setVisible(c.mainShown);
        QWindow* transientParent = nullptr;
        bool active = false;
        bool focusOnOk = false;
        bool mainEnabled = false;
        WhenShown([](QWidget* widget) { return qobject_cast<QMessageBox*>(widget) != nullptr; },
                  [&](QWidget* widget) {
                      auto* box = qobject_cast<QMessageBox*>(widget);
                      transientParent = box->windowHandle()->transientParent();
                      active = QTest::qWaitForWindowActive(box);
                      focusOnOk = box->focusWidget() == box->button(QMessageBox::Ok);
                      mainEnabled = mainWindow->isEnabled();
                      QTest::keyClick(box->focusWidget(), Qt::Key_Return);
                  });
        EXPECT_EQ(m_driver.System().MessageBox(nullptr, "Text", "Caption", MB_OK), IDOK);
        EXPECT_EQ(transientParent, c.inFrontOf->windowHandle());
        EXPECT_TRUE(active);
        EXPECT_TRUE(focusOnOk);
        EXPECT_TRUE(mainEnabled);
    }
    notice.DestroyWindow();
}

// What a window manager is told about a fixed-size dialog: a title, a close button, no minimise or maximise button,
// and a size it cannot change.
void ExpectFixedDialog(QWidget* window) {
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint)) << "without it Qt adds the default buttons";
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
}

TEST_F(QtWindowSystemTest, FixedDialogsOfferNoMinimiseAndAMinimisedModalOneComesBack) {
    for (const UINT id : {IDD_ABOUTBOX, IDD_LOGIN_DIALOG, IDD_MOVIE_DIALOG}) {
        SCOPED_TRACE(id);
        CRecordingDialog dialog(id);
        ASSERT_TRUE(dialog.CreateModeless(id, nullptr));
        ExpectFixedDialog(m_driver.QtSystem().WindowOf(dialog.GetSafeHwnd()));
        dialog.DestroyWindow();
    }

    CRecordingDialog main(IDD_TOLLIVEX_DIALOG);
    CQtDialogWindow* mainWindow = Open(main);
    CRecordingDialog details(IDD_MOVIE_DIALOG, /*endOnOkCancel=*/true, &main);
    bool transient = false;
    bool minimised = false;
    bool back = false;
    WhenShown([](QWidget* widget) { return widget == FindShownWindow(IDD_MOVIE_DIALOG); },
              [&](QWidget* widget) {
                  ExpectFixedDialog(widget);
                  transient = widget->windowHandle() != nullptr &&
                              widget->windowHandle()->transientParent() == mainWindow->windowHandle();
                  // Minimised anyway (by a window manager's own button): activating the disabled owner brings it
                  // back.
                  widget->showMinimized();
                  minimised = widget->isMinimized();
                  QEvent activate(QEvent::WindowActivate);
                  QApplication::sendEvent(mainWindow, &activate);
                  back = !widget->isMinimized() && widget->isVisible();
                  QTest::mouseClick(qobject_cast<CQtDialogWindow*>(widget)->Control(IDOK), Qt::LeftButton);
              });
    EXPECT_EQ(details.DoModal(), IDOK);
    EXPECT_TRUE(transient) << "the dialog is transient for its owner";
    EXPECT_TRUE(minimised);
    EXPECT_TRUE(back);

    // The owner-less message box: the same flags, and it comes back when the main window is shown again.
    bool boxBack = false;
    WhenShown([](QWidget* widget) { return qobject_cast<QMessageBox*>(widget) != nullptr; },
              [&](QWidget* widget) {
                  ExpectFixedDialog(widget);
                  widget->showMinimized();
                  QEvent activate(QEvent::WindowActivate);
                  QApplication::sendEvent(mainWindow, &activate);
                  boxBack = !widget->isMinimized();
                  QTest::mouseClick(qobject_cast<QMessageBox*>(widget)->button(QMessageBox::Ok), Qt::LeftButton);
              });
    EXPECT_EQ(m_driver.System().MessageBox(nullptr, "Text", "Caption", MB_OK), IDOK);
    EXPECT_TRUE(boxBack);

    // A message box with an owner is transient for it, as a dialog is.
    bool boxTransient = false;
    WhenShown([](QWidget* widget) { return qobject_cast<QMessageBox*>(widget) != nullptr; },
              [&](QWidget* widget) {
                  boxTransient = widget->windowHandle() != nullptr &&
                                 widget->windowHandle()->transientParent() == mainWindow->windowHandle();
                  QTest::mouseClick(qobject_cast<QMessageBox*>(widget)->button(QMessageBox::Ok), Qt::LeftButton);
              });
    EXPECT_EQ(m_driver.System().MessageBox(main.GetSafeHwnd(), "Text", "Caption", MB_OK), IDOK);
    EXPECT_TRUE(boxTransient);
}

TEST_F(QtWindowSystemTest, SystemMenuOpensFromKeyboardAndMouseAndSendsItsCommands) {
    CRecordingDialog main(IDD_TOLLIVEX_DIALOG);
    CQtDialogWindow* window = Open(main);
    CWindowSystem& system = m_driver.System();
    HMENU menu = system.GetSystemMenu(main.GetSafeHwnd());
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(system.AppendMenu(menu, MF_SEPARATOR, 0, ""));
    EXPECT_TRUE(system.AppendMenu(menu, MF_STRING, IDM_ABOUTBOX, system.LoadString(IDS_ABOUTBOX)));
    QMenu* qmenu = window->SystemMenu();
    ASSERT_EQ(qmenu->actions().size(), 3);
    EXPECT_TRUE(qmenu->actions()[1]->isSeparator());
    EXPECT_EQ(qmenu->actions()[2]->text(), QStringLiteral("&About Tollivex..."));

    QTest::keyClick(window->focusWidget(), Qt::Key_Space, Qt::AltModifier);
    EXPECT_TRUE(qmenu->isVisible()) << "Alt+Space opens the system menu";
    qmenu->hide();

    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5), window->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(window, &rightClick);
    EXPECT_TRUE(qmenu->isVisible()) << "a right-click on the background opens the system menu";
    qmenu->hide();
    QWidget* button = window->Control(IDC_GET_INFO);
    QContextMenuEvent onButton(QContextMenuEvent::Mouse, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(button, &onButton);
    EXPECT_FALSE(qmenu->isVisible()) << "a right-click on a button is not one on the background";

    qmenu->actions()[2]->trigger();
    qmenu->actions()[0]->trigger();
    // Alt+Space itself arrives as the keyboard-menu system command, as the window's default opens the menu on it.
    EXPECT_EQ(main.m_sysCommands, (std::vector<UINT>{SC_KEYMENU, IDM_ABOUTBOX, SC_CLOSE}));
    EXPECT_TRUE(main.Received(BN_CLICKED, IDCANCEL)) << "Close is the Cancel command";

    // The start-up notice has no system menu.
    CRecordingDialog notice(IDD_WAIT_DIALOG);
    ASSERT_TRUE(notice.CreateModeless(IDD_WAIT_DIALOG, nullptr));
    EXPECT_EQ(system.GetSystemMenu(notice.GetSafeHwnd()), nullptr);
}

TEST_F(QtWindowSystemTest, NoticeIsPaintedBeforeShowWindowReturns) {
    CRecordingDialog notice(IDD_WAIT_DIALOG);
    ASSERT_TRUE(notice.CreateModeless(IDD_WAIT_DIALOG, nullptr));
    CQtDialogWindow* window = m_driver.QtSystem().WindowOf(notice.GetSafeHwnd());
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible()) << "the template does not say visible";
    notice.SetDlgItemText(IDC_WAIT_TEXT, "Orrabel initializing\r\n Please Wait.");
    auto* text = qobject_cast<QLabel*>(window->Control(IDC_WAIT_TEXT));
    EXPECT_EQ(text->text(), QStringLiteral("Orrabel initializing\n Please Wait."));
    EXPECT_TRUE(text->alignment() & Qt::AlignHCenter);
    CString back;
    m_driver.System().GetWindowText(notice.GetDlgItem(IDC_WAIT_TEXT), back);
    EXPECT_EQ(back, "Orrabel initializing\r\n Please Wait.");

    notice.m_paints = 0;
    notice.ShowWindow(SW_SHOWNORMAL);
    EXPECT_TRUE(window->isVisible());
    EXPECT_GE(notice.m_paints, 1) << "the window was painted before ShowWindow returned";
    notice.ShowWindow(SW_HIDE);
    EXPECT_FALSE(window->isVisible());
    notice.DestroyWindow();
    EXPECT_EQ(m_driver.QtSystem().WindowOf(reinterpret_cast<HWND>(static_cast<QWidget*>(window))), nullptr);
}

TEST_F(QtWindowSystemTest, ListReportsUserClicksAndDoubleClicksOnly) {
    CRecordingDialog main(IDD_TOLLIVEX_DIALOG);
    CQtDialogWindow* window = Open(main);
    auto* list = qobject_cast<QListWidget*>(window->Control(IDC_MOVIE_LIST));
    HWND handle = main.GetDlgItem(IDC_MOVIE_LIST);
    for (const char* title : {"Alpha", "Bravo", "Charlie"}) {
        m_driver.System().ListInsertString(handle, -1, title);
    }
    EXPECT_EQ(m_driver.System().ListInitStorage(handle, 10, 100), 13);
    m_driver.System().RedrawWindow(handle, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    main.Clear();
    const QPoint bravo = list->visualItemRect(list->item(1)).center();
    // (A plain click first: Qt's test double-click is only seen as one after an earlier click.)
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, bravo);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, bravo);
    EXPECT_EQ(m_driver.System().ListGetCurSel(handle), 1);
    EXPECT_TRUE(main.Received(LBN_SELCHANGE, IDC_MOVIE_LIST));
    EXPECT_TRUE(main.Received(LBN_DBLCLK, IDC_MOVIE_LIST));
    EXPECT_EQ(main.m_commands.back(), (std::pair<UINT, int>(LBN_DBLCLK, IDC_MOVIE_LIST)));

    // The user moves the selection but cannot take it away.
    main.Clear();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, bravo);
    QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(m_driver.System().ListGetCurSel(handle), 1);
    EXPECT_FALSE(main.Received(LBN_SELCHANGE, IDC_MOVIE_LIST));
}

TEST_F(QtWindowSystemTest, SearchByPrefixComparesLettersBeyondAsciiWithoutRegardToCase) {
    CRecordingDialog main(IDD_TOLLIVEX_DIALOG);
    Open(main);
    HWND handle = main.GetDlgItem(IDC_MOVIE_LIST);
    // The last title begins with U+10428, the small letter of U+10400: a pair of UTF-16 units each.
    ASSERT_EQ(m_driver.System().ListAddStrings(handle, {"Ölfeld", "Straße", "Évasion", "\xF0\x90\x90\xA8ong"}), 4);
    const std::pair<const char*, int> cases[] = {
        {"öl", 0},
        {"ÖL", 0},
        {"straß", 1},
        {"STRAẞ", 1},
        {"STRASSE", LB_ERR},
        {"éVA", 2},
        {"\xF0\x90\x90\x80", 3},
        {"\xF0\x90\x90\xA8O", 3},
        {"İ", LB_ERR},
    };
    for (const auto& [prefix, row] : cases) {
        EXPECT_EQ(m_driver.System().ListSelectString(handle, -1, prefix), row) << prefix;
    }
}

TEST_F(QtWindowSystemTest, CheckBoxTogglesItselfAndDrawsItsTextOnTheLeft) {
    CRecordingDialog main(IDD_TOLLIVEX_DIALOG);
    CQtDialogWindow* window = Open(main);
    auto* box = qobject_cast<QCheckBox*>(window->Control(IDC_EXACT_PREDICTIONS));
    ASSERT_NE(box, nullptr);
    HWND handle = main.GetDlgItem(IDC_EXACT_PREDICTIONS);
    main.Clear();
    // A click on the text (left half) counts, as on the box.
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(4, box->height() / 2));
    EXPECT_EQ(m_driver.System().GetCheck(handle), BST_CHECKED);
    EXPECT_EQ(main.m_commands, (std::vector<std::pair<UINT, int>>{{BN_CLICKED, IDC_EXACT_PREDICTIONS}}));
    m_driver.System().SetCheck(handle, BST_UNCHECKED);
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(main.m_commands.size(), 1u) << "setting the mark is not a click";

    // The picture: the text's ink is in the left part and the box at the right edge.
    const QImage image = box->grab().toImage();
    const QColor background = image.pixelColor(image.width() / 2, 0);
    auto inkIn = [&](int from, int to) {
        int ink = 0;
        for (int x = from; x < to; ++x) {
            for (int y = 0; y < image.height(); ++y) {
                ink += image.pixelColor(x, y) != background ? 1 : 0;
            }
        }
        return ink;
    };
    const int quarter = image.width() / 4;
    EXPECT_GT(inkIn(0, quarter), 0) << "text starts at the left edge";
    EXPECT_GT(inkIn(image.width() - 12, image.width()), 0) << "box at the right edge";
}

TEST_F(QtWindowSystemTest, ResourcesWaitCursorAndMinimisedState) {
    CWindowSystem& system = m_driver.System();
    EXPECT_EQ(system.LoadString(IDS_ABOUTBOX), "&About Tollivex...");
    EXPECT_EQ(system.LoadString(9999), "");
    for (UINT id : {IDR_MAINFRAME, IDI_PROGRAM_ICON}) {
        ASSERT_NE(system.LoadIcon(id), nullptr);
        const IconResource* icon = FindIconResource(static_cast<int>(id));
        ASSERT_NE(icon, nullptr);
        const QImage image = QPixmap(icon->xpm.data()).toImage();
        EXPECT_EQ(image.size(), QSize(32, 32));
        std::set<QRgb> colours;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                colours.insert(image.pixel(x, y));
            }
        }
        EXPECT_LE(colours.size(), 16u);
    }
    EXPECT_EQ(system.LoadIcon(12345), nullptr);
    EXPECT_EQ(system.GetSystemMetrics(SM_CXICON), 32);
    EXPECT_EQ(system.GetSystemMetrics(SM_CYICON), 32);

    system.BeginWaitCursor();
    system.BeginWaitCursor();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    system.EndWaitCursor();
    EXPECT_NE(QApplication::overrideCursor(), nullptr) << "spans nest";
    system.EndWaitCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    CRecordingDialog main(IDD_TOLLIVEX_DIALOG);
    CQtDialogWindow* window = Open(main);
    system.SetIcon(main.GetSafeHwnd(), system.LoadIcon(IDR_MAINFRAME), true);
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_FALSE(system.IsIconic(main.GetSafeHwnd()));
    const RECT client = system.GetClientRect(main.GetSafeHwnd());
    EXPECT_EQ(client.Width(), window->width());
    EXPECT_EQ(client.Height(), window->height());
    window->showMinimized();
    EXPECT_TRUE(system.IsIconic(main.GetSafeHwnd()));
}

} // namespace

namespace {

QString AccessibleText(QWidget* widget, QAccessible::Text kind) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible != nullptr ? accessible->text(kind) : QString();
}

TEST_F(QtWindowSystemTest, ScreenReadersCanNameTheFieldsAndReadTheResults) {
    CRecordingDialog main(IDD_TOLLIVEX_DIALOG);
    CQtDialogWindow* window = Open(main);
    EXPECT_EQ(AccessibleText(window->Control(IDC_CURRENT_USER), QAccessible::Name), QStringLiteral("Current User"));
    EXPECT_EQ(AccessibleText(window->Control(IDC_SEARCH_TEXT), QAccessible::Name), QStringLiteral("Search Movies"));
    EXPECT_EQ(AccessibleText(window->Control(IDC_RATING), QAccessible::Name), QStringLiteral("Rate a Movie"));
    EXPECT_EQ(AccessibleText(window->Control(IDC_GET_RATING), QAccessible::Name), QStringLiteral("GetRating"));
    main.SetDlgItemText(IDC_RESULTS, "The prediction is : 4");
    EXPECT_EQ(AccessibleText(window->Control(IDC_RESULTS), QAccessible::Name), QStringLiteral("The prediction is : 4"));
    EXPECT_EQ(AccessibleText(window->Control(IDC_RESULTS), QAccessible::Description), QStringLiteral("Results"));

    CRecordingDialog login(IDD_LOGIN_DIALOG);
    ASSERT_TRUE(login.CreateModeless(IDD_LOGIN_DIALOG, nullptr));
    CQtDialogWindow* loginWindow = m_driver.QtSystem().WindowOf(login.GetSafeHwnd());
    EXPECT_EQ(AccessibleText(loginWindow->Control(IDC_LOGIN_USER_NAME), QAccessible::Name),
              QStringLiteral("User name"));
    EXPECT_EQ(AccessibleText(loginWindow->Control(IDC_LOGIN_PASSWORD), QAccessible::Name), QStringLiteral("Password"));
}

TEST_F(QtWindowSystemTest, ACutCellShowsItsWholeTextAsToolTipAndToScreenReaders) {
    CRecordingDialog picks(IDD_PICKS_DIALOG);
    CQtDialogWindow* window = Open(picks);
    auto* report = qobject_cast<CQtReportList*>(window->Control(IDC_CHOICE_LIST));
    ASSERT_NE(report, nullptr);
    CReportList list;
    list.Attach(picks.GetDlgItem(IDC_CHOICE_LIST));
    const CString longTitle = "The Discreet Charm of the Bourgeoisie and Other Very Long Titles";
    list.SetColumns({{"Title", 40, ReportColumn::Kind::Text}, {"Year", 30, ReportColumn::Kind::Number}});
    list.SetRows({{7, 0, {longTitle, "1972"}}, {8, 0, {"Heat", "1995"}}});
    list.Detach();

    EXPECT_EQ(report->CellToolTip(0, 0), QString::fromStdString(longTitle));
    EXPECT_EQ(report->CellToolTip(1, 0), QString());
    EXPECT_EQ(report->CellToolTip(0, 1), QString());
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(report);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    QAccessibleInterface* cell = table->tableInterface()->cellAt(0, 0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), QString::fromStdString(longTitle));
    // A list without a label is named after its window.
    EXPECT_EQ(table->text(QAccessible::Name), QStringLiteral("Top picks"));
    EXPECT_EQ(AccessibleText(window->Control(IDC_RATE_4), QAccessible::Description),
              QStringLiteral("Rate the selected movie (keys 1 to 5)"));
}

// The scroll bars go the usual way round: at the top of the list the vertical bar is at its start, and going to the
// last row takes it to its end; neither bar draws or works backwards.
TEST_F(QtWindowSystemTest, AReportListsScrollBarsGoTheUsualWayRound) {
    CRecordingDialog picks(IDD_PICKS_DIALOG);
    CQtDialogWindow* window = Open(picks);
    auto* report = qobject_cast<CQtReportList*>(window->Control(IDC_CHOICE_LIST));
    ASSERT_NE(report, nullptr);
    CReportList list;
    list.Attach(picks.GetDlgItem(IDC_CHOICE_LIST));
    list.SetColumns({{"Title", 400, ReportColumn::Kind::Text}, {"Year", 200, ReportColumn::Kind::Number}});
    std::vector<ReportRow> rows;
    for (long key = 1; key <= 50; ++key) {
        rows.push_back({key, 0, {"Movie " + std::to_string(key), "2000"}});
    }
    list.SetRows(rows);
    list.SelectKey(1);
    QApplication::processEvents();
    for (QScrollBar* bar : {report->verticalScrollBar(), report->horizontalScrollBar()}) {
        EXPECT_FALSE(bar->invertedAppearance());
        EXPECT_EQ(bar->value(), bar->minimum());
    }
    EXPECT_GT(report->verticalScrollBar()->maximum(), 0);
    EXPECT_GT(report->horizontalScrollBar()->maximum(), 0) << "the columns are wider than the list";
    list.SelectKey(50);
    QApplication::processEvents();
    EXPECT_EQ(report->verticalScrollBar()->value(), report->verticalScrollBar()->maximum());
    list.Detach();
}

// Draws the program's icon at the client area's top left corner whenever it is painted (on the notice's template,
// which has no control there).
class CIconPainter : public CDialog {
public:
    CIconPainter() : CDialog(IDD_WAIT_DIALOG) {}
    void OnPaint() {
        CPaintDC dc(this);
        dc.DrawIcon(0, 0, AfxGetWindowSystem().LoadIcon(IDR_MAINFRAME));
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CIconPainter, CDialog)
ON_WM_PAINT()
END_MESSAGE_MAP()

TEST_F(QtWindowSystemTest, TheMinimisedWindowsIconIsDrawnInTheClientAreaBelowTheMenuBar) {
    CIconPainter painter;
    ASSERT_TRUE(painter.CreateModeless(IDD_WAIT_DIALOG, nullptr));
    CQtDialogWindow* window = m_driver.QtSystem().WindowOf(painter.GetSafeHwnd());
    ASSERT_TRUE(painter.SetMenu(IDR_MAIN_MENU));
    ASSERT_GT(window->ClientTop(), 0);
    const QImage drawn = window->grab().toImage();
    const QImage icon = QIcon(*reinterpret_cast<QIcon*>(m_driver.System().LoadIcon(IDR_MAINFRAME)))
                            .pixmap(32, 32)
                            .toImage()
                            .convertToFormat(drawn.format());
    // The icon's rows down its middle are where the client area starts, not a menu bar's height higher.
    const int top = window->ClientTop();
    for (const int y : {3, 8, 16, 24, 28}) {
        EXPECT_EQ(drawn.pixel(16, top + y), icon.pixel(16, y)) << "row " << y;
    }
    EXPECT_NE(drawn.pixel(16, top + 16), drawn.pixel(16, top + 40)) << "no icon drawn";
    painter.DestroyWindow();
}

TEST_F(QtWindowSystemTest, TheNoticesProgressLineStaysClearOfItsButton) {
    CRecordingDialog notice(IDD_WAIT_DIALOG);
    CQtDialogWindow* window = Open(notice);
    notice.SetDlgItemText(IDC_WAIT_TEXT, "Orrabel initializing\r\n Please Wait.\r\nReading ratings 42%");
    auto* text = qobject_cast<QLabel*>(window->Control(IDC_WAIT_TEXT));
    ASSERT_NE(text, nullptr);
    const int textBottom = text->y() + text->heightForWidth(text->width());
    EXPECT_LE(textBottom, window->Control(IDC_WAIT_TEXT)->y() + text->height());
    EXPECT_LT(textBottom, window->Control(IDOK)->y());
}

} // namespace
