#include "QtWindowSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QStringList>
#include <QWindow>

#include "AfxTypes.h"
#include "CString.h"
#include "Dialog.h"
#include "QtDialogUnits.h"
#include "QtDialogWindow.h"
#include "QtDisplayText.h"
#include "QtListBox.h"
#include "QtModalKeeper.h"
#include "QtReportList.h"
#include "Resources.h"
#include "WinApp.h"
#include "Wnd.h"
#include "resource.h"

namespace {

QString ToQString(const CString& text) {
    return QString::fromStdString(text);
}

CString ToCString(const QString& text) {
    return text.toStdString();
}

void CenterOn(QWidget* window, const QWidget* over) {
    QRect area;
    if (over != nullptr && over->isVisible()) {
        area = over->frameGeometry();
    } else if (const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        const QSize size = window->size();
        window->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    }
}

// Re-enables a disabled owner when a modal run ends, however it ends, and gives the keyboard focus back to the
// control that had it: disabling a window takes the focus from its controls, and without this the focus would land
// on the first tab stop ("Close Program"), where the next Enter would end the program.
class COwnerDisabled {
public:
    explicit COwnerDisabled(QWidget* owner)
        : m_owner(owner), m_focus(owner != nullptr ? owner->focusWidget() : nullptr),
          m_wasEnabled(owner != nullptr && owner->isEnabled()) {
        if (m_owner) {
            m_owner->setEnabled(false);
        }
    }
    ~COwnerDisabled() {
        // An owner that a run further out disabled stays disabled until that run ends.
        if (m_owner && m_wasEnabled) {
            m_owner->setEnabled(true);
            if (m_focus && m_focus->isVisible() && m_focus->isEnabled()) {
                m_focus->setFocus(Qt::OtherFocusReason);
            }
            m_owner->activateWindow();
        }
    }
    COwnerDisabled(const COwnerDisabled&) = delete;
    COwnerDisabled& operator=(const COwnerDisabled&) = delete;

private:
    QPointer<QWidget> m_owner;
    QPointer<QWidget> m_focus;
    bool m_wasEnabled;
};

// Keeps a window within the user's reach for as long as a run waits on it.
class CKeptWithinReach {
public:
    CKeptWithinReach(CQtModalKeeper& keeper, QWidget* window) : m_keeper(keeper), m_window(window) {
        m_keeper.Keep(window);
    }
    ~CKeptWithinReach() { m_keeper.Release(m_window); }
    CKeptWithinReach(const CKeptWithinReach&) = delete;
    CKeptWithinReach& operator=(const CKeptWithinReach&) = delete;

private:
    CQtModalKeeper& m_keeper;
    QWidget* m_window;
};

// Shows `window` in front of `inFrontOf` and runs `loop` until something ends it, unless `ended` says it is over
// already. `owner` (when not null) is disabled meanwhile. The window is transient for `inFrontOf`: the window manager
// keeps it above that window and minimises and restores the two together, so it cannot be lost behind a window of
// ours. Without one, Qt makes a dialog transient for a hidden window of its own, which window managers stack behind
// the visible ones.
void ShowAndWait(CQtModalKeeper& keeper, QWidget* window, QWidget* owner, QWidget* inFrontOf, QEventLoop& loop,
                 const std::function<bool()>& ended) {
    COwnerDisabled disabled(owner);
    if (inFrontOf != nullptr && inFrontOf->isVisible() && inFrontOf->windowHandle() != nullptr) {
        window->winId();
        window->windowHandle()->setTransientParent(inFrontOf->windowHandle());
    }
    const CKeptWithinReach kept(keeper, window);
    window->show();
    window->raise();
    window->activateWindow();
    if (!ended()) {
        loop.exec(QEventLoop::DialogExec);
    }
}

} // namespace

CQtWindowSystem::CQtWindowSystem() : m_keeper(std::make_unique<CQtModalKeeper>()) {
    CQtDialogUnits::InstallFontSubstitutions();
    // The program ends when its main window's run ends, not when Qt sees no window left (which also happens while
    // only a message box is up during start-up).
    QApplication::setQuitOnLastWindowClosed(false);
}

