#pragma once

#include <utility>

#include "MovieTable.h"
#include "Wnd.h"

// How a guarded operation ended.
enum class EngineGuardResult {
    Completed,     // the body ran to its end
    EngineFailure, // a CMException left the body and was shown in a message box
    OtherFailure,  // something else left the body and "Unknown internal error" went into the results pane
};

// Shows an engine failure: a message box with no owner, the exception's text under its caption, OK only.
void ReportEngineFailure(const CMException& failure);
// Reports a failure that is not an engine failure in the results pane of `window`.
void ReportOtherFailure(CWnd& window);

// The one way engine-calling operations of a window survive a failure: runs `body`, and if anything leaves it,
// reports it and returns how the body ended. The body's own objects (wait cursor, dialogs, strings) are released by
// the unwinding before the report is made, so no wait cursor is left showing under a message box.
template <typename Body> EngineGuardResult RunEngineGuarded(CWnd& window, Body&& body) {
    try {
        std::forward<Body>(body)();
        return EngineGuardResult::Completed;
    } catch (const CMException& failure) {
        ReportEngineFailure(failure);
        return EngineGuardResult::EngineFailure;
    } catch (...) {
        ReportOtherFailure(window);
        return EngineGuardResult::OtherFailure;
    }
}
