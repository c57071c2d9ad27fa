#include "mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <optional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// Answers --help and --version and refuses what it does not know before anything opens a
// display, so both work on a console alone. Returns the exit status if the program stops here.
std::optional<int> handleCommandLine(int argc, char *argv[])
{
    // A core application, which needs no display, only to read the arguments; on a copy, as it
    // may take some out.
    std::vector<char *> arguments(argv, argv + argc + 1);
    int count = argc;
    const QCoreApplication core(count, arguments.data());

    QCommandLineParser parser;
    parser.setApplicationDescription(
            u"Keeps a list of friends and a list of game servers.\n"
            "Qt's own options, such as -platform and -style, work as in any Qt program."_s);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Qt's options are spelt with one dash, and QApplication takes them out once it starts.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QString &name :
         {u"platform"_s, u"platformpluginpath"_s, u"platformtheme"_s, u"plugin"_s,
          u"qwindowgeometry"_s, u"geometry"_s, u"qwindowtitle"_s, u"title"_s, u"qwindowicon"_s,
          u"icon"_s, u"session"_s, u"style"_s, u"stylesheet"_s, u"display"_s, u"name"_s,
          u"visual"_s, u"qmljsdebugger"_s}) {
        QCommandLineOption option(name, QString(), u"value"_s);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const QString &name :
         {u"reverse"_s, u"widgetcount"_s, u"testability"_s, u"nograb"_s, u"dograb"_s}) {
        QCommandLineOption option(name);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString program = QCoreApplication::applicationName();
    if (!parser.parse(QCoreApplication::arguments())) {
        err << program << u": "_s << parser.errorText() << u'\n';
    } else if (!parser.positionalArguments().isEmpty()) {
        err << program << u": unexpected argument '"_s << parser.positionalArguments().constFirst()
            << u"'\n"_s;
    } else if (parser.isSet(help) || parser.isSet(u"help-all"_s)) {
        out << parser.helpText();
        return 0;
    } else if (parser.isSet(version)) {
        out << program << u' ' << QCoreApplication::applicationVersion() << u'\n';
        return 0;
    } else {
        return std::nullopt;
    }
    err << u"Try '"_s << program << u" --help'.\n"_s;
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(u"vonnerby"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(VONNERBY_VERSION));
    if (const std::optional<int> status = handleCommandLine(argc, argv))
        return *status;

    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral(VONNERBY_APP_ID));

    MainWindow window;
    window.show();
    window.keepUnsavedWork();
    return app.exec();
}
