#include "mainwindow.h"

#include <QApplication>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"vonnerby"_s);
    QApplication::setApplicationVersion(QStringLiteral(VONNERBY_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(VONNERBY_APP_ID));

    MainWindow window;
    window.show();
    return app.exec();
}
