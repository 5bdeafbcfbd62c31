#pragma once

#include <cstdint>

#include "CString.h"

// Basic types of the dialog framework. Handles are opaque: each toolkit decides what stands behind them.

using UINT = std::uint32_t;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;

struct WindowHandleTag;
struct MenuHandleTag;
struct IconHandleTag;
struct DeviceContextTag;
using HWND = WindowHandleTag*; // a window or a control
using HMENU = MenuHandleTag*;
using HICON = IconHandleTag*;
using HCURSOR = HICON;
using HDC = DeviceContextTag*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

struct RECT {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// Window messages the framework dispatches by message alone.
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_ICONERASEBKGND = 0x0027;
inline constexpr UINT WM_QUERYDRAGICON = 0x0037;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;

// Notification codes carried by WM_COMMAND.
inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT LBN_SELCHANGE = 1;
inline constexpr UINT LBN_DBLCLK = 2;
inline constexpr UINT EN_CHANGE = 0x0300;

// System commands.
inline constexpr UINT SC_CLOSE = 0xF060;
inline constexpr UINT SC_MOVE = 0xF010;
inline constexpr UINT SC_KEYMENU = 0xF100;

// Show commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;

// Menu item flags.
inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_SEPARATOR = 0x0800;

// Redraw flags.
inline constexpr UINT RDW_INVALIDATE = 0x0001;
inline constexpr UINT RDW_ERASE = 0x0004;
inline constexpr UINT RDW_UPDATENOW = 0x0100;

// System metrics.
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;

// Message box style: an OK button only.
inline constexpr UINT MB_OK = 0x0000;

// List box results.
inline constexpr int LB_ERR = -1;

// Check box marks.
inline constexpr int BST_UNCHECKED = 0;
inline constexpr int BST_CHECKED = 1;