CQtWindowSystem::~CQtWindowSystem() {
    while (m_waitCursorDepth > 0) {
        EndWaitCursor();
    }
    for (CQtDialogWindow* window : m_windows) {
        if (CDialog* dialog = window->Dialog()) {
            dialog->Detach();
        }
        delete window;
    }
}

CQtDialogWindow* CQtWindowSystem::WindowOf(HWND handle) const {
    if (handle == nullptr) {
        return nullptr;
    }
    const auto* widget = reinterpret_cast<const QWidget*>(handle);
    for (CQtDialogWindow* window : m_windows) {
        if (window == widget || window->OwnsControl(widget)) {
            return window;
        }
    }
    return nullptr;
}

QWidget* CQtWindowSystem::WidgetOf(HWND handle) const {
    return WindowOf(handle) != nullptr ? reinterpret_cast<QWidget*>(handle) : nullptr;
}

CQtDialogWindow* CQtWindowSystem::CreateWindowFor(CDialog& dialog) {
    const DialogTemplate* dialogTemplate = FindDialogTemplate(static_cast<int>(dialog.GetTemplateId()));
    if (dialogTemplate == nullptr) {
        return nullptr;
    }
    auto* window = new CQtDialogWindow(*dialogTemplate);
    m_windows.push_back(window);
    window->SetDialog(&dialog);
    dialog.Attach(window->Handle());
    return window;
}

void CQtWindowSystem::Forget(CQtDialogWindow* window) {
    m_windows.erase(std::remove(m_windows.begin(), m_windows.end(), window), m_windows.end());
    if (CDialog* dialog = window->Dialog()) {
        window->SetDialog(nullptr);
        dialog->Detach();
    }
}

void CQtWindowSystem::ShowAndPaint(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
    // Wait (briefly, and without taking user input) until the window is on screen, then paint it now: the code
    // after this may keep the thread busy for a long time, and the window must show its contents meanwhile.
    QElapsedTimer waited;
    waited.start();
    while (window->windowHandle() != nullptr && !window->windowHandle()->isExposed() && waited.elapsed() < 500) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    }
    window->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QGuiApplication::sync();
}

INT_PTR CQtWindowSystem::RunModalDialog(CDialog& dialog, HWND owner) {
    CQtDialogWindow* window = CreateWindowFor(dialog);
    if (window == nullptr) {
        return -1;
    }
    QWidget* ownerWindow = nullptr;
    if (CQtDialogWindow* ownerDialog = WindowOf(owner)) {
        ownerWindow = ownerDialog;
    }
    // Whatever happens below, the window goes away and the dialog object lets go of it.
    struct CCleanup {
        CQtWindowSystem* system;
        CQtDialogWindow* window;
        ~CCleanup() {
            window->hide();
            system->Forget(window);
            delete window;
        }
    } cleanup{this, window};

    const BOOL focusFirst = dialog.HandleInitDialog();
    if (window->IsEnded()) {
        return window->Result();
    }
    if (focusFirst) {
        window->FocusFirstTabStop();
    }
    CenterOn(window, ownerWindow);
    QEventLoop loop;
    window->SetModalLoop(&loop);
    ShowAndWait(*m_keeper, window, ownerWindow, ownerWindow, loop, [window] { return window->IsEnded(); });
    window->SetModalLoop(nullptr);
    return window->Result();
}

bool CQtWindowSystem::CreateModelessDialog(CDialog& dialog, HWND parent) {
    CQtDialogWindow* window = CreateWindowFor(dialog);
    if (window == nullptr) {
        return false;
    }
    CQtDialogWindow* parentWindow = WindowOf(parent);
    CenterOn(window, (window->Template().style & DS_CENTER) ? nullptr : parentWindow);
    BOOL focusFirst = FALSE;
    try {
        focusFirst = dialog.HandleInitDialog();
    } catch (...) {
        // A window whose initialisation failed is not left half made.
        Forget(window);
        delete window;
        throw;
    }
    if (focusFirst && window->Dialog() != nullptr) {
        window->FocusFirstTabStop();
    }
    if ((window->Template().style & DS_VISIBLE) != 0 && !window->IsEnded() && window->Dialog() != nullptr) {
        ShowAndPaint(window);
    }
    return true;
}

