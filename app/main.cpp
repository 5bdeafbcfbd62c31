#include <QApplication>

#include "QtWindowSystem.h"
#include "WinApp.h"
#include "WindowSystem.h"

int main(int argc, char* argv[]) {
    // The window class (WM_CLASS) and the Wayland app id come from these, whatever name the program was started
    // by: the menu entry's StartupWMClass and file name must match them for desktops to group the windows under it.
    QApplication::setApplicationName(QStringLiteral("quillory"));
    QApplication::setDesktopFileName(QStringLiteral(QUILLORY_APP_ID));
    QApplication application(argc, argv);
    CQtWindowSystem windowSystem;
    AfxSetWindowSystem(&windowSystem);
    const int status = AfxWinMain();
    AfxSetWindowSystem(nullptr);
    return status;
}
