#include "DisplayWatch.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

// The watch in force; Qt's message handler is a plain function, so it finds the watch here.
CDisplayWatch* g_watch = nullptr;

const char* OrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

} // namespace

CDisplayWatch::CDisplayWatch(std::string failureLine)
    : m_failureLine(std::move(failureLine)), m_previous(qInstallMessageHandler(&CDisplayWatch::Handle)) {
    g_watch = this;
}

CDisplayWatch::~CDisplayWatch() {
    qInstallMessageHandler(m_previous);
    g_watch = nullptr;
    for (const HeldMessage& held : m_held) {
        const QMessageLogContext context(OrNull(held.file), held.line, OrNull(held.function), OrNull(held.category));
        m_previous(held.type, context, held.text);
    }
}

std::string CDisplayWatch::FailureLine(const std::string& displayOption, const std::string& platformOption,
                                       const std::string& platformVariable, const std::string& waylandDisplay,
                                       const std::string& display) {
    std::string what;
    if (!displayOption.empty()) {
        what = "the display " + displayOption + " (-display) did not answer";
    } else if (!platformOption.empty()) {
        what = "the window platform '" + platformOption + "' (-platform) could not be started";
    } else if (!platformVariable.empty()) {
        what = "the window platform '" + platformVariable + "' (QT_QPA_PLATFORM) could not be started";
    } else if (!waylandDisplay.empty() && !display.empty()) {
        what = "neither WAYLAND_DISPLAY=" + waylandDisplay + " nor DISPLAY=" + display + " answered";
    } else if (!waylandDisplay.empty()) {
        what = "WAYLAND_DISPLAY=" + waylandDisplay + " did not answer";
    } else if (!display.empty()) {
        what = "DISPLAY=" + display + " did not answer";
    } else {
        what = "no display is set (DISPLAY and WAYLAND_DISPLAY are empty)";
    }
    return "quillory: cannot open a window: " + what + "\n";
}

void CDisplayWatch::Handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    CDisplayWatch* watch = g_watch;
    if (watch == nullptr) {
        return;
    }
    if (type == QtFatalMsg) {
        // The only fatal message of QApplication's construction is the one about the window platform. Nothing has
        // been built that needs tearing down, and running the static destructors from inside Qt's half-made
        // application is what is not safe: end at once.
        std::fputs(watch->m_failureLine.c_str(), stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    watch->m_held.push_back(HeldMessage{type, context.line, context.file != nullptr ? context.file : "",
                                        context.function != nullptr ? context.function : "",
                                        context.category != nullptr ? context.category : "", message});
}
