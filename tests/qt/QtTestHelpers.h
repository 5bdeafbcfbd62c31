#pragma once

#include <functional>

#include <QWidget>

class CQtDialogWindow;

// Finds the visible top-level window built from this template, or nullptr.
CQtDialogWindow* FindShownWindow(int templateId);

// Runs `action` on the first visible top-level widget that `match` accepts, as soon as one shows up. The check
// repeats from the event loop, so it also works while a modal run or a message box blocks the caller; arm it
// before the call that blocks. It gives up after a bounded number of tries, which fails the test.
void WhenShown(std::function<bool(QWidget*)> match, std::function<void(QWidget*)> action, bool* done = nullptr);
