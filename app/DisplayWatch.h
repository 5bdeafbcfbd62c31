#pragma once

#include <string>
#include <vector>

#include <QString>
#include <QtGlobal>

class QMessageLogContext;

// Watches Qt's messages while QApplication's constructor opens the display. When no display can be opened, Qt
// prints several lines of platform-plugin advice and ends the process from qFatal with abort (status 134); under
// the watch that becomes one line on standard error, saying which display could not be opened, and exit status 1.
// The messages of a start that succeeds are passed on, as they were, when the watch ends.
class CDisplayWatch {
public:
    // `failureLine`: the one line (with its newline) printed when the display cannot be opened.
    explicit CDisplayWatch(std::string failureLine);
    ~CDisplayWatch();
    CDisplayWatch(const CDisplayWatch&) = delete;
    CDisplayWatch& operator=(const CDisplayWatch&) = delete;

    // The failure line for the display that Qt will try: the one named by the -display or -platform option, else by
    // QT_QPA_PLATFORM, WAYLAND_DISPLAY and DISPLAY (the values given; empty when not set).
    static std::string FailureLine(const std::string& displayOption, const std::string& platformOption,
                                   const std::string& platformVariable, const std::string& waylandDisplay,
                                   const std::string& display);

private:
    struct HeldMessage {
        QtMsgType type;
        int line;
        std::string file;
        std::string function;
        std::string category;
        QString text;
    };

    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& message);

    std::string m_failureLine;
    QtMessageHandler m_previous;
    std::vector<HeldMessage> m_held;
};
