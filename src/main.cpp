#include "mainwindow/MainController.h"
#include "mainwindow/QuitSignals.h"

#include <QApplication>
#include <QSettings>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    // No display name: the platform would append it to every window title,
    // and each window names itself.
    QApplication::setDesktopFileName(QStringLiteral(QM_APP_ID));

    QSettings settings;
    qm::MainController win(&settings);
    const qm::QuitSignals quitSignals(&win);
    win.show();
    return app.exec();
}
