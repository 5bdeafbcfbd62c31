#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ScriptedEngine.h"
#include "ScriptedWindowSystem.h"
#include "TollivexDlg.h"
#include "resource.h"

// The main window over the scripted toolkit and a scripted engine that share one log, so engine calls, wait-cursor
// spans, message boxes and modal runs can be compared in the order they happened.
class MainWindowHarness {
public:
    MainWindowHarness() {
        windows.SetEventLog(&log);
        AfxSetWindowSystem(&windows);
        auto scripted = std::make_unique<CScriptedEngine>(&log);
        engine = scripted.get();
        dlg = std::make_unique<CTollivexDlg>(CMovieTable(std::move(scripted)));
    }
    ~MainWindowHarness() {
        dlg.reset();
        AfxSetWindowSystem(nullptr);
    }
    MainWindowHarness(const MainWindowHarness&) = delete;
    MainWindowHarness& operator=(const MainWindowHarness&) = delete;

    // Catalogue numbers 1.. get these titles; ids are 100 + catalogue number unless given.
    void SetTitles(const std::vector<std::string>& titles) {
        engine->movies.clear();
        for (std::size_t i = 0; i < titles.size(); ++i) {
            MovieItem item;
            item.title = titles[i];
            item.id = 101 + static_cast<int>(i);
            item.name = "Name of " + titles[i];
            item.releaseDate = "01-Jan-199" + std::to_string(i % 10);
            engine->movies.push_back(item);
        }
    }

    // Runs start-up with `login` answering the start-up login dialog, then `body` in the running main window, which
    // is closed with "Close Program" afterwards unless the body ended it. Returns the main window's result.
    INT_PTR Run(const CScriptedWindowSystem::ModalStep& login, const std::function<void(CScriptedWindow&)>& body) {
        // Modal runs take their steps in the order they start: the main window's run starts first and its
        // initialisation runs the login dialog.
        windows.ExpectModal(IDD_TOLLIVEX_DIALOG, [body](CScriptedWindow& main) {
            body(main);
            if (!main.IsEnded()) {
                main.Click(IDOK);
            }
        });
        windows.ExpectModal(IDD_LOGIN_DIALOG, login);
        return dlg->DoModal();
    }

    // The log entries written since `mark` (a size of the log taken earlier).
    std::vector<std::string> Since(std::size_t mark) const {
        return std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(mark), log.end());
    }

    // The engine calls made since `mark` (a count of engine calls taken earlier).
    std::vector<std::string> CallsSince(std::size_t mark) const {
        const std::vector<std::string> calls = engine->Calls();
        return std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(mark), calls.end());
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

    std::vector<std::string> log;
    CScriptedWindowSystem windows;
    CScriptedEngine* engine = nullptr;
    std::unique_ptr<CTollivexDlg> dlg;
};

// True when `expected` occurs in `log` in this order (other entries may come between).
inline ::testing::AssertionResult InOrder(const std::vector<std::string>& log,
                                          const std::vector<std::string>& expected) {
    auto at = log.begin();
    for (const std::string& entry : expected) {
        at = std::find(at, log.end(), entry);
        if (at == log.end()) {
            std::string all;
            for (const std::string& e : log) {
                all += "\n  " + e;
            }
            return ::testing::AssertionFailure() << "missing or out of order: " << entry << "; log:" << all;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

inline bool Contains(const std::vector<std::string>& log, const std::string& entry) {
    return std::find(log.begin(), log.end(), entry) != log.end();
}