void CQtWindowSystem::EndDialog(HWND dialog, INT_PTR result) {
    if (CQtDialogWindow* window = WindowOf(dialog)) {
        window->End(result);
    }
}

void CQtWindowSystem::DestroyWindow(HWND handle) {
    CQtDialogWindow* window = WindowOf(handle);
    if (window == nullptr || reinterpret_cast<QWidget*>(handle) != window) {
        return;
    }
    if (window->InModalRun()) {
        // A modal run owns its window and removes it when it returns.
        window->End(-1);
        return;
    }
    window->hide();
    Forget(window);
    // Later, not now: this may be called from inside one of the window's own handlers.
    window->deleteLater();
}

void CQtWindowSystem::ShowWindow(HWND handle, int showCommand) {
    QWidget* widget = WidgetOf(handle);
    if (widget == nullptr) {
        return;
    }
    if (showCommand == SW_HIDE) {
        widget->hide();
    } else if (widget->isWindow()) {
        ShowAndPaint(widget);
    } else {
        widget->show();
    }
}

HWND CQtWindowSystem::GetDlgItem(HWND dialog, int controlId) {
    CQtDialogWindow* window = WindowOf(dialog);
    if (window == nullptr) {
        return nullptr;
    }
    QWidget* control = window->Control(controlId);
    return control != nullptr ? reinterpret_cast<HWND>(control) : nullptr;
}

int CQtWindowSystem::GetWindowText(HWND control, CString& text) {
    QWidget* widget = WidgetOf(control);
    const QString value = widget != nullptr ? CQtDialogWindow::ControlText(widget) : QString();
    text = ToCString(value);
    return static_cast<int>(value.toUcs4().size());
}

void CQtWindowSystem::SetWindowText(HWND control, const CString& text) {
    if (QWidget* widget = WidgetOf(control)) {
        WindowOf(control)->SetControlText(widget, ToQString(text));
    }
}

int CQtWindowSystem::ListInitStorage(HWND list, int items, int /*bytes*/) {
    // Qt's list grows as it needs; the hint has nothing to prepare. The answer is the room now available.
    auto* widget = qobject_cast<QListWidget*>(WidgetOf(list));
    return widget != nullptr ? widget->count() + std::max(items, 0) : LB_ERR;
}

int CQtWindowSystem::ListInsertString(HWND list, int position, const CString& text) {
    auto* widget = qobject_cast<CQtListBox*>(WidgetOf(list));
    if (widget == nullptr || position < -1 || position > widget->count()) {
        return LB_ERR;
    }
    return WindowOf(list)->InsertListItemSilently(widget, position, ToQString(text));
}

int CQtWindowSystem::ListAddStrings(HWND list, const std::vector<CString>& texts) {
    auto* widget = qobject_cast<CQtListBox*>(WidgetOf(list));
    if (widget == nullptr) {
        return LB_ERR;
    }
    QStringList items;
    items.reserve(static_cast<qsizetype>(texts.size()));
    for (const CString& text : texts) {
        items.append(ToQString(text));
    }
    return WindowOf(list)->AppendListItemsSilently(widget, items);
}

int CQtWindowSystem::ListGetCurSel(HWND list) {
    auto* widget = qobject_cast<QListWidget*>(WidgetOf(list));
    if (widget == nullptr) {
        return LB_ERR;
    }
    const QList<QListWidgetItem*> selected = widget->selectedItems();
    return selected.isEmpty() ? LB_ERR : widget->row(selected.first());
}

int CQtWindowSystem::ListSelectString(HWND list, int startAfter, const CString& prefix) {
    auto* widget = qobject_cast<CQtListBox*>(WidgetOf(list));
    if (widget == nullptr) {
        return LB_ERR;
    }
    const int row = widget->FindPrefix(startAfter, ToQString(prefix));
    if (row < 0) {
        return LB_ERR;
    }
    WindowOf(list)->SelectListRowSilently(widget, row);
    return row;
}

