// How long one "Add friend" takes on a huge list beside an empty one, and how long the window
// takes from main() to its first frame beside a plain window of the same widgets.

#include "benchsupport.h"
#include "mainwindow.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>

#include <cstdio>

namespace {

QElapsedTimer sinceMain;

// Counts the paints a widget receives, to show that the timings include them.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

struct AddTiming
{
    double ms = 0;
    double paintsPerAdd = 0;
};

AddTiming addFriend(int records, bool viewAtEnd)
{
    MainWindow window(std::make_unique<SilentMessages>());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("window not exposed");
    auto *friends = window.findChild<QPlainTextEdit *>(QStringLiteral("txtfriends"));
    friends->setPlainText(friendsList(records));
    if (viewAtEnd)
        friends->verticalScrollBar()->setValue(friends->verticalScrollBar()->maximum());
    auto *add = window.findChild<QPushButton *>(QStringLiteral("cmd1"));
    QCoreApplication::processEvents();
    PaintCounter counter;
    friends->viewport()->installEventFilter(&counter);
    constexpr int Runs = 101;
    const double ms = medianMs(Runs, [&] {
        add->click();
        // The repaint that follows: Qt paints what the command made dirty.
        QCoreApplication::processEvents();
    });
    return {ms, double(counter.paints) / Runs};
}

// The first frame: shown, exposed and painted.
void showAndPaint(QWidget &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("window not exposed");
    QCoreApplication::processEvents();
}

// The same kinds and numbers of widgets as ours, placed the same way, with none of our code.
void plainWindow()
{
    QMainWindow window;
    QMenu *file = window.menuBar()->addMenu(QStringLiteral("&File"));
    for (const char *item : {"New", "Open", "Save", "Exit"})
        file->addAction(QString::fromLatin1(item));
    QMenu *options = window.menuBar()->addMenu(QStringLiteral("Options"));
    options->addAction(QStringLiteral("Create Nesacary Items"));
    options->addAction(QStringLiteral("About"));
    auto *client = new QWidget;
    client->setFixedSize(428, 613);
    window.setCentralWidget(client);
    (new QLineEdit(QStringLiteral("Text1"), client))->hide();
    auto *tabs = new QTabWidget(client);
    tabs->setGeometry(216, 368, 201, 233);
    for (const char *tab : {"Friends", "Servers"}) {
        auto *page = new QWidget;
        (new QPlainTextEdit(page))->setGeometry(8, 7, 185, 185);
        tabs->addTab(page, QString::fromLatin1(tab));
    }
    auto *server = new QGroupBox(QStringLiteral("Server"), client);
    server->setGeometry(216, 8, 201, 353);
    for (int i = 0; i < 3; ++i) {
        new QLabel(QStringLiteral("Name"), server);
        (new QLineEdit(server))->setGeometry(8, 32 + 40 * i, 185, 19);
    }
    new QLabel(QStringLiteral("Dedicated"), server);
    new QRadioButton(QStringLiteral("Yes"), server);
    new QRadioButton(QStringLiteral("No"), server);
    new QLabel(QStringLiteral("Comments"), server);
    (new QPlainTextEdit(server))->setGeometry(8, 192, 185, 97);
    new QPushButton(QStringLiteral("Add Server"), server);
    auto *player = new QGroupBox(QStringLiteral("Player"), client);
    player->setGeometry(8, 8, 193, 593);
    for (int i = 0; i < 10; ++i) {
        (new QLabel(QStringLiteral("Name"), player))->setGeometry(8, 16 + 40 * i, 177, 17);
        (new QLineEdit(player))->setGeometry(8, 32 + 40 * i, 177, 19);
    }
    for (int i = 0; i < 2; ++i) {
        new QLabel(QStringLiteral("Comments:"), player);
        (new QPlainTextEdit(player))->setGeometry(8, 432 + 64 * i, 177, 41);
    }
    (new QPushButton(QStringLiteral("Add friend"), player))->setGeometry(32, 544, 129, 33);
    window.layout()->setSizeConstraint(QLayout::SetFixedSize);
    showAndPaint(window);
}

// Each start-up in a fresh process, alternating, so neither pays the other's first-time costs.
double startupMs(const QString &which)
{
    std::vector<double> times;
    for (int i = 0; i < 9; ++i) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--startup"), which});
        child.waitForFinished(30000);
        times.push_back(child.readAllStandardOutput().trimmed().toDouble());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    sinceMain.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("--startup")) {
        if (args[2] == QStringLiteral("ours")) {
            MainWindow window(std::make_unique<SilentMessages>());
            showAndPaint(window);
        } else {
            plainWindow();
        }
        std::printf("%.3f\n", double(sinceMain.nsecsElapsed()) / 1e6);
        return 0;
    }

    // The empty list's view shows every new record, as does a huge list scrolled to its end.
    const AddTiming empty = addFriend(0, false);
    const AddTiming top = addFriend(100'000, false);
    const AddTiming end = addFriend(100'000, true);
    std::printf("Add friend, median of 101, with the repaint that follows:\n");
    std::printf("  empty list:                       %7.3f ms  (%.1f list paints per add)\n",
                empty.ms, empty.paintsPerAdd);
    std::printf("  100,000 records, view at the top: %7.3f ms  (%.1f list paints per add), "
                "ratio %.2f\n",
                top.ms, top.paintsPerAdd, top.ms / empty.ms);
    std::printf("  100,000 records, view at the end: %7.3f ms  (%.1f list paints per add), "
                "ratio %.2f\n",
                end.ms, end.paintsPerAdd, end.ms / empty.ms);

    const double ours = startupMs(QStringLiteral("ours"));
    const double plain = startupMs(QStringLiteral("plain"));
    std::printf("From main() to the first frame, median of 9 processes:\n");
    std::printf("  our window:               %8.3f ms\n", ours);
    std::printf("  plain window, same widgets: %6.3f ms  (ratio %.2f)\n", plain, ours / plain);
    return 0;
}
