// How long one "Add friend" takes on a huge list beside an empty one; what a keystroke in a huge
// list costs with unsaved work kept aside and without, and the longest the window's thread is
// away from its events meanwhile; and how long the window takes from main() to its first frame
// beside a plain window of the same widgets.

#include "benchsupport.h"
#include "copies.h"
#include "form.h"
#include "listfiles.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
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
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>

namespace {

QElapsedTimer sinceMain;

// One window with a friends list of a given size, adding friends to it.
class AddCase
{
public:
    AddCase(int records, bool viewAtEnd)
        : m_messages(new SilentMessages)
        , m_window(std::unique_ptr<Messages>(m_messages))
        , m_viewAtEnd(viewAtEnd)
    {
        m_messages->announcer = new Announcer(&m_window);
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
    SilentMessages *m_messages; // owned by the window
    MainWindow m_window;
    bool m_viewAtEnd;
    QScrollBar *m_bar = nullptr;
    QPushButton *m_add = nullptr;
    PaintCounter m_counter;
    std::vector<double> m_times;
};

// A window with a friends list of 100,000 records opened with File, Open, typing at its end.
class TypingCase
{
public:
    explicit TypingCase(bool keeping)
        : m_window(std::make_unique<SilentMessages>())
    {
        m_window.show();
        if (!QTest::qWaitForWindowExposed(&m_window))
            qFatal("window not exposed");
        if (keeping)
            m_window.keepUnsavedWork();
        m_window.findChild<QAction *>(QStringLiteral("mnuopen"))->trigger();
        m_box = m_window.findChild<QPlainTextEdit *>(QStringLiteral("txtfriends"));
        m_box->setFocus();
        m_box->moveCursor(QTextCursor::End);
        QCoreApplication::processEvents();
    }

    // One keystroke with the repaint that follows.
    void key()
    {
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(m_box, Qt::Key_A);
        QCoreApplication::processEvents();
        m_times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }

    // The longest the thread leaves a 1 ms heartbeat waiting, while a key comes every 10 ms for
    // \a ms, as a fast typist's would: how long the window can stall. First on the clock, which
    // counts the time other programs take the processor too, then in the thread's own processor
    // time, which does not.
    std::pair<double, double> longestStall(int ms, bool typing = true,
                                           const std::function<void()> &at100ms = {})
    {
        QElapsedTimer since;
        double cpuSince = -1;
        std::pair<double, double> longest;
        QTimer heartbeat;
        heartbeat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat, &QTimer::timeout, m_box, [&] {
            const double cpu = threadCpuMs();
            if (since.isValid()) {
                longest.first = std::max(longest.first, double(since.nsecsElapsed()) / 1e6 - 1);
                longest.second = std::max(longest.second, cpu - cpuSince);
            }
            since.start();
            cpuSince = cpu;
        });
        heartbeat.start(1);
        QTimer typist;
        QObject::connect(&typist, &QTimer::timeout, m_box,
                         [this] { QTest::keyClick(m_box, Qt::Key_A); });
        if (typing)
            typist.start(10);
        if (at100ms)
            QTimer::singleShot(100, m_box, at100ms);
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        return longest;
    }