int CQtWindowSystem::ListSetCurSel(HWND list, int position) {
    auto* widget = qobject_cast<QListWidget*>(WidgetOf(list));
    if (widget == nullptr || position < 0 || position >= widget->count()) {
        return LB_ERR;
    }
    WindowOf(list)->SelectListRowSilently(widget, position);
    return position;
}

CQtReportList* CQtWindowSystem::ReportOf(HWND handle) const {
    return qobject_cast<CQtReportList*>(WidgetOf(handle));
}

void CQtWindowSystem::ReportSetColumns(HWND list, const std::vector<ReportColumn>& columns) {
    CQtReportList* report = ReportOf(list);
    if (report == nullptr) {
        return;
    }
    std::vector<int> widths;
    widths.reserve(columns.size());
    for (const ReportColumn& column : columns) {
        widths.push_back(WindowOf(list)->Units().ToPixelsX(column.width));
    }
    report->SetColumns(columns, widths);
}

int CQtWindowSystem::ReportSetRows(HWND list, const std::vector<ReportRow>& rows) {
    CQtReportList* report = ReportOf(list);
    return report != nullptr ? report->SetRows(rows) : 0;
}

std::optional<long> CQtWindowSystem::ReportGetSelection(HWND list) {
    const CQtReportList* report = ReportOf(list);
    return report != nullptr ? report->Selection() : std::nullopt;
}

bool CQtWindowSystem::ReportSelectKey(HWND list, long key) {
    CQtReportList* report = ReportOf(list);
    return report != nullptr && report->SelectKey(key);
}

void CQtWindowSystem::ReportSortBy(HWND list, const ReportSort& sort) {
    if (CQtReportList* report = ReportOf(list)) {
        report->SortBy(sort);
    }
}

ReportSort CQtWindowSystem::ReportGetSort(HWND list) {
    const CQtReportList* report = ReportOf(list);
    return report != nullptr ? report->Sort() : ReportSort{};
}

std::vector<long> CQtWindowSystem::ReportGetKeys(HWND list) {
    const CQtReportList* report = ReportOf(list);
    return report != nullptr ? report->Keys() : std::vector<long>();
}

void CQtWindowSystem::EnableWindow(HWND control, bool enable) {
    if (QWidget* widget = WidgetOf(control)) {
        widget->setEnabled(enable);
    }
}

void CQtWindowSystem::SetFocus(HWND control) {
    if (QWidget* widget = WidgetOf(control)) {
        widget->setFocus(Qt::OtherFocusReason);
    }
}

void CQtWindowSystem::RedrawWindow(HWND control, UINT /*flags*/) {
    if (QWidget* widget = WidgetOf(control)) {
        widget->update();
        if (auto* view = qobject_cast<QAbstractScrollArea*>(widget)) {
            view->viewport()->repaint();
        }
        widget->repaint();
    }
}

