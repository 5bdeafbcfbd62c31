#include "Resources.h"

#include <array>

namespace {

constexpr std::uint32_t kEditStyle = CS_BORDER | CS_TABSTOP | CS_AUTOHSCROLL;

// IDD_ABOUTBOX: the About box.
constexpr std::array kAboutControls{
    ControlTemplate{IDC_STATIC, ControlKind::StaticIcon, "129", 11, 17, 20, 20, CS_NONE},
    ControlTemplate{IDC_STATIC, ControlKind::StaticText, "Quillory Version 1.0", 40, 10, 119, 8,
                    CS_NOPREFIX | CS_GROUP},
    ControlTemplate{IDC_STATIC, ControlKind::StaticText, "Copyright (C) 2026 The Quillory developers", 40, 25, 119, 8,
                    CS_GROUP},
    ControlTemplate{IDOK, ControlKind::PushButton, "OK", 178, 7, 50, 14, CS_DEFPUSHBUTTON | CS_GROUP | CS_TABSTOP},
};

// IDD_TOLLIVEX_DIALOG: the main window.
constexpr std::array kMainControls{
    ControlTemplate{IDOK, ControlKind::PushButton, "Close Program", 355, 7, 50, 14, CS_TABSTOP},
    ControlTemplate{IDC_MOVIE_ID, ControlKind::Edit, "", 359, 97, 36, 14, CS_HIDDEN | kEditStyle},
    ControlTemplate{IDC_GET_RATING, ControlKind::PushButton, "GetRating", 238, 133, 50, 14,
                    CS_DEFPUSHBUTTON | CS_TABSTOP},
    ControlTemplate{IDC_RESULTS, ControlKind::StaticText, "", 13, 62, 284, 49, CS_BORDER | CS_WORDWRAP | CS_GROUP},
    ControlTemplate{IDC_STATIC, ControlKind::StaticText, "MovieID:", 323, 100, 32, 8, CS_HIDDEN | CS_GROUP},
    ControlTemplate{IDC_GET_INFO, ControlKind::PushButton, "GetInfo", 96, 31, 51, 15, CS_TABSTOP},
    ControlTemplate{IDC_REFRESH, ControlKind::PushButton, "Refresh", 350, 51, 52, 15, CS_TABSTOP},
    ControlTemplate{IDC_PREDICT, ControlKind::PushButton, "Predict", 295, 133, 34, 14, CS_TABSTOP},
    ControlTemplate{IDC_LOGIN, ControlKind::PushButton, "Login", 17, 31, 69, 14, CS_TABSTOP},
    ControlTemplate{IDC_STATIC, ControlKind::StaticText, "Current User:", 17, 17, 45, 11, CS_GROUP},
    ControlTemplate{IDC_CURRENT_USER, ControlKind::Edit, "", 67, 17, 133, 12, CS_READONLY | kEditStyle},
    ControlTemplate{IDC_USER_ID, ControlKind::Edit, "", 358, 76, 40, 12, CS_HIDDEN | kEditStyle},
    ControlTemplate{IDC_RATE, ControlKind::PushButton, "Rate", 140, 133, 39, 14, CS_TABSTOP},
    ControlTemplate{IDC_RATING, ControlKind::Edit, "", 185, 133, 35, 12, CS_NUMBER | kEditStyle},
    ControlTemplate{IDC_MOVIE_LIST, ControlKind::ListBox, "", 17, 154, 355, 98,
                    CS_NOTIFY | CS_SORT | CS_NOINTEGRALHEIGHT | CS_VSCROLL | CS_BORDER | CS_TABSTOP},
    ControlTemplate{IDC_SEARCH_TEXT, ControlKind::Edit, "", 24, 132, 94, 13, kEditStyle},
    ControlTemplate{IDC_STATIC, ControlKind::GroupBox, "Rate a Movie", 133, 119, 95, 32, CS_NONE},
    ControlTemplate{IDC_STATIC, ControlKind::GroupBox, "Search Movies", 13, 119, 117, 32, CS_NONE},
    ControlTemplate{IDC_STATIC, ControlKind::GroupBox, "Results:", 7, 50, 302, 69, CS_NONE},
    ControlTemplate{IDC_EXACT_PREDICTIONS, ControlKind::CheckBox, "Exact Predictions", 328, 30, 71, 10,
                    CS_AUTOCHECK | CS_LEFTTEXT | CS_TABSTOP},
};

// IDD_WAIT_DIALOG: the start-up notice. Its text has room for a third line, the progress of a long start, above the
// OK button.
constexpr std::array kWaitControls{
    ControlTemplate{IDOK, ControlKind::PushButton, "OK", 97, 42, 50, 14, CS_DEFPUSHBUTTON | CS_TABSTOP},
    ControlTemplate{IDC_WAIT_TEXT, ControlKind::StaticText, "", 24, 13, 130, 26, CS_CENTER},
};

// IDD_LOGIN_DIALOG: user name and password.
constexpr std::array kLoginControls{
    ControlTemplate{IDOK, ControlKind::PushButton, "OK", 163, 7, 50, 14, CS_DEFPUSHBUTTON | CS_TABSTOP},
    ControlTemplate{IDCANCEL, ControlKind::PushButton, "Cancel", 163, 24, 50, 14, CS_TABSTOP},
    ControlTemplate{IDC_STATIC, ControlKind::StaticText, "User name:", 19, 18, 44, 11, CS_GROUP},
    ControlTemplate{IDC_STATIC, ControlKind::StaticText, "Password:", 18, 34, 44, 11, CS_GROUP},
    ControlTemplate{IDC_LOGIN_USER_NAME, ControlKind::Edit, "", 65, 18, 49, 10, kEditStyle},
    ControlTemplate{IDC_LOGIN_PASSWORD, ControlKind::Edit, "", 65, 34, 52, 10, kEditStyle | CS_PASSWORD},
    ControlTemplate{IDC_LOGIN_NEW_USER, ControlKind::PushButton, "New User", 87, 55, 51, 14, CS_TABSTOP},
};

// IDD_MOVIE_DIALOG: a movie's details.
constexpr std::uint32_t kDetailStyle = kEditStyle | CS_READONLY;
constexpr std::array kMovieControls{
    ControlTemplate{IDOK, ControlKind::PushButton, "OK", 71, 73, 50, 14, CS_DEFPUSHBUTTON | CS_TABSTOP},
    ControlTemplate{IDC_STATIC, ControlKind::StaticText, "Movie Name:", 17, 17, 43, 8, CS_GROUP},
    ControlTemplate{IDC_STATIC, ControlKind::StaticText, "Release Date:", 18, 39, 46, 8, CS_GROUP},
    ControlTemplate{IDC_STATIC, ControlKind::StaticText, "URL:", 18, 57, 18, 8, CS_GROUP},
    ControlTemplate{IDC_DETAIL_NAME, ControlKind::Edit, "", 70, 17, 115, 14, kDetailStyle},
    ControlTemplate{IDC_DETAIL_DATE, ControlKind::Edit, "", 70, 39, 116, 14, kDetailStyle},
    ControlTemplate{IDC_DETAIL_URL, ControlKind::Edit, "", 70, 57, 115, 14, kDetailStyle},
};

// IDD_PICKS_DIALOG and IDD_RATINGS_DIALOG: Top picks and More like this, and Your ratings. The list comes first, so
// it has the focus when the dialog opens; keys 1 to 5 rate the selected movie and Delete is the not-interested
// button, whose text says what it does in each dialog.
constexpr std::uint32_t kChoiceListStyle = CS_NOTIFY | CS_VSCROLL | CS_BORDER | CS_TABSTOP;
constexpr std::uint32_t kRateButtonStyle = CS_TABSTOP;
constexpr std::array<ControlTemplate, 12> ChoiceControls(std::string_view notInterestedText) {
    return {{
        {IDC_CHOICE_LIST, ControlKind::ReportList, "", 7, 20, 456, 150, kChoiceListStyle},
        {IDC_RATE_1, ControlKind::PushButton, "1", 15, 207, 26, 14, kRateButtonStyle | CS_GROUP},
        {IDC_RATE_2, ControlKind::PushButton, "2", 45, 207, 26, 14, kRateButtonStyle},
        {IDC_RATE_3, ControlKind::PushButton, "3", 75, 207, 26, 14, kRateButtonStyle},
        {IDC_RATE_4, ControlKind::PushButton, "4", 105, 207, 26, 14, kRateButtonStyle},
        {IDC_RATE_5, ControlKind::PushButton, "5", 135, 207, 26, 14, kRateButtonStyle},
        {IDC_NOT_INTERESTED, ControlKind::PushButton, notInterestedText, 175, 207, 96, 14, CS_TABSTOP},
        {IDOK, ControlKind::PushButton, "Go to movie", 349, 207, 55, 14, CS_DEFPUSHBUTTON | CS_TABSTOP},
        {IDCANCEL, ControlKind::PushButton, "Close", 408, 207, 55, 14, CS_TABSTOP},
        {IDC_CHOICE_NOTE, ControlKind::StaticText, "", 7, 7, 456, 10, CS_NOPREFIX | CS_GROUP},
        {IDC_CHOICE_STATUS, ControlKind::StaticText, "", 7, 174, 456, 17, CS_NOPREFIX | CS_WORDWRAP | CS_GROUP},
        {IDC_STATIC, ControlKind::GroupBox, "Rate the selected movie (keys 1 to 5)", 7, 195, 160, 31, CS_NONE},
    }};
}
constexpr auto kPicksControls = ChoiceControls("Not interested (Del)");
constexpr auto kRatingsControls = ChoiceControls("Show in picks again (Del)");
constexpr std::array kChoiceAccelerators{
    AcceleratorTemplate{"1", IDC_RATE_1}, AcceleratorTemplate{"2", IDC_RATE_2},
    AcceleratorTemplate{"3", IDC_RATE_3}, AcceleratorTemplate{"4", IDC_RATE_4},
    AcceleratorTemplate{"5", IDC_RATE_5}, AcceleratorTemplate{"Delete", IDC_NOT_INTERESTED},
};

constexpr std::uint32_t kModalStyle = DS_CAPTION | DS_SYSMENU | DS_MODALFRAME | DS_3DLOOK;

constexpr std::array kTemplates{
    DialogTemplate{IDD_ABOUTBOX, "About Quillory", 235, 55, "MS Sans Serif", 8, kModalStyle, kAboutControls},
    DialogTemplate{IDD_TOLLIVEX_DIALOG, "Quillory", 412, 268, "MS Sans Serif", 8,
                   kModalStyle | DS_VISIBLE | DS_APPWINDOW, kMainControls},
    DialogTemplate{IDD_WAIT_DIALOG, "Please Wait - Initializing components...", 255, 63, "MS Sans Serif", 8,
                   DS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_3DLOOK, kWaitControls},
    DialogTemplate{IDD_LOGIN_DIALOG, "Login Please...", 220, 88, "MS Sans Serif", 8, kModalStyle, kLoginControls},
    DialogTemplate{IDD_MOVIE_DIALOG, "Movie Details", 201, 94, "MS Sans Serif", 8, kModalStyle, kMovieControls},
    DialogTemplate{IDD_PICKS_DIALOG, "Top picks", 470, 233, "MS Sans Serif", 8, kModalStyle, kPicksControls,
                   kChoiceAccelerators},
    DialogTemplate{IDD_RATINGS_DIALOG, "Your ratings", 470, 233, "MS Sans Serif", 8, kModalStyle, kRatingsControls,
                   kChoiceAccelerators},
};

} // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate& t : kTemplates) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

std::optional<std::string_view> FindStringResource(unsigned id) {
    if (id == IDS_ABOUTBOX) {
        return std::string_view("&About Tollivex...");
    }
    return std::nullopt;
}
