// File, Open and File, Save of large friends lists, every figure taken in a fresh process of its
// own so that its memory and its page faults are its own:
// - Open, from reading the files to the first painted frame, with its progress window: round by
//   round, and within a round list size by list size, in turn with its floor (a process that
//   only reads the friends file and decodes it, as any program showing it must) and, for the
//   smaller lists, the per-line document (setPlainText()); each ratio is taken against the floor
//   of the same round and size, and the sizes are printed side by side. Memory: resident after
//   Open, and the peak during it beside that plus the file's size.
// - Five Opens of the same list in one process: resident memory after each.
// - Save: the peak during it beside the resident memory before it.
// Usage: bench_listfiles [records...]   (default 10000 100000 1000000)

#include "benchsupport.h"
#include "listcodec.h"
#include "listfiles.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <cstdio>
#include <ctime>

namespace {

using namespace Qt::Literals::StringLiterals;

double msSince(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// Processor time of this process, which a busy machine inflates less than wall time.
double cpuMs()
{
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
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

struct Window
{
    MainWindow window{std::make_unique<SilentMessages>()};
    QPlainTextEdit *friends = nullptr;
    PaintCounter counter;

    Window()
    {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qFatal("window not exposed");
        friends = window.findChild<QPlainTextEdit *>(u"txtfriends"_s);
        friends->viewport()->installEventFilter(&counter);
        QCoreApplication::processEvents();
    }

    void trigger(const QString &action)
    {
        window.findChild<QAction *>(action)->trigger();
        waitForPaint(counter);
    }

    // Keystrokes in the middle of the list, each with the repaint that follows.
    double keystrokeMs()
    {
        QTextCursor middle(friends->document()->findBlockByNumber(friends->blockCount() / 2));
        friends->setTextCursor(middle);
        friends->setFocus();
        QCoreApplication::processEvents();
        return medianMs(21, [&] {
            QTest::keyClick(friends, Qt::Key_X);
            waitForPaint(counter);
        });
    }
};

// The floor: the files read and decoded, nothing else.
int floorChild()
{
    const double cpu = cpuMs();
    QElapsedTimer timer;
    timer.start();
    qsizetype chars = 0;
    for (const auto list : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        QFile file(ListFiles::path(list));
        if (!file.open(QIODevice::ReadOnly))
            qFatal("cannot read the list");
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString text = decoder.decode(file.readAll());
        chars += text.size();
    }
    std::printf("%.3f %.3f %lld\n", msSince(timer), cpuMs() - cpu, qlonglong(chars));
    return 0;
}

// One Open: its time, its processor time, memory before, after and at its peak, a keystroke.
int openChild(bool perLine)
{
    Window w;
    const double before = residentMb();
    resetPeakMb();
    const double cpu = cpuMs();
    QElapsedTimer timer;
    timer.start();
    if (perLine) {
        w.window.findChild<QPlainTextEdit *>(u"txtserver"_s)
                ->setPlainText(ListFiles::open(ListFiles::List::Servers).text.toString());
        w.friends->setPlainText(ListFiles::open(ListFiles::List::Friends).text.toString());
        waitForPaint(w.counter);
    } else {
        w.trigger(u"mnuopen"_s);
    }
    const double openMs = msSince(timer);
    const double openCpu = cpuMs() - cpu;
    const double peak = peakMb();
    const double after = residentMb();
    std::printf("%.3f %.3f %.1f %.1f %.1f %.4f\n", openMs, openCpu, before, after, peak,
                w.keystrokeMs());
    return 0;
}

// Five Opens of the same list: resident memory after each, and the peak during each.
int reopenChild()
{
    Window w;
    for (int i = 0; i < 5; ++i) {
        resetPeakMb();
        w.trigger(u"mnuopen"_s);
        std::printf("%.1f %.1f ", residentMb(), peakMb());
    }
    std::printf("\n");
    return 0;
}

// Save of an opened list, a keystroke changed: resident before it and the peak during it.
int saveChild()
{
    Window w;
    w.trigger(u"mnuopen"_s);
    QTest::keyClick(w.friends, Qt::Key_X);
    QCoreApplication::processEvents();
    const double before = residentMb();
    resetPeakMb();
    QElapsedTimer timer;
    timer.start();
    w.window.findChild<QAction *>(u"mnusave"_s)->trigger();
    const double saveMs = msSince(timer);
    std::printf("%.1f %.1f %.3f\n", before, peakMb(), saveMs);
    return 0;
}

QList<double> runChild(const QStringList &args)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), args);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit
        || child.exitCode() != 0)
        qFatal("the %s run failed", qPrintable(args.join(u' ')));
    QList<double> figures;
    for (const QByteArray &figure : child.readAllStandardOutput().simplified().split(' '))
        figures << figure.toDouble();
    return figures;
}

