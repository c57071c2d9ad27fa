#include "lineeditaccessible.h"
#include "mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <optional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// The program's own options, and all their names; Qt's (-platform, -style, -reverse...) are
// QApplication's to know.
QStringList describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(u"Keeps a list of friends and a list of game servers.\n"
                                     "Qt's own options, such as -platform, -style and -reverse, "
                                     "work as in any Qt program."_s);
    // Not addHelpOption(): its --help-all lists Qt's options only once Qt's application runs,
    // which takes a display, and spells them with two dashes, which are refused before one.
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Displays this help."_s);
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    // One dash before a long name, as Qt spells its options: -foo is one unknown option.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    return help.names() + version.names();
}

// Parses \a arguments; says what is wrong with them, if anything.
std::optional<QString> problem(QCommandLineParser &parser, const QStringList &arguments)
{
    if (!parser.parse(arguments))
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return u"unexpected argument '%1'"_s.arg(parser.positionalArguments().constFirst());
    return std::nullopt;
}

int refuse(const QString &problem)
{
    const QString program = QCoreApplication::applicationName();
    QTextStream(stderr) << program << u": "_s << problem << u"\nTry '"_s << program
                        << u" --help'.\n"_s;
    return 1;
}

// Answers --help and --version, and refuses any other option spelt with two dashes, before
// anything opens a display, so that all of them work on a console alone. Qt's options take one
// dash and are left to QApplication, with anything else. Returns the exit status if the program
// stops here.
std::optional<int> handleCommandLine(int argc, char *argv[])
{
    // A core application, which needs no display, only to read the arguments; on a copy, as it
    // may take some out.
    std::vector<char *> arguments(argv, argv + argc + 1);
    int count = argc;
    const QCoreApplication core(count, arguments.data());

    QCommandLineParser parser;
    const QStringList names = describeOptions(parser);
    const QStringList all = QCoreApplication::arguments();
    QStringList ours{all.constFirst()};
    for (const QString &argument : all.sliced(1)) {
        if (argument.startsWith(u"--"_s)
            || (argument.startsWith(u'-') && names.contains(argument.sliced(1))))
            ours << argument;
    }
    if (const std::optional<QString> why = problem(parser, ours))
        return refuse(*why);
    if (parser.isSet(u"help"_s)) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    if (parser.isSet(u"version"_s)) {
        QTextStream(stdout) << QCoreApplication::applicationName() << u' '
                            << QCoreApplication::applicationVersion() << u'\n';
        return 0;
    }
    return std::nullopt;
}

// Whatever QApplication left of the arguments is no option of Qt's, nor of ours.
std::optional<int> refuseWhatQtLeft()
{
    QCommandLineParser parser;
    describeOptions(parser);
    if (const std::optional<QString> why = problem(parser, QCoreApplication::arguments()))
        return refuse(*why);
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(u"vonnerby"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(VONNERBY_VERSION));
    if (const std::optional<int> status = handleCommandLine(argc, argv))
        return *status;

    QApplication app(argc, argv);
    if (const std::optional<int> status = refuseWhatQtLeft())
        return *status;
    QApplication::setDesktopFileName(QStringLiteral(VONNERBY_APP_ID));
    // Before any window, so that screen readers never meet Qt's own interface for a field.
    LineEditAccessible::install();

    MainWindow window;
    window.show();
    window.keepUnsavedWork();
    return app.exec();
}
