#include "PicksDlg.h"

#include "resource.h"

CPicksDlg::CPicksDlg(CWnd* parent) : CMovieChoiceDlg(IDD_PICKS_DIALOG, parent) {}
