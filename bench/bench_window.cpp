// How long one "Add friend" takes on a huge list beside an empty one, and how long the window
// takes from main() to its first frame beside a plain window of the same widgets.

#include "benchsupport.h"
#include "form.h"
#include "mainwindow.h"

#include <QApplication>
#include <QGroupBox>
#include <QIcon>
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

// One window with a friends list of a given size, adding friends to it.
class AddCase
{
public:
    AddCase(int records, bool viewAtEnd)
        : m_window(std::make_unique<SilentMessages>())
        , m_viewAtEnd(viewAtEnd)
    {
        m_window.show();
        if (!QTest::qWaitForWindowExposed(&m_window))
            qFatal("window not exposed");
        auto *friends = m_window.findChild<QPlainTextEdit *>(QStringLiteral("txtfriends"));
        // Loaded as File, Open loads a list.
        SilentMessages messages;
        Form(m_window, messages).setText(QStringLiteral("txtfriends"), friendsList(records));
        m_bar = friends->verticalScrollBar();
        m_add = m_window.findChild<QPushButton *>(QStringLiteral("cmd1"));
        QCoreApplication::processEvents();
        friends->viewport()->installEventFilter(&m_counter);
    }

    void add()
    {
        QElapsedTimer timer;
        timer.start();
        m_add->click();
        // Kept at the end after every Add, whether or not Add itself scrolls there.
        if (m_viewAtEnd)
            m_bar->setValue(m_bar->maximum());
        // The repaint that follows: Qt paints what the command made dirty.
        QCoreApplication::processEvents();
        m_times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (m_viewAtEnd && m_bar->value() != m_bar->maximum())
            qFatal("the view left the end of the list");
    }

    QByteArray figures(double baseline = 0) const
    {
        std::vector<double> sorted = m_times;
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted[sorted.size() / 2];
        QString text =
                QString::asprintf("%6.3f / %6.3f ms (%.1f list paints per add)", sorted.front(),
                                  median, double(m_counter.paints) / double(sorted.size()));
        if (baseline > 0)
            text += QString::asprintf(", median ratio %.2f", median / baseline);
        return text.toUtf8();
    }

    double median() const
    {
        std::vector<double> sorted = m_times;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }

private:
    MainWindow m_window;
    bool m_viewAtEnd;
    QScrollBar *m_bar = nullptr;
    QPushButton *m_add = nullptr;
    PaintCounter m_counter;
    std::vector<double> m_times;
};

// The first frame: shown, exposed and painted.
void showAndPaint(QWidget &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("window not exposed");
    QCoreApplication::processEvents();
}