int CQtWindowSystem::GetCheck(HWND button) {
    auto* box = qobject_cast<QAbstractButton*>(WidgetOf(button));
    return box != nullptr && box->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void CQtWindowSystem::SetCheck(HWND button, int check) {
    if (auto* box = qobject_cast<QAbstractButton*>(WidgetOf(button)); box != nullptr && box->isCheckable()) {
        box->setChecked(check != BST_UNCHECKED);
    }
}

int CQtWindowSystem::MessageBox(HWND owner, const CString& text, const CString& caption, UINT /*style*/) {
    // Without an owner the box blocks only its caller: every other window stays enabled and keeps taking commands
    // while it is up. With an owner, that window is disabled for the box's life. Either way the box opens in front
    // of the program's windows, raised and with the keyboard focus, so that it is seen before another one follows.
    QWidget* ownerWindow = WindowOf(owner);
    QWidget* inFrontOf = ownerWindow != nullptr ? ownerWindow : FrontWindow();
    QMessageBox box;
    box.setWindowModality(Qt::NonModal);
    // After the modality, which sets the flags of a plain dialog again.
    box.setWindowFlags(CQtDialogWindow::FixedDialogFlags(Qt::Dialog, true));
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(ToQString(caption));
    box.setText(DisplayText(ToQString(text)));
    box.setTextFormat(Qt::PlainText);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    QEventLoop loop;
    QObject::connect(&box, &QMessageBox::finished, &loop, [&loop] { loop.exit(0); });
    const QPointer<QWidget> returnTo = inFrontOf;
    ShowAndWait(*m_keeper, &box, ownerWindow, inFrontOf, loop, [] { return false; });
    // The keyboard goes back to the window the box stood in front of, so that its shortcuts work at once; not every
    // window manager does that for a window that was not the box's owner, and without one nobody does.
    box.hide();
    if (returnTo && returnTo->isVisible() && returnTo->isEnabled()) {
        returnTo->activateWindow();
    }
    return IDOK;
}

QWidget* CQtWindowSystem::FrontWindow() const {
    const auto onScreen = [](const QWidget* window) { return window->isVisible() && !window->isMinimized(); };
    const CWnd* mainWnd = AfxGetMainWnd();
    if (CQtDialogWindow* main = mainWnd != nullptr ? WindowOf(mainWnd->GetSafeHwnd()) : nullptr;
        main != nullptr && onScreen(main)) {
        return main;
    }
    // Before the main window shows (while the engine starts), the start-up notice is the one on the screen.
    const auto newest = std::find_if(m_windows.rbegin(), m_windows.rend(), onScreen);
    return newest != m_windows.rend() ? *newest : nullptr;
}

void CQtWindowSystem::BeginWaitCursor() {
    ++m_waitCursorDepth;
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    // The work that follows keeps the thread busy: hand the cursor to the display server now, not afterwards.
    QGuiApplication::sync();
}

void CQtWindowSystem::EndWaitCursor() {
    if (m_waitCursorDepth > 0) {
        --m_waitCursorDepth;
        QApplication::restoreOverrideCursor();
    }
}

CString CQtWindowSystem::LoadString(UINT id) {
    const std::optional<std::string_view> text = FindStringResource(id);
    return text ? CString(*text) : CString();
}

HICON CQtWindowSystem::LoadIcon(UINT id) {
    auto found = m_icons.find(id);
    if (found == m_icons.end()) {
        const IconResource* resource = FindIconResource(static_cast<int>(id));
        if (resource == nullptr) {
            return nullptr;
        }
        // Every size drawn for this icon goes in, so that Qt never scales one bitmap for the caption or the dock.
        auto icon = std::make_unique<QIcon>();
        for (const std::span<const char* const> xpm : FindIconSizes(static_cast<int>(id))) {
            icon->addPixmap(QPixmap(xpm.data()));
        }
        found = m_icons.emplace(id, std::move(icon)).first;
    }
    return reinterpret_cast<HICON>(found->second.get());
}

void CQtWindowSystem::SetIcon(HWND handle, HICON icon, bool /*big*/) {
    // One icon serves the caption and the task switcher alike; Qt picks the size each needs.
    QWidget* window = WindowOf(handle);
    if (window == nullptr || icon == nullptr) {
        return;
    }
    for (const auto& [id, loaded] : m_icons) {
        if (reinterpret_cast<HICON>(loaded.get()) == icon) {
            window->setWindowIcon(*loaded);
        }
    }
}

HMENU CQtWindowSystem::GetSystemMenu(HWND handle) {
    CQtDialogWindow* window = WindowOf(handle);
    return window != nullptr ? reinterpret_cast<HMENU>(window->SystemMenu()) : nullptr;
}

bool CQtWindowSystem::AppendMenu(HMENU menu, UINT flags, UINT_PTR id, const CString& text) {
    for (CQtDialogWindow* window : m_windows) {
        QMenu* systemMenu = window->SystemMenu();
        if (systemMenu == nullptr || reinterpret_cast<HMENU>(systemMenu) != menu) {
            continue;
        }
        if ((flags & MF_SEPARATOR) != 0) {
            systemMenu->addSeparator();
        } else {
            QAction* action = systemMenu->addAction(ToQString(text));
            action->setData(static_cast<qulonglong>(id));
        }
        return true;
    }
    return false;
}

bool CQtWindowSystem::SetMenu(HWND handle, UINT menuId) {
    CQtDialogWindow* window = WindowOf(handle);
    const MenuTemplate* menu = FindMenuTemplate(static_cast<int>(menuId));
    if (window == nullptr || reinterpret_cast<QWidget*>(handle) != window || menu == nullptr) {
        return false;
    }
    return window->SetMenuBar(*menu);
}

bool CQtWindowSystem::EnableMenuItem(HWND handle, UINT id, bool enable) {
    CQtDialogWindow* window = WindowOf(handle);
    QAction* action = window != nullptr ? window->MenuAction(static_cast<int>(id)) : nullptr;
    if (action == nullptr) {
        return false;
    }
    // A disabled action takes its shortcut with it.
    action->setEnabled(enable);
    return true;
}

bool CQtWindowSystem::IsIconic(HWND handle) {
    QWidget* window = WindowOf(handle);
    return window != nullptr && window->isMinimized();
}

HDC CQtWindowSystem::BeginPaint(HWND handle) {
    CQtDialogWindow* window = WindowOf(handle);
    if (window == nullptr) {
        return nullptr;
    }
    // Outside a paint event there is nothing to paint on; the context is still valid and draws nothing.
    m_paintContexts.push_back(std::make_unique<PaintContext>(PaintContext{window, window->BeginPaint()}));
    return reinterpret_cast<HDC>(m_paintContexts.back().get());
}

void CQtWindowSystem::EndPaint(HWND /*window*/, HDC dc) {
    PaintContext* context = ContextOf(dc);
    if (context == nullptr) {
        return;
    }
    if (context->painter != nullptr &&
        std::find(m_windows.begin(), m_windows.end(), context->window) != m_windows.end()) {
        context->window->EndPaint();
    }
    m_paintContexts.erase(std::find_if(m_paintContexts.begin(), m_paintContexts.end(),
                                       [context](const auto& owned) { return owned.get() == context; }));
}

CQtWindowSystem::PaintContext* CQtWindowSystem::ContextOf(HDC dc) const {
    for (const auto& context : m_paintContexts) {
        if (reinterpret_cast<HDC>(context.get()) == dc) {
            return context.get();
        }
    }
    return nullptr;
}

int CQtWindowSystem::GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    default:
        return 0;
    }
}

