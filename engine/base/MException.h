#pragma once

#include <utility>

#include "CString.h"

// Every failure of the engine leaves as a CMException: a caption and a message text.
class CMException {
public:
    CMException() = default;
    CMException(CString caption, CString text) : m_caption(std::move(caption)), m_text(std::move(text)) {}
    CMException(const CMException&) = default;
    CMException& operator=(const CMException&) = default;
    virtual ~CMException() = default;

    CString GetCaption() const { return m_caption; }
    CString GetText() const { return m_text; }

private:
    CString m_caption;
    CString m_text;
};
