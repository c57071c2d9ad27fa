// How long a list holding one huge line without spaces takes to show and to take a keystroke,
// with the text boxes' own line layout beside Qt's stock one (today's wrapping, for sizes it can
// still finish). First, a 1 MB line of NUL beside a 1 MB line of "x", fresh processes taking
// turns, each ratio taken within its round.

#include "benchsupport.h"
#include "mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>
#include <QTextDocument>

#include <array>
#include <cstdio>
#include <ctime>

namespace {

struct Figures
{
    std::vector<double> open, key, repaint, openCpu, keyCpu;
    int paints = 0;
};

double ms(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// Processor time of this process, which a busy machine inflates less than wall time.
double cpuMs()
{
    return double(std::clock()) * 1000.0 / CLOCKS_PER_SEC;
}

// Shows \a text in the friends list \a runs times, each time typing one key at its end.
Figures measure(const QString &text, bool stockLayout, int runs)
{
    MainWindow window(std::make_unique<SilentMessages>());
    auto *friends = window.findChild<QPlainTextEdit *>(QStringLiteral("txtfriends"));
    if (stockLayout) {
        auto *stock = new QTextDocument(friends);
        stock->setDocumentLayout(new QPlainTextDocumentLayout(stock));
        stock->setDefaultFont(friends->font());
        friends->setDocument(stock);
    }
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("window not exposed");
    PaintCounter counter;
    friends->viewport()->installEventFilter(&counter);
    Figures figures;
    for (int i = 0; i < runs; ++i) {
        friends->clear();
        QCoreApplication::processEvents();
        counter.paints = 0;
        QElapsedTimer timer;
        timer.start();
        double cpu = cpuMs();
        friends->setPlainText(text);
        QCoreApplication::processEvents();
        figures.open.push_back(ms(timer));
        figures.openCpu.push_back(cpuMs() - cpu);
        figures.paints = counter.paints;

        friends->setFocus();
        friends->moveCursor(QTextCursor::End);
        QCoreApplication::processEvents();
        timer.start();
        cpu = cpuMs();
        QTest::keyClick(friends, Qt::Key_A);
        QCoreApplication::processEvents();
        figures.key.push_back(ms(timer));
        figures.keyCpu.push_back(cpuMs() - cpu);

        // What every blink of the cursor costs.
        timer.start();
        friends->viewport()->repaint();
        figures.repaint.push_back(ms(timer));
    }
    return figures;
}

QString minMedianOf(std::vector<double> values, const char *format)
{
    std::sort(values.begin(), values.end());
    return QString::asprintf(format, values.front()) + QStringLiteral(" / ")
            + QString::asprintf(format, values[values.size() / 2]);
}

QString minMedian(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return QStringLiteral("min %1 ms, median %2 ms")
            .arg(times.front(), 9, 'f', 1)
            .arg(times[times.size() / 2], 9, 'f', 1);
}

void report(const char *what, const Figures &f)
{
    std::printf("  %-44s open:    %s  (%d paints)\n", what, qPrintable(minMedian(f.open)),
                f.paints);
    std::printf("  %-44s  cpu:    %s\n", "", qPrintable(minMedian(f.openCpu)));
    std::printf("  %-44s key:     %s\n", "", qPrintable(minMedian(f.key)));
    std::printf("  %-44s  cpu:    %s\n", "", qPrintable(minMedian(f.keyCpu)));
    std::printf("  %-44s repaint: %s\n", "", qPrintable(minMedian(f.repaint)));
    std::fflush(stdout);
}

// Runs of \a run characters of "x", separated by single spaces, \a size characters in all.
QString runs(qsizetype size, qsizetype run)
{
    QString text;
    text.reserve(size);
    while (text.size() < size)
        text += QString(std::min(run, size - text.size()), u'x') + u' ';
    text.truncate(size);
    return text;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One line of 1 MB in a fresh process: the median keystroke and its processor time.
int lineChild(bool nul)
{
    const Figures f = measure(QString(1 << 20, nul ? QChar(0) : QChar(u'x')), false, 5);
    std::printf("%.3f %.3f\n", median(f.key), median(f.keyCpu));
    return 0;
}

void compareNul(int rounds)
{
    std::vector<double> x, nul, ratio;
    for (int round = 0; round < rounds; ++round) {
        std::array<double, 2> key{};
        for (const bool isNul : {false, true}) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--line"),
                         isNul ? QStringLiteral("nul") : QStringLiteral("x")});
            if (!child.waitForFinished(-1) || child.exitCode() != 0)
                qFatal("the line run failed");
            key[isNul] = child.readAllStandardOutput().split(' ').first().toDouble();
        }
        x.push_back(key[0]);
        nul.push_back(key[1]);
        ratio.push_back(key[1] / key[0]);
    }
    std::printf("  1 MB line, one key typed at its end with the repaint, median of 5 per process;\n"
                "  min / median of %d rounds:  \"x\" %s ms,  NUL %s ms,  NUL / \"x\" %s\n",
                rounds, qPrintable(minMedianOf(x, "%.1f")), qPrintable(minMedianOf(nul, "%.1f")),
                qPrintable(minMedianOf(ratio, "%.2f")));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // --20mb shows the largest lines once, --1mb only the headline case.
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("--line"))
        return lineChild(args[2] == QStringLiteral("nul"));
    const bool big = args.contains(QStringLiteral("--20mb"));
    constexpr qsizetype MB = 1 << 20;
    constexpr int Runs = 5;

    std::printf("Load average %s\n", loadAverage().constData());
    compareNul(5);
    if (args.contains(QStringLiteral("--nul")))
        return 0;
    std::printf("One line in the friends list: showing it (with the first paint) and one key\n"
                "typed at its end (with the repaint); %d runs each unless said:\n",
                Runs);
    if (big) {
        report("20 MB of \"x\", once", measure(QString(20 * MB, u'x'), false, 1));
        report("20 MB of NUL, once", measure(QString(20 * MB, QChar(0)), false, 1));
        return 0;
    }
    if (args.contains(QStringLiteral("--1mb"))) {
        report("1 MB of \"x\"", measure(QString(MB, u'x'), false, Runs));
        return 0;
    }
    // Today's layout beside ours on sizes it finishes, interleaved.
    for (const qsizetype size : {qsizetype(30'000), qsizetype(100'000)}) {
        const QString x(size, u'x');
        const QByteArray kb = QByteArray::number(size / 1000) + " KB of \"x\"";
        report((kb + ", stock layout").constData(), measure(x, true, 3));
        report((kb + ", ours").constData(), measure(x, false, 3));
    }
    report("300 KB of \"x\", stock layout, once", measure(QString(300'000, u'x'), true, 1));
    report("300 KB of \"x\", ours", measure(QString(300'000, u'x'), false, Runs));
    report("1 MB of \"x\"", measure(QString(MB, u'x'), false, Runs));
    report("1 MB of NUL", measure(QString(MB, QChar(0)), false, Runs));
    // The worst for ours: runs just short of the bound, each still wrapped at word boundaries.
    report("1 MB, runs of 499 \"x\" between spaces", measure(runs(MB, 499), false, Runs));
    report("1 MB of words (\"xxxxxxx \")", measure(runs(MB, 7), false, Runs));
    return 0;
}
