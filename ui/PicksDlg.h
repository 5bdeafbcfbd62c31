#pragma once

#include "MovieChoiceDlg.h"

// Top picks and More like this on template IDD_PICKS_DIALOG: up to 20 movies, a line about them, and the choice of
// one to go to in the main window's list.
class CPicksDlg : public CMovieChoiceDlg {
public:
    explicit CPicksDlg(CWnd* parent = nullptr);
};
