#include "RatingsDlg.h"

#include "resource.h"

CRatingsDlg::CRatingsDlg(CWnd* parent) : CMovieChoiceDlg(IDD_RATINGS_DIALOG, parent) {}
