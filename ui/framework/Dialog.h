#pragma once

#include <vector>

#include "AfxTypes.h"
#include "MessageMap.h"
#include "Wnd.h"

class CDataExchange;

// A dialog built from a numbered template: modal (DoModal) or modeless (Create).
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    UINT GetTemplateId() const { return m_templateId; }

    // Runs the dialog modally and returns the result it was ended with (IDOK 1, IDCANCEL 2, ...). With no parent,
    // the application's main window (when it is another window and exists) is the owner.
    virtual INT_PTR DoModal();
    // Creates the dialog's window without a modal run; true on success.
    BOOL CreateModeless(UINT templateId, CWnd* parent);
    // Ends the modal run.
    void EndDialog(INT_PTR result);
    // Destroys a modeless dialog's window.
    void DestroyWindow();

    // Runs the data exchange; true on success.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Called by the toolkit once the window and its controls exist, before the window is shown.
    // Returns what OnInitDialog returned (TRUE: the toolkit gives focus to the first tab stop).
    BOOL HandleInitDialog();

    static const MessageMap* GetThisMessageMap();
    const MessageMap* GetMessageMap() const override;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    // The base initialisation: data exchange in the load direction.
    virtual BOOL OnInitDialog();
    // The OK action: data exchange in the save direction, then end with IDOK.
    virtual void OnOK();
    // The Cancel action: end with IDCANCEL, no data exchange.
    virtual void OnCancel();

    // IDOK goes to OnOK, IDCANCEL to OnCancel, anything else on to the application object.
    void OnCommandDefault(UINT code, int id) override;

private:
    friend void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
    // Control objects that DDX_Control bound; unbound when the dialog's window goes away, so that a later run
    // binds them to the new window's controls.
    void UnbindControls();

    UINT m_templateId;
    CWnd* m_pParentWnd;
    std::vector<CWnd*> m_boundControls;
};
