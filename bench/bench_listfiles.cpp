// File, Open of large friends lists, from reading the file to the first painted frame, each run
// in a fresh process so that its memory is its own: the window's Open beside today's per-line
// document (setPlainText() of the same text), alternating run by run, each run also timing the
// floor of reading and decoding the file. Then File, Save beside a floor that reads the box,
// encodes, writes and syncs the same bytes.

#include "benchsupport.h"
#include "form.h"
#include "listcodec.h"
#include "listfiles.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <cstdio>
#include <unistd.h>

namespace {

using namespace Qt::Literals::StringLiterals;

void writeFile(const QString &path, const QByteArray &bytes, bool durable = false)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        qFatal("cannot write %s", qPrintable(path));
    if (durable && ::fdatasync(file.handle()) != 0)
        qFatal("cannot sync %s", qPrintable(path));
}

double msSince(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// Resident memory of this process, in megabytes.
double residentMb()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

// Runs the event loop until the box has painted itself once more.
void waitForPaint(PaintCounter &counter)
{
    const int before = counter.paints;
    QElapsedTimer guard;
    guard.start();
    while (counter.paints == before) {
        QCoreApplication::processEvents();
        if (guard.elapsed() > 600'000)
            qFatal("no paint");
    }
}

// One Open in this process: prints the floor, the Open, the resident memory after it and the
// median keystroke in the middle of the list, each with its paint.
int openChild(bool perLine)
{
    MainWindow window(std::make_unique<SilentMessages>());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("window not exposed");
    auto *friends = window.findChild<QPlainTextEdit *>(u"txtfriends"_s);
    PaintCounter counter;
    friends->viewport()->installEventFilter(&counter);
    QCoreApplication::processEvents();

    const double emptyRss = residentMb();
    QElapsedTimer timer;
    timer.start();
    // The floor: both files read and decoded, as Open does before it touches the window; then
    // let go of, so that the memory figure is the window's.
    if (ListFiles::open(ListFiles::List::Servers).text.size()
                + ListFiles::open(ListFiles::List::Friends).text.size()
        == 0)
        qFatal("no list to open");
    const double floorMs = msSince(timer);

    timer.restart();
    if (perLine) {
        window.findChild<QPlainTextEdit *>(u"txtserver"_s)
                ->setPlainText(ListFiles::open(ListFiles::List::Servers).text);
        friends->setPlainText(ListFiles::open(ListFiles::List::Friends).text);
    } else {
        window.findChild<QAction *>(u"mnuopen"_s)->trigger();
    }
    waitForPaint(counter);
    const double openMs = msSince(timer);
    const double rss = residentMb();

    // Keystrokes in the middle of the list, each with the repaint that follows.
    QTextCursor middle(friends->document()->findBlockByNumber(friends->blockCount() / 2));
    friends->setTextCursor(middle);
    friends->setFocus();
    QCoreApplication::processEvents();
    const double keyMs = medianMs(21, [&] {
        QTest::keyClick(friends, Qt::Key_X);
        waitForPaint(counter);
    });
    std::printf("%.3f %.3f %.1f %.3f %.1f\n", floorMs, openMs, rss, keyMs, emptyRss);
    return 0;
}

struct Series
{
    std::vector<double> values;
    void add(double value) { values.push_back(value); }
    double min() const { return *std::min_element(values.begin(), values.end()); }
    double median() const
    {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    QByteArray text(const char *format = "%8.1f") const
    {
        return (QString::asprintf(format, min()) + u" / "_s + QString::asprintf(format, median()))
                .toUtf8();
    }
};

struct OpenSeries
{
    Series floor, open, rss, key, ratio, emptyRss;
};

void runOpen(OpenSeries &series, bool perLine)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {u"--open"_s, perLine ? u"per-line"_s : u"window"_s});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        qFatal("the Open run failed");
    const QList<QByteArray> figures = child.readAllStandardOutput().simplified().split(' ');
    if (figures.size() != 5)
        qFatal("the Open run printed no figures");
    series.floor.add(figures[0].toDouble());
    series.open.add(figures[1].toDouble());
    series.rss.add(figures[2].toDouble());
    series.key.add(figures[3].toDouble());
    series.emptyRss.add(figures[4].toDouble());
    series.ratio.add(figures[1].toDouble() / figures[0].toDouble());
}

void printOpen(const char *name, const OpenSeries &s)
{
    std::printf("  %-19s Open %s ms, x%s of its floor %s ms;\n"
                "%22s %s MB resident (%s MB before Open), keystroke %s ms\n",
                name, s.open.text().constData(), s.ratio.text("%.1f").constData(),
                s.floor.text("%.1f").constData(), "", s.rss.text("%.0f").constData(),
                s.emptyRss.text("%.0f").constData(), s.key.text("%.2f").constData());
}

void measureOpen(int records, int runs, bool withPerLine)
{
    // Written a slice at a time: a million records are half a gigabyte as one string.
    QFile file(ListFiles::path(ListFiles::List::Friends));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write the friends list");
    constexpr int Slice = 10'000;
    for (int done = 0; done < records; done += Slice)
        file.write(ListFiles::encode(friendsList(std::min(Slice, records - done))));
    file.write("\r\n");
    file.close();
    writeFile(ListFiles::path(ListFiles::List::Servers), ListFiles::fileBytes(QString()));

    OpenSeries window;
    OpenSeries perLine;
    for (int run = 0; run < runs; ++run) {
        runOpen(window, false);
        if (withPerLine)
            runOpen(perLine, true);
    }
    std::printf("%9d records, %5.1f MB, min / median of %d fresh processes:\n", records,
                double(file.size()) / 1e6, runs);
    printOpen("the window's Open:", window);
    if (withPerLine)
        printOpen("per-line document:", perLine);
    std::fflush(stdout);
}

void measureSave(int records)
{
    MainWindow window(std::make_unique<SilentMessages>());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("window not exposed");
    SilentMessages messages;
    Form form(window, messages);
    const QString list = friendsList(records);
    form.setText(u"txtfriends"_s, list);
    // Read back once, as Open does, so that every Save below reads the whole document.
    if (form.text(u"txtfriends"_s) != list)
        qFatal("the list did not survive setText");
    auto *save = window.findChild<QAction *>(u"mnusave"_s);
    const QString scratch = ListFiles::folder() + u"/floor.txt"_s;
    Series saveMs;
    Series floorMs;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer timer;
        timer.start();
        save->trigger();
        saveMs.add(msSince(timer));
        timer.restart();
        // Both lists read from their boxes, encoded, written and synced, as Save does.
        writeFile(scratch, ListFiles::fileBytes(form.text(u"txtserver"_s)), true);
        writeFile(scratch, ListFiles::fileBytes(form.text(u"txtfriends"_s)), true);
        floorMs.add(msSince(timer));
    }
    QFile saved(ListFiles::path(ListFiles::List::Friends));
    if (!saved.open(QIODevice::ReadOnly) || ListFiles::listText(saved.readAll()) != list)
        qFatal("the list did not survive Save");
    std::printf("%9d records, Save min / median of 7: %s ms, floor (read, encode, write, "
                "fdatasync) %s ms\n",
                records, saveMs.text().constData(), floorMs.text().constData());
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == u"--open")
        return openChild(args[2] == u"per-line");

    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    QDir().mkpath(ListFiles::folder());
    std::printf("File, Open, from reading the files to the first painted frame; memory after "
                "it;\na keystroke in the middle of the list with its repaint (median of 21):\n");
    measureOpen(10'000, 5, true);
    measureOpen(100'000, 5, true);
    // Today's document needs minutes and gigabytes for a million records; only ours runs.
    measureOpen(1'000'000, 3, false);
    std::printf("File, Save:\n");
    for (const int records : {10'000, 100'000})
        measureSave(records);
    return 0;
}
