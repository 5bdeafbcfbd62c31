#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "AfxTypes.h"
#include "MovieTable.h"
#include "ScriptedEngine.h"
#include "ScriptedWindowSystem.h"
#include "TollivexDlg.h"
#include "resource.h"

using Log = std::vector<std::string>;

// The main window over the scripted toolkit and a scripted engine sharing one log, so engine calls, wait-cursor
// spans, message boxes and modal runs can be compared in the order they happened.
struct MainWindowHarness {
    MainWindowHarness() {
        windows.SetEventLog(&log);
        auto scripted = std::make_unique<CScriptedEngine>(&log);
        engine = scripted.get();
        dlg = std::make_unique<CTollivexDlg>(CMovieTable(std::move(scripted)));
    }

    // Catalogue number n gets the n-th title and the id 100 + n.
    void SetTitles(const Log& titles) {
        engine->movies.clear();
        for (const std::string& title : titles) {
            engine->movies.push_back({title, 101 + static_cast<int>(engine->movies.size()), "Name of " + title, ""});
        }
    }

    // Start-up with `login` answering the login dialog, then `body` in the running main window, closed with
    // "Close Program" afterwards. Modal runs take their steps in the order they start: the main window's first.
    INT_PTR Run(const CScriptedWindowSystem::ModalStep& login, const std::function<void(CScriptedWindow&)>& body) {
        windows.ExpectModal(IDD_TOLLIVEX_DIALOG, [body](CScriptedWindow& main) {
            body(main);
            if (!main.IsEnded()) {
                main.Click(IDOK);
            }
        });
        windows.ExpectModal(IDD_LOGIN_DIALOG, login);
        return dlg->DoModal();
    }

    // The log entries and the engine calls since an earlier size of either.
    Log Since(std::size_t mark) const { return Log(log.begin() + static_cast<std::ptrdiff_t>(mark), log.end()); }
    Log CallsSince(std::size_t mark) const {
        const Log calls = engine->Calls();
        return Log(calls.begin() + static_cast<std::ptrdiff_t>(mark), calls.end());
    }

    static CScriptedWindowSystem::ModalStep Cancel() {
        return [](CScriptedWindow& login) { login.PressEscape(); };
    }
    static CScriptedWindowSystem::ModalStep Login(const std::string& name, const std::string& password,
                                                  bool newUser = false) {
        return [=](CScriptedWindow& login) {
            login.Type(IDC_LOGIN_USER_NAME, name);
            login.Type(IDC_LOGIN_PASSWORD, password);
            login.Click(newUser ? IDC_LOGIN_NEW_USER : IDOK);
        };
    }

    Log log;
    CScriptedWindowSystem windows;
    CScriptedEngine* engine = nullptr;
    std::unique_ptr<CTollivexDlg> dlg;
};

// True when `expected` occurs in `log` in this order, other entries allowed between.
inline ::testing::AssertionResult InOrder(const Log& log, const Log& expected) {
    auto at = log.begin();
    for (const std::string& entry : expected) {
        at = std::find(at, log.end(), entry);
        if (at == log.end()) {
            return ::testing::AssertionFailure() << "missing or out of order: " << entry;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

inline bool Contains(const Log& log, const std::string& entry) {
    return std::find(log.begin(), log.end(), entry) != log.end();
}
