#include "mainwindow/MainController.h"

#include <QApplication>
#include <QSettings>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillmere"));
    QApplication::setDesktopFileName(QStringLiteral("quillmere"));

    QSettings settings;
    qm::MainController win(&settings);
    win.show();
    return app.exec();
}