struct Series
{
    std::vector<double> values;
    void add(double value) { values.push_back(value); }
    double min() const { return *std::min_element(values.begin(), values.end()); }
    double max() const { return *std::max_element(values.begin(), values.end()); }
    double median() const
    {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    QByteArray text(const char *format = "%7.1f") const
    {
        return (QString::asprintf(format, min()) + u" / "_s + QString::asprintf(format, median()))
                .toUtf8();
    }
};

qint64 writeList(int records)
{
    // Written a slice at a time: a million records are half a gigabyte as one string.
    QDir().mkpath(ListFiles::folder());
    QFile file(ListFiles::path(ListFiles::List::Friends));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write the friends list");
    constexpr int Slice = 10'000;
    for (int done = 0; done < records; done += Slice)
        file.write(ListFiles::encode(friendsList(std::min(Slice, records - done))));
    file.write("\r\n");
    file.close();
    QFile servers(ListFiles::path(ListFiles::List::Servers));
    if (!servers.open(QIODevice::WriteOnly) || servers.write("\r\n") != 2)
        qFatal("cannot write the server list");
    return file.size();
}

// The lists of one size, in a data folder of their own, and what was measured of them.
struct ListSize
{
    int records = 0;
    QByteArray folder;
    double fileMb = 0;
    Series floor, floorCpu, open, openCpu, ratio, cpuRatio, before, after, peak, key;
    Series perLine, perLineRatio, perLineAfter, perLineKey;

