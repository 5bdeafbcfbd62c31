#include "QtDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

#include "AfxTypes.h"
#include "Dialog.h"
#include "QtDialogWindow.h"
#include "QtReportList.h"
#include "QtTestHelpers.h"
#include "WindowSystem.h"

CQtDriver::CQtDriver() {
    AfxSetWindowSystem(&m_system);
}

CQtDriver::~CQtDriver() {
    AfxSetWindowSystem(nullptr);
}

void CQtDriver::Open(CDialog& dialog) {
    ASSERT_TRUE(dialog.CreateModeless(dialog.GetTemplateId(), nullptr));
    m_system.ShowWindow(dialog.GetSafeHwnd(), SW_SHOW);
    m_window = m_system.WindowOf(dialog.GetSafeHwnd());
    ASSERT_NE(m_window, nullptr);
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window));
}

QWidget* CQtDriver::Widget(int id) const {
    QWidget* widget = m_window != nullptr ? m_window->Control(id) : nullptr;
    EXPECT_NE(widget, nullptr) << "no control " << id;
    return widget;
}

void CQtDriver::Type(int id, const std::string& text) {
    auto* edit = qobject_cast<QLineEdit*>(Widget(id));
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, QString::fromStdString(text));
}

void CQtDriver::Paste(int id, const std::string& text) {
    auto* edit = qobject_cast<QLineEdit*>(Widget(id));
    ASSERT_NE(edit, nullptr);
    QApplication::clipboard()->setText(QString::fromStdString(text));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
}

void CQtDriver::Focus(int id) {
    QWidget* widget = Widget(id);
    ASSERT_NE(widget, nullptr);
    widget->setFocus(Qt::OtherFocusReason);
}

void CQtDriver::Click(int id) {
    auto* button = qobject_cast<QAbstractButton*>(Widget(id));
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
}

void CQtDriver::SelectByUser(int id, int position) {
    if (auto* report = qobject_cast<CQtReportList*>(Widget(id))) {
        const QModelIndex index = report->model()->index(position, 0);
        ASSERT_TRUE(index.isValid());
        report->scrollTo(index);
        QTest::mouseClick(report->viewport(), Qt::LeftButton, Qt::NoModifier, report->visualRect(index).center());
        return;
    }
    auto* list = qobject_cast<QListWidget*>(Widget(id));
    ASSERT_NE(list, nullptr);
    QListWidgetItem* item = list->item(position);
    ASSERT_NE(item, nullptr);
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(item).center());
}

void CQtDriver::ClickHeader(int id, int column) {
    auto* report = qobject_cast<CQtReportList*>(Widget(id));
    ASSERT_NE(report, nullptr);
    QHeaderView* header = report->horizontalHeader();
    const QPoint middle(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, middle);
}

void CQtDriver::PressKey(const std::string& keys) {
    const QKeySequence sequence(QString::fromStdString(keys), QKeySequence::PortableText);
    ASSERT_EQ(sequence.count(), 1) << keys;
    QWidget* target = m_window->focusWidget() != nullptr ? m_window->focusWidget() : m_window;
    QTest::keyClick(target, sequence[0].key(), sequence[0].keyboardModifiers());
}

void CQtDriver::PressEnter() {
    QWidget* target = m_window->focusWidget() != nullptr ? m_window->focusWidget() : m_window;
    QTest::keyClick(target, Qt::Key_Return);
}

void CQtDriver::PressEscape() {
    QWidget* target = m_window->focusWidget() != nullptr ? m_window->focusWidget() : m_window;
    QTest::keyClick(target, Qt::Key_Escape);
}

bool CQtDriver::IsEnabled() {
    return m_window != nullptr && m_window->isEnabled();
}

CToolkitDriver::SeenMessageBox CQtDriver::MessageBoxWhile(const std::string& text, const std::string& caption,
                                                          std::function<void()> whileUp) {
    SeenMessageBox seen;
    bool handled = false;
    WhenShown([](QWidget* widget) { return qobject_cast<QMessageBox*>(widget) != nullptr; },
              [&](QWidget* widget) {
                  auto* box = qobject_cast<QMessageBox*>(widget);
                  seen.text = box->text().toStdString();
                  seen.caption = box->windowTitle().toStdString();
                  whileUp();
                  QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
              },
              &handled);
    seen.result = m_system.MessageBox(nullptr, text, caption, MB_OK);
    EXPECT_TRUE(handled);
    return seen;
}
