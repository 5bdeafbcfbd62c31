#include "EngineGuard.h"

#include "AfxTypes.h"
#include "CString.h"
#include "WindowSystem.h"
#include "resource.h"

void ReportEngineFailure(const CMException& failure) {
    // Copies, so that the box shows the texts even if the exception object were to go away meanwhile.
    const CString caption = failure.GetCaption();
    const CString text = failure.GetText();
    AfxMessageBox(text, caption, MB_OK);
}

void ReportOtherFailure(CWnd& window) {
    window.SetDlgItemText(IDC_RESULTS, "Unknown internal error");
}
