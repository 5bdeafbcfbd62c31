#include "QtDialogWindow.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string_view>

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>

#include "Dialog.h"
#include "QtCheckBox.h"
#include "QtDigitsOnlyFilter.h"
#include "QtDisplayText.h"
#include "QtGroupBox.h"
#include "QtListBox.h"
#include "QtReportList.h"
#include "resource.h"

namespace {

// A static text keeps the text it was given (line breaks as written), and shows it with plain new lines.
constexpr const char* kRawTextProperty = "quilloryText";
// A list that no label names is named after its window's title, and follows it when the title changes.
constexpr const char* kNamedAfterTitleProperty = "quilloryNamedAfterTitle";

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A label's words without the access-key marker and the trailing colon: "&User name:" -> "User name".
QString SpokenName(QString text) {
    text.remove(QLatin1Char('&'));
    text = text.trimmed();
    if (text.endsWith(QLatin1Char(':'))) {
        text.chop(1);
    }
    return text.trimmed();
}

bool Has(const ControlTemplate& control, std::uint32_t style) {
    return (control.style & style) != 0;
}

// Runs a handler of the program. A failure must not unwind through Qt's event delivery, which cannot take it;
// the program's own guard reports engine failures, so anything arriving here is a fault worth saying out loud.
template <typename Handler> void Deliver(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "Unhandled failure in a window handler: %s\n", failure.what());
    } catch (...) {
        std::fprintf(stderr, "Unhandled failure in a window handler\n");
    }
}

} // namespace

Qt::WindowFlags CQtDialogWindow::FixedDialogFlags(Qt::WindowType kind, bool systemMenu) {
    Qt::WindowFlags flags = kind | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;
    if (systemMenu) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    return flags;
}

CQtDialogWindow::CQtDialogWindow(const DialogTemplate& dialogTemplate)
    : m_template(&dialogTemplate),
      m_units(CQtDialogUnits::DialogFont(dialogTemplate.fontName, dialogTemplate.fontPoints)) {
    const bool hasSystemMenu = (dialogTemplate.style & DS_SYSMENU) != 0;
    setWindowFlags(FixedDialogFlags((dialogTemplate.style & DS_APPWINDOW) ? Qt::Window : Qt::Dialog, hasSystemMenu));
    setWindowTitle(FromView(dialogTemplate.title));
    setFont(CQtDialogUnits::DialogFont(dialogTemplate.fontName, dialogTemplate.fontPoints));
    setFixedSize(m_units.ToPixelsX(dialogTemplate.cx), m_units.ToPixelsY(dialogTemplate.cy));
    setSizeGripEnabled(false);
    setModal(false);

    if (hasSystemMenu) {
        // Window managers keep their window menu to themselves, so the window carries its own.
        m_systemMenu = std::make_unique<QMenu>(this);
        m_systemMenu->setAccessibleName(tr("System menu"));
        QAction* close = m_systemMenu->addAction(tr("&Close"));
        close->setData(static_cast<qulonglong>(SC_CLOSE));
        close->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
        connect(m_systemMenu.get(), &QMenu::triggered, this, [this](QAction* action) {
            const auto id = static_cast<WPARAM>(action->data().toULongLong());
            SendWindowMessage(WM_SYSCOMMAND, id, 0);
        });
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] { SendWindowMessage(WM_SYSCOMMAND, SC_KEYMENU, ' '); });
    }

    BuildControls();
    BuildAccelerators();
    NameControlsForScreenReaders();
}

CQtDialogWindow::~CQtDialogWindow() = default;

