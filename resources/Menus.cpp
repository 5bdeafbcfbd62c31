#include "Resources.h"

#include <array>

namespace {

// IDR_MAIN_MENU: the main window's menu bar.
constexpr std::array kMoviesItems{
    MenuItemTemplate{ID_MOVIES_TOP_PICKS, "&Top picks...", "Ctrl+T"},
    MenuItemTemplate{ID_MOVIES_MORE_LIKE_THIS, "&More like this...", "Ctrl+L"},
    MenuItemTemplate{ID_MOVIES_YOUR_RATINGS, "&Your ratings...", "Ctrl+R"},
};
constexpr std::array kHelpItems{
    MenuItemTemplate{ID_HELP_ABOUT, "&About Quillory...", ""},
};
constexpr std::array kMainPopups{
    MenuPopupTemplate{"&Movies", kMoviesItems},
    MenuPopupTemplate{"&Help", kHelpItems},
};

constexpr std::array kMenus{
    MenuTemplate{IDR_MAIN_MENU, kMainPopups},
};

} // namespace

const MenuTemplate* FindMenuTemplate(int id) {
    for (const MenuTemplate& menu : kMenus) {
        if (menu.id == id) {
            return &menu;
        }
    }
    return nullptr;
}
