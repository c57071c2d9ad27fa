#pragma once

#include "announcer.h"
#include "messages.h"
#include "progresswindow.h"
#include "records.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QString>

#include <algorithm>
#include <vector>

// Messages that nobody has to dismiss. Announcements are made for real once an announcer is
// given, and progress is shown for real, so that timings include them.
class SilentMessages final : public Messages
{
public:
    Announcer *announcer = nullptr;

    void information(const QString &, const QString &) override { }
    void error(const QString &text) override { qFatal("unexpected error: %s", qPrintable(text)); }
    Choice ask(const Question &) override { return Choice::Discard; }
    void announce(const QString &text) override
    {
        if (announcer)
            announcer->say(text);
    }
    std::unique_ptr<Progress> progress(const QString &text) override
    {
        return std::make_unique<ProgressWindow>(nullptr, text);
    }
};

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

// A friends list of \a count distinct, realistic records.
inline QString friendsList(int count)
{
    QString list;
    for (int i = 0; i < count; ++i) {
        Records::Friend entry;
        const QString n = QString::number(i);
        entry.name = QStringLiteral("Player ") + n;
        entry.aim = QStringLiteral("aim") + n;
        entry.yim = QStringLiteral("yim") + n;
        entry.msn = QStringLiteral("msn") + n + QStringLiteral("@example.com");
        entry.email = QStringLiteral("player") + n + QStringLiteral("@example.org");
        entry.clan = QStringLiteral("[CLAN]");
        entry.website = QStringLiteral("www.example.org/") + n;
        entry.xbl = QStringLiteral("Xbl") + n;
        entry.xbc = QStringLiteral("Xbc") + n;
        entry.xfire = QStringLiteral("xf") + n;
        entry.games = QStringLiteral("Halo 2\r\nQuake III");
        entry.comments = QStringLiteral("EU, evenings");
        list += Records::appendedText(Records::friendLines(entry));
    }
    return list;
}

// The median of \a runs timings of \a work, in milliseconds.
template<typename Work>
double medianMs(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A figure of this process's memory from /proc/self/status, in megabytes.
inline double statusMb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toDouble()
                    / 1024;
    }
    return 0;
}

inline double residentMb()
{
    return statusMb("VmRSS:");
}

// The most this process has held resident since the last resetPeakMb().
inline double peakMb()
{
    return statusMb("VmHWM:");
}

inline void resetPeakMb()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        qFatal("cannot reset the peak of resident memory");
}

// The load average over the last minute, as uptime prints it.
inline QByteArray loadAverage()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    return load.open(QIODevice::ReadOnly) ? load.readAll().split(' ').first() : QByteArray("?");
}