void CQtDialogWindow::BuildControls() {
    QWidget* previousTabStop = nullptr;
    for (const ControlTemplate& control : m_template->controls) {
        QWidget* widget = BuildControl(control);
        QRect area = m_units.ToPixels(control.x, control.y, control.cx, control.cy);
        if (auto* label = qobject_cast<QLabel*>(widget);
            label != nullptr && control.kind == ControlKind::StaticText && !label->wordWrap()) {
            area.setWidth(std::max(area.width(), label->sizeHint().width()));
        }
        widget->setGeometry(area);
        if (Has(control, CS_HIDDEN)) {
            // Hidden controls take no focus at all, so neither Tab nor a click can reach them.
            widget->setFocusPolicy(Qt::NoFocus);
            widget->hide();
        } else if (widget->focusPolicy() != Qt::NoFocus) {
            widget->setFocusPolicy(Has(control, CS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
            if (Has(control, CS_TABSTOP)) {
                if (previousTabStop != nullptr) {
                    QWidget::setTabOrder(previousTabStop, widget);
                }
                previousTabStop = widget;
            }
        }
        m_controls.emplace_back(&control, widget);
        ConnectNotifications(widget, control);
    }
}

void CQtDialogWindow::BuildAccelerators() {
    for (const AcceleratorTemplate& accelerator : m_template->accelerators) {
        auto* shortcut = new QShortcut(QKeySequence(FromView(accelerator.keys), QKeySequence::PortableText), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int id = accelerator.id;
        connect(shortcut, &QShortcut::activated, this, [this, id] {
            // The key of a disabled button does what a click on it does: nothing.
            const QWidget* control = Control(id);
            if (control == nullptr || control->isEnabled()) {
                SendCommand(BN_CLICKED, id);
            }
        });
    }
}

QWidget* CQtDialogWindow::BuildControl(const ControlTemplate& control) {
    const QString text = FromView(control.text);
    switch (control.kind) {
    case ControlKind::PushButton: {
        auto* button = new QPushButton(text, this);
        // Enter is the window's business (see PressEnter): no button becomes the default just by having focus.
        button->setAutoDefault(false);
        button->setDefault(Has(control, CS_DEFPUSHBUTTON));
        return button;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, this);
        edit->setFrame(Has(control, CS_BORDER));
        edit->setReadOnly(Has(control, CS_READONLY));
        if (Has(control, CS_PASSWORD)) {
            edit->setEchoMode(QLineEdit::Password);
        }
        if (Has(control, CS_NUMBER)) {
            edit->installEventFilter(new CQtDigitsOnlyFilter(edit));
        }
        return edit;
    }
    case ControlKind::StaticText: {
        auto* label = new QLabel(this);
        label->setTextFormat(Qt::PlainText);
        // Centred and word-wrapped texts wrap at word boundaries; a plain one-line text keeps its words on its
        // line (see BuildControls), since the stand-in font can be a little wider than the template's.
        label->setWordWrap(Has(control, CS_WORDWRAP) || Has(control, CS_CENTER));
        label->setAlignment((Has(control, CS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        if (Has(control, CS_BORDER)) {
            label->setFrameStyle(QFrame::Box | QFrame::Plain);
            label->setLineWidth(1);
        }
        // Static texts take no clicks: a right-click on them reaches the window (and its system menu).
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setProperty(kRawTextProperty, text);
        label->setText(DisplayText(text));
        return label;
    }
    case ControlKind::ListBox: {
        auto* list = new CQtListBox(this);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSortingEnabled(false); // positions are the program's; nothing is sorted into place
        // Rows of one height and width are quick to lay out, but a list that scrolls sideways needs each row's
        // own width: uniform sizes take the first row's for all and cut the longer ones short.
        list->setUniformItemSizes(!Has(control, CS_HSCROLL));
        list->setVerticalScrollBarPolicy(Has(control, CS_VSCROLL) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        list->setHorizontalScrollBarPolicy(Has(control, CS_HSCROLL) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        list->setFrameStyle(Has(control, CS_BORDER) ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
        return list;
    }
    case ControlKind::ReportList: {
        auto* report = new CQtReportList(this);
        report->setVerticalScrollBarPolicy(Has(control, CS_VSCROLL) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        report->setFrameStyle(Has(control, CS_BORDER) ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
        return report;
    }
    case ControlKind::CheckBox: {
        return new CQtCheckBox(text, Has(control, CS_LEFTTEXT), Has(control, CS_AUTOCHECK), this);
    }
    case ControlKind::GroupBox: {
        auto* group = new CQtGroupBox(text, this);
        // A group box only frames the controls under it: it takes neither clicks nor focus.
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        group->setFocusPolicy(Qt::NoFocus);
        return group;
    }
    case ControlKind::StaticIcon: {
        auto* label = new QLabel(this);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setProperty(kRawTextProperty, text);
        if (const IconResource* icon = FindIconResource(text.toInt())) {
            const QPixmap pixmap(icon->xpm.data());
            label->setPixmap(pixmap);
            label->setAccessibleName(windowTitle());
        }
        return label;
    }
    }
    return new QWidget(this);
}

void CQtDialogWindow::ConnectNotifications(QWidget* widget, const ControlTemplate& control) {
    const int id = control.id;
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        // clicked (not toggled): a user's click, never the program's own SetCheck.
        connect(box, &QCheckBox::clicked, this, [this, id] { SendCommand(BN_CLICKED, id); });
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        connect(button, &QPushButton::clicked, this, [this, id] { SendCommand(BN_CLICKED, id); });
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        connect(edit, &QLineEdit::textChanged, this, [this, id] { SendCommand(EN_CHANGE, id); });
    } else if (auto* report = qobject_cast<CQtReportList*>(widget)) {
        if (Has(control, CS_NOTIFY)) {
            report->SetOnUserSelection([this, id] { SendCommand(LBN_SELCHANGE, id); });
            connect(report, &QAbstractItemView::doubleClicked, this, [this, id] { SendCommand(LBN_DBLCLK, id); });
        }
    } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
        if (Has(control, CS_NOTIFY)) {
            connect(list, &QListWidget::itemSelectionChanged, this, [this, id] {
                if (m_silentList == 0) {
                    SendCommand(LBN_SELCHANGE, id);
                }
            });
            connect(list, &QListWidget::itemDoubleClicked, this, [this, id] { SendCommand(LBN_DBLCLK, id); });
        }
    }
}

void CQtDialogWindow::NameControlsForScreenReaders() {
    // An edit or a list is named after the static text on its left on the same line, or else after the group box
    // that frames it; a static text inside a group box is described by the group's title.
    auto groupAround = [this](const QRect& area) -> QString {
        for (const auto& [control, widget] : m_controls) {
            if (control->kind == ControlKind::GroupBox && widget->geometry().contains(area)) {
                return SpokenName(FromView(control->text));
            }
        }
        return {};
    };
    for (const auto& [control, widget] : m_controls) {
        const QRect area = widget->geometry();
        if (control->kind == ControlKind::StaticText) {
            widget->setAccessibleDescription(groupAround(area));
            continue;
        }
        if (control->kind == ControlKind::PushButton) {
            // A button framed by a group box is described by the group's title ("Rate the selected movie").
            widget->setAccessibleDescription(groupAround(area));
            continue;
        }
        if (control->kind != ControlKind::Edit && control->kind != ControlKind::ListBox &&
            control->kind != ControlKind::ReportList) {
            continue;
        }
        const QWidget* best = nullptr;
        QString bestName;
        for (const auto& [other, otherWidget] : m_controls) {
            if (other->kind != ControlKind::StaticText || Has(*other, CS_HIDDEN) != Has(*control, CS_HIDDEN)) {
                continue;
            }
            const QRect labelArea = otherWidget->geometry();
            const int middle = labelArea.center().y();
            const bool sameLine = middle >= area.top() - 2 && middle <= area.bottom() + 2;
            if (sameLine && labelArea.right() <= area.left() + 2 &&
                (best == nullptr || labelArea.right() > best->geometry().right())) {
                best = otherWidget;
                bestName = SpokenName(FromView(other->text));
            }
        }
        if (best != nullptr) {
            if (auto* label = qobject_cast<QLabel*>(const_cast<QWidget*>(best))) {
                label->setBuddy(widget);
            }
        } else {
            bestName = groupAround(area);
        }
        if (bestName.isEmpty() && (control->kind == ControlKind::ListBox || control->kind == ControlKind::ReportList)) {
            widget->setProperty(kNamedAfterTitleProperty, true);
            bestName = windowTitle();
        }
        if (!bestName.isEmpty()) {
            widget->setAccessibleName(bestName);
        }
    }
}

QWidget* CQtDialogWindow::Control(int id) const {
    for (const auto& [control, widget] : m_controls) {
        if (control->id == id) {
            return widget;
        }
    }
    return nullptr;
}

bool CQtDialogWindow::OwnsControl(const QWidget* widget) const {
    return ControlTemplateOf(widget) != nullptr;
}

const ControlTemplate* CQtDialogWindow::ControlTemplateOf(const QWidget* widget) const {
    for (const auto& [control, controlWidget] : m_controls) {
        if (controlWidget == widget) {
            return control;
        }
    }
    return nullptr;
}

void CQtDialogWindow::SetControlText(QWidget* control, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        if (edit->text() == text) {
            if (const ControlTemplate* entry = ControlTemplateOf(edit)) {
                SendCommand(EN_CHANGE, entry->id);
            }
        } else {
            edit->setText(text);        // textChanged raises the notification
            edit->setCursorPosition(0); // a text set by the program shows from its start, like a fresh field
        }
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setProperty(kRawTextProperty, text);
        label->setText(DisplayText(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        group->setTitle(text);
    } else if (control == this) {
        setWindowTitle(text);
        for (const auto& [entry, widget] : m_controls) {
            if (widget->property(kNamedAfterTitleProperty).toBool()) {
                widget->setAccessibleName(text);
            }
        }
    }
}

QString CQtDialogWindow::ControlText(const QWidget* control) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(control)) {
        return edit->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        return label->property(kRawTextProperty).toString();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
        return button->text();
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(control)) {
        return group->title();
    }
    if (qobject_cast<const CQtDialogWindow*>(control) != nullptr) {
        return control->windowTitle();
    }
    return {};
}

void CQtDialogWindow::SelectListRowSilently(QListWidget* list, int row) {
    ++m_silentList;
    list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    --m_silentList;
    if (QListWidgetItem* item = list->item(row)) {
        list->scrollToItem(item);
    }
}

int CQtDialogWindow::InsertListItemSilently(CQtListBox* list, int position, const QString& text) {
    ++m_silentList;
    const int row = list->InsertRow((position < 0 || position > list->count()) ? list->count() : position, text);
    --m_silentList;
    return row;
}

int CQtDialogWindow::AppendListItemsSilently(CQtListBox* list, const QStringList& texts) {
    ++m_silentList;
    const int count = list->AppendRows(texts);
    --m_silentList;
    return count;
}

void CQtDialogWindow::FocusFirstTabStop() {
    for (const auto& [control, widget] : m_controls) {
        if (Has(*control, CS_TABSTOP) && !Has(*control, CS_HIDDEN) && widget->isEnabled() &&
            widget->focusPolicy() != Qt::NoFocus) {
            widget->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

bool CQtDialogWindow::SetMenuBar(const MenuTemplate& menu) {
    if (m_menuBar != nullptr) {
        return false;
    }
    m_menuBar = new QMenuBar(this);
    // In the window, where the template's client area expects it, also on desktops with a global menu.
    m_menuBar->setNativeMenuBar(false);
    m_menuBar->setAccessibleName(tr("Menu bar"));
    for (const MenuPopupTemplate& popup : menu.popups) {
        QMenu* dropDown = m_menuBar->addMenu(FromView(popup.text));
        for (const MenuItemTemplate& item : popup.items) {
            if (item.id == 0) {
                dropDown->addSeparator();
                continue;
            }
            QAction* action = dropDown->addAction(FromView(item.text));
            m_menuActions[item.id] = action;
            if (!item.shortcut.empty()) {
                action->setShortcut(QKeySequence(FromView(item.shortcut), QKeySequence::PortableText));
                action->setShortcutContext(Qt::WindowShortcut);
                // Also on the window itself, so the shortcut works while the drop-down menu was never opened.
                addAction(action);
            }
            const int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { SendCommand(BN_CLICKED, id); });
        }
    }
    const int barHeight = m_menuBar->sizeHint().height();
    m_menuBar->setGeometry(0, 0, width(), barHeight);
    for (const auto& [control, widget] : m_controls) {
        widget->move(widget->x(), widget->y() + barHeight);
    }
    m_clientTop = barHeight;
    setFixedSize(width(), height() + barHeight);
    m_menuBar->show();
    return true;
}

QAction* CQtDialogWindow::MenuAction(int id) const {
    const auto found = m_menuActions.find(id);
    return found != m_menuActions.end() ? found->second : nullptr;
}

void CQtDialogWindow::PopupSystemMenu(const QPoint& globalPosition) {
    if (m_systemMenu) {
        m_systemMenu->popup(globalPosition);
    }
}

void CQtDialogWindow::End(INT_PTR result) {
    m_result = result;
    m_ended = true;
    // An ended dialog leaves the screen at once, also when its run cannot return yet because a handler further in
    // still waits in a message box: it must not stay there looking usable and taking commands.
    hide();
    if (m_modalLoop != nullptr) {
        m_modalLoop->exit(0);
    }
}

QPainter* CQtDialogWindow::BeginPaint() {
    if (m_painting && !m_painter) {
        m_painter = std::make_unique<QPainter>(this);
    }
    return m_painter.get();
}

void CQtDialogWindow::EndPaint() {
    m_painter.reset();
}

void CQtDialogWindow::PaintDefault() {
    if (m_paintEvent != nullptr) {
        QDialog::paintEvent(m_paintEvent);
    }
}

void CQtDialogWindow::SendCommand(UINT code, int id) {
    if (m_dialog != nullptr) {
        Deliver([&] { m_dialog->OnCommandNotification(code, id); });
    }
}

LRESULT CQtDialogWindow::SendWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (m_dialog != nullptr) {
        Deliver([&] { result = m_dialog->WindowProc(message, wParam, lParam); });
    }
    return result;
}

void CQtDialogWindow::PressEnter() {
    // A focused push button takes Enter itself; otherwise the default push button does; a window without one
    // gets the OK command.
    if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused != nullptr && OwnsControl(focused)) {
        if (focused->isEnabled()) {
            focused->click();
        }
        return;
    }
    for (const auto& [control, widget] : m_controls) {
        if (Has(*control, CS_DEFPUSHBUTTON)) {
            auto* button = qobject_cast<QPushButton*>(widget);
            if (button != nullptr && button->isEnabled() && !Has(*control, CS_HIDDEN)) {
                button->click();
            }
            return;
        }
    }
    SendCommand(BN_CLICKED, IDOK);
}

void CQtDialogWindow::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->accept();
        PressEnter();
        return;
    }
    if (plain && event->key() == Qt::Key_Escape) {
        event->accept();
        SendCommand(BN_CLICKED, IDCANCEL);
        return;
    }
    QDialog::keyPressEvent(event);
}

void CQtDialogWindow::reject() {
    SendCommand(BN_CLICKED, IDCANCEL);
}

void CQtDialogWindow::closeEvent(QCloseEvent* event) {
    // The window closes only when its dialog ends; the close box asks the dialog, as its system command. A window
    // disabled by a modal dialog above it takes no commands, the close box included: the window manager may still
    // offer to close it, but the program must not end under a dialog that is still open.
    event->ignore();
    if (m_systemMenu && m_dialog != nullptr && !m_ended && isEnabled()) {
        SendWindowMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    }
}

void CQtDialogWindow::contextMenuEvent(QContextMenuEvent* event) {
    // Only the window's own background opens it (static texts and group boxes let clicks through to it).
    if (m_systemMenu && (event->reason() != QContextMenuEvent::Mouse || childAt(event->pos()) == nullptr)) {
        event->accept();
        PopupSystemMenu(event->globalPos());
        return;
    }
    QDialog::contextMenuEvent(event);
}

void CQtDialogWindow::paintEvent(QPaintEvent* event) {
    if (m_dialog == nullptr) {
        QDialog::paintEvent(event);
        return;
    }
    // The dialog object decides how it is painted (the program draws its icon while minimised); its default
    // comes back through PaintDefault.
    m_painting = true;
    m_paintEvent = event;
    SendWindowMessage(WM_PAINT, 0, 0);
    m_painter.reset();
    m_paintEvent = nullptr;
    m_painting = false;
}