// The same kinds and numbers of widgets as ours, placed the same way, with the same title, icon,
// names and tab order, and none of our code. What it lacks is printed beside the figures.
void plainWindow()
{
    QMainWindow window;
    window.setObjectName(QStringLiteral("Form1"));
    window.setWindowTitle(QStringLiteral("Vonnerby"));
    window.setWindowIcon(QIcon(QStringLiteral(":/icons/vonnerby.png")));
    const auto named = [](auto *widget, const char *name) {
        widget->setObjectName(QString::fromLatin1(name));
        return widget;
    };
    QMenu *file = named(window.menuBar()->addMenu(QStringLiteral("&File")), "mnufile");
    for (const char *item : {"mnunew", "mnuopen", "mnusave", "mnuexit"})
        named(file->addAction(QString::fromLatin1(item + 3)), item);
    QMenu *options = named(window.menuBar()->addMenu(QStringLiteral("Options")), "mnuoptions");
    named(options->addAction(QStringLiteral("Create Nesacary Items")), "mnucreate");
    named(options->addAction(QStringLiteral("About")), "mnuabout");
    auto *client = new QWidget;
    client->setFixedSize(428, 613);
    window.setCentralWidget(client);
    named(new QLineEdit(QStringLiteral("Text1"), client), "txt1")->hide();
    auto *tabs = named(new QTabWidget(client), "SSTab1");
    tabs->setGeometry(216, 368, 201, 233);
    for (const char *tab : {"txtfriends", "txtserver"}) {
        auto *page = new QWidget;
        named(new QPlainTextEdit(page), tab)->setGeometry(8, 7, 185, 185);
        tabs->addTab(page, QString::fromLatin1(tab));
    }
    auto *server = named(new QGroupBox(QStringLiteral("Server"), client), "Frame2");
    server->setGeometry(216, 8, 201, 353);
    int label = 0;
    const auto newLabel = [&label](QWidget *parent) {
        auto *caption = new QLabel(QStringLiteral("Name"), parent);
        caption->setObjectName(QStringLiteral("Label%1").arg(++label));
        return caption;
    };
    label = 12;
    int row = 0;
    for (const char *field : {"txtsname", "txtip", "txtpass"}) {
        newLabel(server);
        named(new QLineEdit(server), field)->setGeometry(8, 32 + 40 * row++, 185, 19);
    }
    newLabel(server);
    named(new QRadioButton(QStringLiteral("Yes"), server), "optyes");
    named(new QRadioButton(QStringLiteral("No"), server), "optno");
    newLabel(server);
    named(new QPlainTextEdit(server), "txtnotes")->setGeometry(8, 192, 185, 97);
    named(new QPushButton(QStringLiteral("Add Server"), server), "Command1");
    auto *player = named(new QGroupBox(QStringLiteral("Player"), client), "Frame1");
    player->setGeometry(8, 8, 193, 593);
    const char *const fields[] = {"txtname", "txtaim",     "txtyim", "txtmsn", "txtemail",
                                  "txtclan", "txtwebsite", "txtxbl", "txtxbc", "txtxfire"};
    label = 0;
    for (int i = 0; i < 10; ++i) {
        newLabel(player)->setGeometry(8, 16 + 40 * i, 177, 17);
        named(new QLineEdit(player), fields[i])->setGeometry(8, 32 + 40 * i, 177, 19);
    }
    row = 0;
    for (const char *box : {"txtgames", "txtcomments"}) {
        newLabel(player);
        named(new QPlainTextEdit(player), box)->setGeometry(8, 432 + 64 * row++, 177, 41);
    }
    named(new QPushButton(QStringLiteral("Add friend"), player), "cmd1")
            ->setGeometry(32, 544, 129, 33);
    QWidget *previous = nullptr;
    for (const char *name :
         {"txtname", "txtaim",  "txtyim",   "txtmsn",   "txtemail",    "txtclan",  "txtwebsite",
          "txtxbl",  "txtxbc",  "txtxfire", "txtgames", "txtcomments", "cmd1",     "txtsname",
          "txtip",   "txtpass", "optyes",   "optno",    "txtnotes",    "Command1", "SSTab1"}) {
        auto *next = window.findChild<QWidget *>(QString::fromLatin1(name));
        if (previous)
            QWidget::setTabOrder(previous, next);
        previous = next;
    }
    window.layout()->setSizeConstraint(QLayout::SetFixedSize);
    showAndPaint(window);
}

// Each start-up in a fresh process, ours and the plain window taking turns, so that neither
// pays the other's first-time costs nor meets a different load.
void startups(int runs, std::vector<double> &ours, std::vector<double> &plain)
{
    for (int i = 0; i < 2 * runs; ++i) {
        const bool oursNow = i % 2 == 0;
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--startup"),
                     oursNow ? QStringLiteral("ours") : QStringLiteral("plain")});
        if (!child.waitForFinished(30000) || child.exitCode() != 0)
            qFatal("a start-up run failed");
        (oursNow ? ours : plain).push_back(child.readAllStandardOutput().trimmed().toDouble());
    }
    std::sort(ours.begin(), ours.end());
    std::sort(plain.begin(), plain.end());
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

    {
        // Taking turns, so that all four meet the same load. A list kept scrolled to its end
        // repaints the new record after every Add; one viewed at the top does not.
        AddCase empty(0, false);
        AddCase emptyEnd(0, true);
        AddCase top(100'000, false);
        AddCase end(100'000, true);
        for (int i = 0; i < 101; ++i) {
            empty.add();
            emptyEnd.add();
            top.add();
            end.add();
        }
        std::printf("Add friend, 101 each, taking turns, with the repaint that follows, "
                    "min / median:\n");
        std::printf("  empty list, view at the top:      %s\n", empty.figures().constData());
        std::printf("  empty list, view at the end:      %s\n", emptyEnd.figures().constData());
        std::printf("  100,000 records, view at the top: %s\n",
                    top.figures(empty.median()).constData());
        std::printf("  100,000 records, view at the end: %s\n",
                    end.figures(emptyEnd.median()).constData());
    }

    std::vector<double> ours;
    std::vector<double> plain;
    startups(9, ours, plain);
    std::printf("From main() to the first frame, 9 processes each, taking turns, min / median:\n");
    std::printf("  our window:                 %7.2f / %7.2f ms\n", ours.front(), ours[4]);
    std::printf("  plain window, same widgets: %7.2f / %7.2f ms (median ratio %.2f)\n",
                plain.front(), plain[4], ours[4] / plain[4]);
    std::printf("  (the plain window has no accessible names, label buddies, scaling to the font,\n"
                "  wrapping list boxes or commands wired to its buttons)\n");
    return 0;
}
