#include <QApplication>

#include "QtWindowSystem.h"
#include "WinApp.h"
#include "WindowSystem.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    CQtWindowSystem windowSystem;
    AfxSetWindowSystem(&windowSystem);
    const int status = AfxWinMain();
    AfxSetWindowSystem(nullptr);
    return status;
}
