// The order a keyboard user meets the fields in, and the field each label names, pinned for the three windows with
// fields: written out here, so that swapping two fields in a template (their order, or their places) fails.

#include <string>
#include <utility>
#include <vector>

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include "AfxTypes.h"
#include "QtDialogWindow.h"
#include "QtDriver.h"
#include "RecordingDialog.h"
#include "Resources.h"
#include "resource.h"

namespace {

// The controls Tab reaches from the first one, in order, by identifier.
std::vector<int> TabOrder(CQtDialogWindow* window) {
    QWidget* first = nullptr;
    for (const auto& [control, widget] : window->Controls()) {
        if (!widget->isHidden() && (widget->focusPolicy() & Qt::TabFocus) != 0) {
            first = widget;
            break;
        }
    }
    std::vector<int> ids;
    QWidget* current = first;
    do {
        if (window->OwnsControl(current) && !current->isHidden() && (current->focusPolicy() & Qt::TabFocus) != 0) {
            ids.push_back(window->ControlTemplateOf(current)->id);
        }
        current = current->nextInFocusChain();
    } while (current != nullptr && current != first && ids.size() < 100);
    return ids;
}

// Each visible label's text with the identifier of the field it names (its buddy), in template order.
std::vector<std::pair<std::string, int>> LabelledFields(CQtDialogWindow* window) {
    std::vector<std::pair<std::string, int>> pairs;
    for (const auto& [control, widget] : window->Controls()) {
        auto* label = qobject_cast<QLabel*>(widget);
        if (label == nullptr || label->isHidden() || control->kind != ControlKind::StaticText || control->id != -1) {
            continue;
        }
        const QWidget* buddy = label->buddy();
        const ControlTemplate* field = buddy != nullptr ? window->ControlTemplateOf(buddy) : nullptr;
        pairs.emplace_back(label->text().toStdString(), field != nullptr ? field->id : 0);
    }
    return pairs;
}

CQtDialogWindow* Create(CQtDriver& driver, CRecordingDialog& dialog, UINT templateId) {
    EXPECT_TRUE(dialog.CreateModeless(templateId, nullptr));
    CQtDialogWindow* window = driver.QtSystem().WindowOf(dialog.GetSafeHwnd());
    window->show();
    return window;
}

TEST(TemplateOrder, TabOrderAndEachLabelsFieldAreAsWritten) {
    CQtDriver driver;
    {
        SCOPED_TRACE("login");
        CRecordingDialog dialog(IDD_LOGIN_DIALOG);
        CQtDialogWindow* window = Create(driver, dialog, IDD_LOGIN_DIALOG);
        // OK, Cancel, the user name (1009), the password (1010), New User (1011).
        EXPECT_EQ(TabOrder(window), (std::vector<int>{1, 2, 1009, 1010, 1011}));
        EXPECT_EQ(LabelledFields(window),
                  (std::vector<std::pair<std::string, int>>{{"User name:", 1009}, {"Password:", 1010}}));
        // Tab from the name goes to the password.
        window->Control(IDC_LOGIN_USER_NAME)->setFocus();
        QTest::keyClick(window->Control(IDC_LOGIN_USER_NAME), Qt::Key_Tab);
        EXPECT_EQ(window->focusWidget(), window->Control(IDC_LOGIN_PASSWORD));
        dialog.DestroyWindow();
    }
    {
        SCOPED_TRACE("main window");
        CRecordingDialog dialog(IDD_TOLLIVEX_DIALOG);
        CQtDialogWindow* window = Create(driver, dialog, IDD_TOLLIVEX_DIALOG);
        // Close Program (1), GetRating, GetInfo, Refresh, Predict, Login, the current user (1012), Rate (1008), the
        // rating (1014), the list (1016), the search text (1017), Exact Predictions (1021).
        EXPECT_EQ(TabOrder(window),
                  (std::vector<int>{1, 1001, 1004, 1005, 1006, 1007, 1012, 1008, 1014, 1016, 1017, 1021}));
        EXPECT_EQ(LabelledFields(window), (std::vector<std::pair<std::string, int>>{{"Current User:", 1012}}));
        dialog.DestroyWindow();
    }
    {
        SCOPED_TRACE("movie details");
        CRecordingDialog dialog(IDD_MOVIE_DIALOG);
        CQtDialogWindow* window = Create(driver, dialog, IDD_MOVIE_DIALOG);
        // OK, the name (1020), the release date (1021), the URL (1022).
        EXPECT_EQ(TabOrder(window), (std::vector<int>{1, 1020, 1021, 1022}));
        EXPECT_EQ(LabelledFields(window), (std::vector<std::pair<std::string, int>>{
                                              {"Movie Name:", 1020}, {"Release Date:", 1021}, {"URL:", 1022}}));
        dialog.DestroyWindow();
    }
}

} // namespace
