#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "resource.h"

// The program's resources as data: dialog templates, the string table and the icons.
// Positions and sizes are in dialog units of the template's font.

// A ReportList is a list with columns under a header (its columns and rows come from the program).
enum class ControlKind { PushButton, Edit, StaticText, ListBox, CheckBox, GroupBox, StaticIcon, ReportList };

// Styles of a control that change its behaviour or its look.
enum ControlStyle : std::uint32_t {
    CS_NONE = 0,
    CS_HIDDEN = 1u << 0,            // not visible; stays hidden and out of the tab order
    CS_TABSTOP = 1u << 1,           // reachable with Tab
    CS_GROUP = 1u << 2,             // starts a group
    CS_DEFPUSHBUTTON = 1u << 3,     // the dialog's default push button (Enter clicks it)
    CS_BORDER = 1u << 4,            // thin border
    CS_READONLY = 1u << 5,          // edit: text cannot be changed by the user
    CS_PASSWORD = 1u << 6,          // edit: typed characters are masked
    CS_AUTOHSCROLL = 1u << 7,       // edit: scrolls horizontally instead of limiting the text
    CS_NUMBER = 1u << 8,            // edit: only digits can be typed (pasted text is kept as it is)
    CS_CENTER = 1u << 9,            // static: each line centred
    CS_WORDWRAP = 1u << 10,         // static: left-aligned, wraps at word boundaries
    CS_SORT = 1u << 11,             // list: sorted style (acts only on items added without a position)
    CS_NOTIFY = 1u << 12,           // list: reports selection changes and double-clicks
    CS_VSCROLL = 1u << 13,          // vertical scroll bar
    CS_NOINTEGRALHEIGHT = 1u << 14, // list: height not rounded to whole items
    CS_AUTOCHECK = 1u << 15,        // check box: toggles its own mark on each click
    CS_LEFTTEXT = 1u << 16,         // check box: text on the left of the box
    CS_NOPREFIX = 1u << 17,         // static: ampersands shown as written
    CS_HSCROLL = 1u << 18,          // list: horizontal scroll bar when an item is wider than the list
};

// Styles of a dialog window.
enum DialogStyle : std::uint32_t {
    DS_NONE = 0,
    DS_CAPTION = 1u << 0,    // caption bar
    DS_SYSMENU = 1u << 1,    // system menu and close box
    DS_MODALFRAME = 1u << 2, // fixed dialog frame, not resizable
    DS_VISIBLE = 1u << 3,    // visible when created
    DS_CENTER = 1u << 4,     // centred in the screen's work area when created
    DS_3DLOOK = 1u << 5,
    DS_APPWINDOW = 1u << 6, // shown in the task bar as an application window
};

struct ControlTemplate {
    int id; // control identifier; -1 (IDC_STATIC) for none
    ControlKind kind;
    std::string_view text; // text, or for a static icon the icon resource's decimal id
    int x, y, cx, cy;      // dialog units
    std::uint32_t style;   // ControlStyle flags
};

// A key that sends a command to the dialog while it takes input, as a click on a button with that id would: "1",
// "Delete", "Ctrl+T" (the key names of the menu shortcuts).
struct AcceleratorTemplate {
    std::string_view keys;
    int id;
};

struct DialogTemplate {
    int id;
    std::string_view title;
    int cx, cy;                                // client area in dialog units
    std::string_view fontName;                 // "MS Sans Serif"
    int fontPoints;                            // 8
    std::uint32_t style;                       // DialogStyle flags
    std::span<const ControlTemplate> controls; // template order = tab order = stacking order
    std::span<const AcceleratorTemplate> accelerators = {};
};

// One entry of a drop-down menu: a command (id > 0) with its text and its keyboard shortcut ("Ctrl+T", or empty for
// none), or a separator (id 0).
struct MenuItemTemplate {
    int id;
    std::string_view text;
    std::string_view shortcut;
};

// One drop-down menu of a menu bar, with its title ("&Movies").
struct MenuPopupTemplate {
    std::string_view text;
    std::span<const MenuItemTemplate> items;
};

// A menu bar, its drop-down menus left to right.
struct MenuTemplate {
    int id;
    std::span<const MenuPopupTemplate> popups;
};

// An icon image in XPM form (text lines as the XPM format gives them).
struct IconResource {
    int id;
    std::span<const char* const> xpm;
};

// The template with this id, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);
// The menu bar with this id, or nullptr.
const MenuTemplate* FindMenuTemplate(int id);
// The string with this id, or nothing when the string table has none.
std::optional<std::string_view> FindStringResource(unsigned id);
// The icon with this id, or nullptr.
const IconResource* FindIconResource(int id);
// Every drawing of the icon with this id, smallest first: the resource's own image and the same picture drawn at
// other sizes. Empty when there is no such icon.
std::span<const std::span<const char* const>> FindIconSizes(int id);
