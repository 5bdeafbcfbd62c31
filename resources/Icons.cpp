#include "Resources.h"

#include <array>
#include <iterator>

namespace {

// Our own drawings, 32 x 32 in 16 colours at most: a film frame with a star for the main window, and a star on a
// strip of film for the program.
#include "icons/mainframe.xpm"
#include "icons/program.xpm"
// The main window's picture redrawn at the other sizes desktops ask for (menus, docks, the installed menu entry), so
// that no size is a bitmap scaled up; icons/draw-mainframe.py draws them from the same shapes.
#include "icons/mainframe-128.xpm"
#include "icons/mainframe-16.xpm"
#include "icons/mainframe-48.xpm"
#include "icons/mainframe-64.xpm"

template <std::size_t N> std::span<const char* const> Xpm(const char* const (&lines)[N]) {
    return std::span<const char* const>(std::begin(lines), std::end(lines));
}

const std::array kIcons{
    IconResource{IDR_MAINFRAME, Xpm(kMainFrameXpm)},
    IconResource{IDI_PROGRAM_ICON, Xpm(kProgramXpm)},
};

const std::array kMainFrameSizes{Xpm(kMainFrame16Xpm), Xpm(kMainFrameXpm), Xpm(kMainFrame48Xpm), Xpm(kMainFrame64Xpm),
                                 Xpm(kMainFrame128Xpm)};

} // namespace

const IconResource* FindIconResource(int id) {
    for (const IconResource& icon : kIcons) {
        if (icon.id == id) {
            return &icon;
        }
    }
    return nullptr;
}

std::span<const std::span<const char* const>> FindIconSizes(int id) {
    if (id == IDR_MAINFRAME) {
        return kMainFrameSizes;
    }
    const IconResource* icon = FindIconResource(id);
    return icon != nullptr ? std::span<const std::span<const char* const>>(&icon->xpm, 1)
                           : std::span<const std::span<const char* const>>();
}
