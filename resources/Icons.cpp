#include "Resources.h"

#include <array>
#include <iterator>

namespace {

// Our own drawings, 32 x 32 in 16 colours at most: a film frame with a star for the main window, and a star on a
// strip of film for the program.
#include "icons/mainframe.xpm"
#include "icons/program.xpm"

const std::array kIcons{
    IconResource{IDR_MAINFRAME, std::span<const char* const>(std::begin(kMainFrameXpm), std::end(kMainFrameXpm))},
    IconResource{IDI_PROGRAM_ICON, std::span<const char* const>(std::begin(kProgramXpm), std::end(kProgramXpm))},
};

} // namespace

const IconResource* FindIconResource(int id) {
    for (const IconResource& icon : kIcons) {
        if (icon.id == id) {
            return &icon;
        }
    }
    return nullptr;
}
