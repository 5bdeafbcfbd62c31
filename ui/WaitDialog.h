#pragma once

#include "AfxTypes.h"
#include "CString.h"
#include "Dialog.h"
#include "MessageMap.h"

// The start-up notice: a small modeless window on template 104 that shows one text while the engine loads.
class CWaitDialog : public CDialog {
public:
    // A notice with this parent and no text.
    explicit CWaitDialog(CWnd* parent = nullptr);
    // A notice with no parent that shows `text`.
    explicit CWaitDialog(const CString& text);
    ~CWaitDialog() override;

    // Creates the modeless window from `templateId` and puts the text in place before it is first shown.
    // Returns whether the window was created; without a window the text is not set.
    virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);

    const CString& GetText() const { return m_text; }

    // Shows `line` below the text (an empty line shows the text alone), then lets the window system handle its
    // pending events so that the notice repaints and can be moved during a long start.
    void ShowProgress(const CString& line);

protected:
    void DoDataExchange(CDataExchange* pDX) override;

private:
    CString m_text;

    DECLARE_MESSAGE_MAP()
};
