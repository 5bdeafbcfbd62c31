#pragma once

#include "MovieChoiceDlg.h"

// Your ratings on template IDD_RATINGS_DIALOG: the user's rated movies with their stars, newest first, under their
// count and average, and the choice of one to go to in the main window's list.
class CRatingsDlg : public CMovieChoiceDlg {
public:
    explicit CRatingsDlg(CWnd* parent = nullptr);
};
