#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include <QApplication>

#include "CommandLine.h"
#include "DisplayWatch.h"
#include "QtWindowSystem.h"
#include "WinApp.h"
#include "WindowSystem.h"

namespace {

// Prints the help or the version; a failed write (a full disk, a closed pipe) is a failure, not a success.
int Print(const std::string& text) {
    std::cout << text << std::flush;
    if (!std::cout) {
        std::cerr << "quillory: cannot write to standard output\n";
        return 1;
    }
    return 0;
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

int main(int argc, char* argv[]) {
    // Help and version need no display, so they are answered before Qt is started.
    switch (CCommandLine::Read(argc, argv)) {
    case CCommandLine::Request::Help:
        return Print(CCommandLine::HelpText());
    case CCommandLine::Request::Version:
        return Print(CCommandLine::VersionText());
    case CCommandLine::Request::Run:
        break;
    }

    // The window class (WM_CLASS) and the Wayland app id come from these, whatever name the program was started
    // by: the menu entry's StartupWMClass and file name must match them for desktops to group the windows under it.
    QApplication::setApplicationName(QStringLiteral("quillory"));
    QApplication::setDesktopFileName(QStringLiteral(QUILLORY_APP_ID));
    auto watch = std::make_unique<CDisplayWatch>(CDisplayWatch::FailureLine(
        CCommandLine::QtOptionValue(argc, argv, "display"), CCommandLine::QtOptionValue(argc, argv, "platform"),
        Variable("QT_QPA_PLATFORM"), Variable("WAYLAND_DISPLAY"), Variable("DISPLAY")));
    QApplication application(argc, argv);
    watch.reset();

    // QApplication has taken its own options off the command line; anything left is nobody's.
    if (argc > 1) {
        std::cerr << CCommandLine::UnknownArgumentLine(argv[1]);
        return 2;
    }

    CQtWindowSystem windowSystem;
    AfxSetWindowSystem(&windowSystem);
    const int status = AfxWinMain();
    AfxSetWindowSystem(nullptr);
    return status;
}
