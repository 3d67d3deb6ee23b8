#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QMainWindow win;
    win.setWindowTitle(QStringLiteral("Quillmere"));
    win.setCentralWidget(new QLabel(QStringLiteral("Quillmere")));
    win.resize(900, 600);
    win.show();
    return app.exec();
}
