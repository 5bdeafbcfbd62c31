#pragma once

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <QDialog>
#include <QStringList>

#include "AfxTypes.h"
#include "QtDialogUnits.h"
#include "Resources.h"

class CDialog;
class CQtListBox;
class QEventLoop;
class QListWidget;
class QMenu;
class QAction;
class QMenuBar;
class QPainter;

// A dialog window built from a template: every control is a real Qt widget of its kind, placed by the dialog-unit
// rule, in template order (which is also the tab order). The window turns the widgets' signals and the keyboard's
// Enter and Escape into the notifications that the attached dialog object's command map dispatches.
class CQtDialogWindow : public QDialog {
    Q_OBJECT

public:
    explicit CQtDialogWindow(const DialogTemplate& dialogTemplate);
    ~CQtDialogWindow() override;

    HWND Handle() { return reinterpret_cast<HWND>(static_cast<QWidget*>(this)); }
    const DialogTemplate& Template() const { return *m_template; }
    const CQtDialogUnits& Units() const { return m_units; }

    // The dialog object that receives this window's notifications (nullptr: none, notifications are dropped).
    void SetDialog(CDialog* dialog) { m_dialog = dialog; }
    CDialog* Dialog() const { return m_dialog; }

    // The control with this identifier (the first one for a repeated identifier), or nullptr.
    QWidget* Control(int id) const;
    bool OwnsControl(const QWidget* widget) const;
    // Every control with the template entry it was built from, in template order.
    const std::vector<std::pair<const ControlTemplate*, QWidget*>>& Controls() const { return m_controls; }
    // The template entry a control was built from, or nullptr.
    const ControlTemplate* ControlTemplateOf(const QWidget* widget) const;

    // Replaces a control's text (static texts show line breaks as new lines); an edit reports the change even when
    // the text stays the same, as setting a text always does.
    void SetControlText(QWidget* control, const QString& text);
    static QString ControlText(const QWidget* control);
    // The window flags of a fixed-size dialog: a title and, with a system menu, the window menu and a close button;
    // never a minimise or maximise button (nothing to maximise, and a minimised dialog would hide what its owner
    // waits for). `kind` is Qt::Dialog or Qt::Window.
    static Qt::WindowFlags FixedDialogFlags(Qt::WindowType kind, bool systemMenu);
    // Selects a list row without the user's selection-change notification.
    void SelectListRowSilently(QListWidget* list, int row);
    // Inserts into a list without any notification; returns the new item's position.
    int InsertListItemSilently(CQtListBox* list, int position, const QString& text);
    // Appends to a list without any notification; returns the list's count after.
    int AppendListItemsSilently(CQtListBox* list, const QStringList& texts);

    // Gives the focus to the first visible, enabled tab stop in template order.
    void FocusFirstTabStop();

    // The window's own system menu (nullptr when the template has none), and showing it.
    QMenu* SystemMenu() const { return m_systemMenu.get(); }
    void PopupSystemMenu(const QPoint& globalPosition);

    // Puts a menu bar above the client area: the window grows by the bar's height, every control keeps its place in
    // the client area. An item's choice or shortcut becomes WM_COMMAND with code 0 and its id. False when the window
    // has a menu bar already.
    bool SetMenuBar(const MenuTemplate& menu);
    QMenuBar* MenuBar() const { return m_menuBar; }
    // The menu bar's item with this command id, or nullptr.
    QAction* MenuAction(int id) const;
    // Where the client area starts inside the window: below the menu bar, if any.
    int ClientTop() const { return m_clientTop; }

    // Modal-run state: a run waits in `loop` until End is called.
    void SetModalLoop(QEventLoop* loop) { m_modalLoop = loop; }
    bool InModalRun() const { return m_modalLoop != nullptr; }
    void End(INT_PTR result);
    bool IsEnded() const { return m_ended; }
    INT_PTR Result() const { return m_result; }

    // Painting: a painter exists only while a paint event runs and the dialog asked for it.
    QPainter* BeginPaint();
    void EndPaint();
    void PaintDefault();

    // Delivers a notification or a window message to the attached dialog object.
    void SendCommand(UINT code, int id);
    LRESULT SendWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

public slots:
    // Escape and other "reject" requests become the Cancel command, so the dialog's logic decides what happens.
    void reject() override;

private:
    void BuildControls();
    void BuildAccelerators();
    QWidget* BuildControl(const ControlTemplate& control);
    void ConnectNotifications(QWidget* widget, const ControlTemplate& control);
    void NameControlsForScreenReaders();
    void PressEnter();

    const DialogTemplate* m_template;
    CQtDialogUnits m_units;
    CDialog* m_dialog = nullptr;
    std::vector<std::pair<const ControlTemplate*, QWidget*>> m_controls; // template order
    std::unique_ptr<QMenu> m_systemMenu;
    QMenuBar* m_menuBar = nullptr; // a child of the window
    std::map<int, QAction*> m_menuActions;
    int m_clientTop = 0;
    QEventLoop* m_modalLoop = nullptr;
    bool m_ended = false;
    INT_PTR m_result = 0;
    int m_silentList = 0;
    bool m_painting = false;
    QPaintEvent* m_paintEvent = nullptr;
    std::unique_ptr<QPainter> m_painter;
};