RECT CQtWindowSystem::GetClientRect(HWND handle) {
    RECT rect;
    if (QWidget* widget = WidgetOf(handle)) {
        rect.right = widget->width();
        rect.bottom = widget->height();
        // A window's client area starts below its menu bar.
        if (const CQtDialogWindow* window = WindowOf(handle); widget == window) {
            rect.bottom -= window->ClientTop();
        }
    }
    return rect;
}

void CQtWindowSystem::DrawIcon(HDC dc, int x, int y, HICON icon) {
    const PaintContext* context = ContextOf(dc);
    if (context == nullptr || context->painter == nullptr || icon == nullptr) {
        return;
    }
    // The point is in client coordinates; the painter's are the window's, whose client area starts below the menu bar.
    const int top = context->window->ClientTop();
    for (const auto& [id, loaded] : m_icons) {
        if (reinterpret_cast<HICON>(loaded.get()) == icon) {
            context->painter->drawPixmap(x, y + top, loaded->pixmap(32, 32));
        }
    }
}

LRESULT CQtWindowSystem::DefWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    CQtDialogWindow* window = WindowOf(handle);
    if (window == nullptr) {
        return 0;
    }
    switch (message) {
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            // Closing a dialog is its Cancel command, so the dialog's own logic ends it.
            window->SendCommand(BN_CLICKED, IDCANCEL);
            break;
        case SC_KEYMENU:
            if (lParam == ' ') {
                window->PopupSystemMenu(window->mapToGlobal(QPoint(0, 0)));
            }
            break;
        default:
            break;
        }
        return 0;
    case WM_PAINT:
        window->PaintDefault();
        return 0;
    case WM_ICONERASEBKGND:
        if (const PaintContext* context = ContextOf(reinterpret_cast<HDC>(wParam));
            context != nullptr && context->painter != nullptr) {
            context->painter->fillRect(window->rect(), window->palette().window());
        }
        return 1;
    default:
        return 0;
    }
}

void CQtWindowSystem::ProcessPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CQtWindowSystem::ExitProcess(int status) {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::exit(status);
}