    static double threadCpuMs()
    {
        timespec now = {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }

    // Pastes \a text at the end, as a user does, untimed.
    void paste(const QString &text) { m_box->insertPlainText(text); }
    // What the keeper reads of a large edit now: its own characters, a slice a turn of the event
    // loop, as a cursor's selection. The longest slice and all of them, in milliseconds.
    std::pair<double, double> readEndMs(qsizetype count) const
    {
        constexpr qsizetype Slice = 256 * 1024;
        std::pair<double, double> times;
        QTextCursor cursor(m_box->document());
        cursor.movePosition(QTextCursor::End);
        const qsizetype end = cursor.position();
        for (qsizetype done = 0; done < count; done += Slice) {
            QElapsedTimer timer;
            timer.start();
            cursor.setPosition(int(end - count + done));
            cursor.setPosition(int(end - count + std::min(count, done + Slice)),
                               QTextCursor::KeepAnchor);
            if (cursor.selectedText().isEmpty())
                qFatal("nothing read");
            const double ms = double(timer.nsecsElapsed()) / 1e6;
            times = {std::max(times.first, ms), times.second + ms};
        }
        return times;
    }
    // What a flush read after a large edit before: the whole list.
    double readWholeMs() const
    {
        QElapsedTimer timer;
        timer.start();
        const QString all = m_box->document()->toRawText();
        return all.isEmpty() ? 0 : double(timer.nsecsElapsed()) / 1e6;
    }

    double median() const { return sorted()[m_times.size() / 2]; }
    double minimum() const { return sorted().front(); }

private:
    std::vector<double> sorted() const
    {
        std::vector<double> times = m_times;
        std::sort(times.begin(), times.end());
        return times;
    }

    MainWindow m_window;
    QPlainTextEdit *m_box = nullptr;
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

// Each start-up in a fresh process, the kinds taking turns, so that none pays another's
// first-time costs nor meets a different load.
std::vector<std::vector<double>> startups(int runs, const QStringList &kinds,
                                          std::vector<double> &keepingCalls)
{
    std::vector<std::vector<double>> times(size_t(kinds.size()));
    for (int i = 0; i < runs * int(kinds.size()); ++i) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--startup"), kinds[i % kinds.size()]});
        if (!child.waitForFinished(30000) || child.exitCode() != 0)
            qFatal("a start-up run failed");
        times[size_t(i % kinds.size())].push_back(
                child.readAllStandardOutput().trimmed().toDouble());
        const QList<QByteArray> said = child.readAllStandardError().trimmed().split('\n');
        if (kinds[i % kinds.size()] == QStringLiteral("keeping"))
            keepingCalls.push_back(said.last().toDouble());
    }
    for (auto &kind : times)
        std::sort(kind.begin(), kind.end());
    std::sort(keepingCalls.begin(), keepingCalls.end());
    return times;
}

} // namespace

int main(int argc, char *argv[])
{
    sinceMain.start();
    // The lists and the work kept aside go to a folder of the benchmark's own; start-ups find it
    // empty.
    const QTemporaryDir home;
    if (qEnvironmentVariableIsEmpty("VONNERBY_BENCH_HOME")) {
        qputenv("VONNERBY_BENCH_HOME", home.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toLocal8Bit());
        qputenv("XDG_STATE_HOME", (home.path() + QStringLiteral("/state")).toLocal8Bit());
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("--startup")) {
        if (args[2] != QStringLiteral("plain")) {
            MainWindow window(std::make_unique<SilentMessages>());
            showAndPaint(window);
            // As the program starts, with no work kept aside from an earlier run; the call and
            // the event it leaves behind are timed on their own too.
            if (args[2] == QStringLiteral("keeping")) {
                QElapsedTimer call;
                call.start();
                window.keepUnsavedWork();
                QCoreApplication::processEvents();
                std::fprintf(stderr, "%.3f\n", double(call.nsecsElapsed()) / 1e6);
            }
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

    {
        // Both windows open the same list file; each keeps its own copy, in a folder of ours.
        ListFiles::save(ListFiles::List::Friends, friendsList(100'000));
        ListFiles::save(ListFiles::List::Servers, QString());
        TypingCase off(false);
        TypingCase on(true);
        // The first change after File, Open copies the list file aside, on the writer's thread;
        // the copy is whole once its state file is in place.
        QElapsedTimer copying;
        copying.start();
        on.key();
        const QDir kept(QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"))
                        + QStringLiteral("/vonnerby"));
        while (!QFile::exists(
                kept.filePath(kept.entryList({QStringLiteral("copy-*")}, QDir::Dirs).value(0)
                              + QStringLiteral("/state"))))
            QTest::qWait(1);
        std::printf("The first keystroke after File, Open of 100,000 records, until the list file "
                    "is copied aside and synced: %.0f ms\n",
                    double(copying.nsecsElapsed()) / 1e6);
        for (int i = 0; i < 301; ++i) {
            off.key();
            on.key();
        }
        std::printf("A keystroke at the end of a friends list of 100,000 records opened with "
                    "File, Open,\n301 each, taking turns, with the repaint that follows, "
                    "min / median:\n");
        std::printf("  work kept aside:     %6.3f / %6.3f ms (median ratio %.2f)\n", on.minimum(),
                    on.median(), on.median() / off.median());
        std::printf("  nothing kept aside:  %6.3f / %6.3f ms\n", off.minimum(), off.median());
        std::pair<double, double> longestOn;
        std::pair<double, double> longestOff;
        for (int i = 0; i < 3; ++i) {
            const auto offNow = off.longestStall(3000);
            const auto onNow = on.longestStall(3000);
            longestOff = {std::max(longestOff.first, offNow.first),
                          std::max(longestOff.second, offNow.second)};
            longestOn = {std::max(longestOn.first, onNow.first),
                         std::max(longestOn.second, onNow.second)};
        }
        std::printf("Longest wait of a 1 ms heartbeat, a key every 10 ms, 3 x 3 s each, taking "
                    "turns,\non the clock / in the window thread's own processor time:\n");
        std::printf("  work kept aside:    %6.2f / %5.2f ms\n", longestOn.first, longestOn.second);
        std::printf("  nothing kept aside: %6.2f / %5.2f ms\n", longestOff.first,
                    longestOff.second);
    }
    {
        // Both windows went without closing: the one that kept its work left it for a start.
        QElapsedTimer reading;
        reading.start();
        std::optional<Recovery::Copy> copy = Recovery::takeStaleCopy();
        const double ms = double(reading.nsecsElapsed()) / 1e6;
        if (!copy || copy->unreadable)
            qFatal("no work was kept");
        std::printf("A start reading that work back (100,000 records and about 2,100 keystrokes): "
                    "%.0f ms\n",
                    ms);
        Recovery::discard(*copy);
    }

    {
        // A paste larger than a keystroke's edit is read once the window is back in its loop:
        // its own size, never the whole list. Beside it, the same paste in a window that keeps
        // nothing aside: what the box itself does after a paste.
        ListFiles::save(ListFiles::List::Friends, friendsList(1'000'000));
        TypingCase off(false);
        TypingCase on(true);
        on.key();
        on.longestStall(3000, false);
        const QString pasted = friendsList(8'000);
        const auto stallOff = off.longestStall(3000, false, [&] { off.paste(pasted); });
        const auto stallOn = on.longestStall(3000, false, [&] { on.paste(pasted); });
        std::printf("A paste of %.1f M characters at the end of a friends list of 1,000,000 "
                    "records, the longest\nwait of a 1 ms heartbeat in the 3 s around it, the "
                    "paste included, on the "
                    "clock / in processor time:\n",
                    double(pasted.size()) / (1 << 20));
        std::printf("  work kept aside:    %6.2f / %6.2f ms\n", stallOn.first, stallOn.second);
        std::printf("  nothing kept aside: %6.2f / %6.2f ms\n", stallOff.first, stallOff.second);
        const auto slices = on.readEndMs(pasted.size());
        std::printf("  reading the paste back, as work kept aside now does, 256 K characters a "
                    "turn of the loop:\n    the longest turn %.1f ms, all of them %.1f ms\n",
                    slices.first, slices.second);
        std::printf("  reading the whole list, as each flush after it once did:   %6.1f ms\n",
                    on.readWholeMs());
    }
    if (std::optional<Recovery::Copy> copy = Recovery::takeStaleCopy())
        Recovery::discard(*copy);

    // Start-ups find no work kept from before.
    qputenv("XDG_STATE_HOME", (home.path() + QStringLiteral("/empty")).toLocal8Bit());
    std::vector<double> keepingCalls;
    const auto times = startups(
            9, {QStringLiteral("ours"), QStringLiteral("keeping"), QStringLiteral("plain")},
            keepingCalls);
    const auto &ours = times[0];
    const auto &keeping = times[1];
    const auto &plain = times[2];
    std::printf("From main() to the first frame, 9 processes each, taking turns, min / median:\n");
    std::printf("  our window:                 %7.2f / %7.2f ms\n", ours.front(), ours[4]);
    std::printf("  our window, keeping work:   %7.2f / %7.2f ms (no work kept from before; "
                "median ratio %.2f)\n",
                keeping.front(), keeping[4], keeping[4] / ours[4]);
    std::printf("  of which keepUnsavedWork() and the event it leaves: %.3f / %.3f ms\n",
                keepingCalls.front(), keepingCalls[4]);
    std::printf("  plain window, same widgets: %7.2f / %7.2f ms (median ratio %.2f)\n",
                plain.front(), plain[4], ours[4] / plain[4]);
    std::printf("  (the plain window has no accessible names, label buddies, scaling to the font,\n"
                "  wrapping list boxes or commands wired to its buttons)\n");
    return 0;
}