    bool withPerLine() const { return records <= 100'000; }
    void use() const { qputenv("XDG_DATA_HOME", folder); }
};

void measureOpen(std::vector<ListSize> &sizes, int rounds)
{
    const QByteArray loadBefore = loadAverage();
    for (int round = 0; round < rounds; ++round) {
        for (ListSize &size : sizes) {
            size.use();
            const QList<double> f = runChild({u"--floor"_s});
            const QList<double> o = runChild({u"--open"_s, u"window"_s});
            size.floor.add(f[0]);
            size.floorCpu.add(f[1]);
            size.open.add(o[0]);
            size.openCpu.add(o[1]);
            size.ratio.add(o[0] / f[0]);
            size.cpuRatio.add(o[1] / f[1]);
            size.before.add(o[2]);
            size.after.add(o[3]);
            size.peak.add(o[4] - (o[3] + size.fileMb));
            size.key.add(o[5]);
            if (size.withPerLine()) {
                const QList<double> p = runChild({u"--open"_s, u"per-line"_s});
                size.perLine.add(p[0]);
                size.perLineRatio.add(p[0] / f[0]);
                size.perLineAfter.add(p[3]);
                size.perLineKey.add(p[5]);
            }
        }
    }
    std::printf("min / median of %d rounds (load %s, then %s):\n", rounds, loadBefore.constData(),
                loadAverage().constData());
    constexpr int Column = 30;
    const auto row = [&sizes](const char *label, const auto &cell) {
        std::printf("  %-34s", label);
        for (const ListSize &size : sizes)
            std::printf("%*s", Column, cell(size).constData());
        std::printf("\n");
    };
    row("", [](const ListSize &size) {
        return QByteArray::number(size.records) + " records, "
                + QByteArray::number(size.fileMb, 'f', 1) + " MB";
    });
    row("floor, read + decode, ms", [](const ListSize &size) { return size.floor.text(); });
    row("  processor, ms", [](const ListSize &size) { return size.floorCpu.text(); });
    row("the window's Open, ms", [](const ListSize &size) { return size.open.text(); });
    row("  processor, ms", [](const ListSize &size) { return size.openCpu.text(); });
    row("  x floor of its round", [](const ListSize &size) { return size.ratio.text("%.2f"); });
    row("  processor x floor of its round",
        [](const ListSize &size) { return size.cpuRatio.text("%.2f"); });
    row("  resident after (before), MB", [](const ListSize &size) {
        return size.after.text("%.0f") + " (" + size.before.text("%.0f") + ")";
    });
    row("  peak - (after + file), worst, MB",
        [](const ListSize &size) { return QByteArray::number(size.peak.max(), 'f', 1); });
    row("  keystroke in the middle, ms",
        [](const ListSize &size) { return size.key.text("%.3f"); });
    row("per-line document, ms", [](const ListSize &size) {
        return size.withPerLine() ? size.perLine.text() : QByteArray("-");
    });
    row("  x floor of its round", [](const ListSize &size) {
        return size.withPerLine() ? size.perLineRatio.text("%.1f") : QByteArray("-");
    });
    row("  resident after, MB", [](const ListSize &size) {
        return size.withPerLine() ? size.perLineAfter.text("%.0f") : QByteArray("-");
    });
    row("  keystroke in the middle, ms", [](const ListSize &size) {
        return size.withPerLine() ? size.perLineKey.text("%.3f") : QByteArray("-");
    });
    std::fflush(stdout);
}

void measureMemory(const ListSize &size)
{
    size.use();
    const QList<double> r = runChild({u"--reopen"_s});
    std::printf("%9d records (%.1f MB file): five Opens in one process, resident after each:",
                size.records, size.fileMb);
    for (int i = 0; i < 5; ++i)
        std::printf(" %.1f", r[2 * i]);
    std::printf(" MB (fifth / first %.3f);\n%14s peak during each minus (resident after + file):",
                r[8] / r[0], "");
    for (int i = 0; i < 5; ++i)
        std::printf(" %+.1f", r[2 * i + 1] - (r[2 * i] + size.fileMb));
    const QList<double> s = runChild({u"--save"_s});
    std::printf(
            " MB\n%14s Save: resident before %.1f MB, peak during %.1f MB (%+.1f MB), %.0f ms\n",
            "", s[0], s[1], s[1] - s[0], s[2]);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 2 && args[1] == u"--floor")
        return floorChild();
    if (args.size() == 3 && args[1] == u"--open")
        return openChild(args[2] == u"per-line");
    if (args.size() == 2 && args[1] == u"--reopen")
        return reopenChild();
    if (args.size() == 2 && args[1] == u"--save")
        return saveChild();

    QList<int> records;
    for (qsizetype i = 1; i < args.size(); ++i)
        records << args[i].toInt();
    if (records.isEmpty())
        records = {10'000, 100'000, 1'000'000};
    QTemporaryDir home;
    std::vector<ListSize> sizes(size_t(records.size()));
    for (qsizetype i = 0; i < records.size(); ++i) {
        ListSize &size = sizes[size_t(i)];
        size.records = records[i];
        size.folder = home.filePath(QString::number(i)).toLocal8Bit();
        size.use();
        size.fileMb = double(writeList(size.records)) / (1024 * 1024);
    }
    std::printf("File, Open: fresh processes in turn, round by round and size by size: the floor "
                "(read and\ndecode the files), the window's Open (to the first painted frame) and, "
                "up to 100,000\nrecords, the per-line document.\n");
    measureOpen(sizes, 5);
    std::printf("Memory:\n");
    for (const ListSize &size : sizes) {
        if (size.records >= 100'000)
            measureMemory(size);
    }
    return 0;
}
