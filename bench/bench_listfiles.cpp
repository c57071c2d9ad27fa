// File, Save and File, Open of large friends lists, each beside its floor measured in the same
// run: for Save, reading the box's text and writing the same bytes with a plain QFile; for Open,
// a plain QFile read and setPlainText() of the same text into the same box.

#include "benchsupport.h"
#include "listcodec.h"
#include "listfiles.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int Runs = 5;

void writePlain(const QString &path, const QByteArray &bytes, bool durable = false)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        qFatal("cannot write %s", qPrintable(path));
    if (durable)
        ::fsync(file.handle());
}

QByteArray readPlain(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

void measure(int records, const QString &scratch)
{
    MainWindow window(std::make_unique<SilentMessages>());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("window not exposed");
    auto *friends = window.findChild<QPlainTextEdit *>(QStringLiteral("txtfriends"));
    auto *save = window.findChild<QAction *>(QStringLiteral("mnusave"));
    auto *open = window.findChild<QAction *>(QStringLiteral("mnuopen"));
    const QString list = friendsList(records);
    friends->setPlainText(list);
    const QByteArray bytes = ListFiles::fileBytes(list);

    const double saveMs = medianMs(Runs, [&] { save->trigger(); });
    const double saveFloorMs = medianMs(Runs, [&] {
        const QString text = friends->toPlainText();
        writePlain(scratch, bytes);
    });
    // What durability alone costs: the same plain write, flushed to the disk before it counts.
    const double durableFloorMs = medianMs(Runs, [&] {
        const QString text = friends->toPlainText();
        writePlain(scratch, bytes, true);
    });
    const double openMs = medianMs(Runs, [&] { open->trigger(); });
    const QString path = ListFiles::path(ListFiles::List::Friends);
    const double openFloorMs = medianMs(Runs, [&] {
        const QByteArray read = readPlain(path);
        friends->setPlainText(QString::fromLatin1(read));
    });
    if (ListFiles::listText(readPlain(path)) != list)
        qFatal("the list did not survive Save");

    std::printf("%7d records, %5.1f MB:\n", records, double(bytes.size()) / 1e6);
    std::printf("  Save %8.1f ms, floor %8.1f ms, ratio %.2f; floor with fsync %8.1f ms, "
                "ratio %.2f\n",
                saveMs, saveFloorMs, saveMs / saveFloorMs, durableFloorMs, saveMs / durableFloorMs);
    std::printf("  Open %8.1f ms, floor %8.1f ms, ratio %.2f\n", openMs, openFloorMs,
                openMs / openFloorMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    std::printf("File, Save and File, Open, median of %d:\n", Runs);
    for (const int records : {10'000, 100'000})
        measure(records, home.filePath(QStringLiteral("floor.txt")));
    return 0;
}
