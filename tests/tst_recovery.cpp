#include "copies.h"
#include "files.h"
#include "listfiles.h"
#include "memorylimit.h"
#include "windowfixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using Kind = RecordingMessages::Kind;

namespace {

// The list files that work() opens.
const QString OldFriends = u"------\r\nName: Old\r\nAim: a\u2028b"_s;
const QString OldServers = u"------\r\nName: Box"_s;

// Writing list files, not the work kept aside, 16 bytes a tenth of a second: a Save of seconds.
ssize_t writeSlowly(int fd, const void *data, size_t size)
{
    if (QThread::currentThread() != qApp->thread())
        return ::write(fd, data, size);
    ::usleep(100'000);
    return ::write(fd, data, std::min(size, size_t(16)));
}

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void copiesReadBack_data();
    void copiesReadBack();
    void startOffersWorkBack_data();
    void startOffersWorkBack();
    void killedProgramComesBack_data();
    void killedProgramComesBack();
    void openUnderWayKeepsWorkAside_data();
    void openUnderWayKeepsWorkAside();

public:
    // What a window shows: both lists, every field, and the title's mark.
    static QStringList shown(const WindowFixture &w);
    // Types into fields and lists, opening the lists from files first when \a fromFiles.
    static void work(const WindowFixture &w, bool fromFiles);
    static std::unique_ptr<WindowFixture> keepingWindow(QList<Choice> answers = {});

private:
    std::unique_ptr<QTemporaryDir> m_home;
};

void TestRecovery::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", (m_home->path() + u"/data"_s).toLocal8Bit());
    qputenv("XDG_STATE_HOME", (m_home->path() + u"/state"_s).toLocal8Bit());
}

void TestRecovery::cleanup()
{
    m_home.reset();
}

QStringList TestRecovery::shown(const WindowFixture &w)
{
    QStringList all{w.list("txtfriends"), w.list("txtserver")};
    for (const QString &name : {u"txtname"_s, u"txtgames"_s, u"txtpass"_s, u"txtnotes"_s})
        all << Form(*w.window, *w.messages).text(name);
    all << QString::number(w.find<QRadioButton>("optyes")->isChecked())
        << QString::number(w.window->isWindowModified());
    return all;
}

void TestRecovery::work(const WindowFixture &w, bool fromFiles)
{
    if (fromFiles) {
        ListFiles::save(ListFiles::List::Friends, OldFriends);
        ListFiles::save(ListFiles::List::Servers, OldServers);
        w.trigger("mnuopen");
    }
    w.type("txtname", u"Ann \u00a0Example"_s);
    w.type("txtgames", u"Halo 2\nQuake"_s);
    w.click("cmd1");
    w.type("txtpass", u"s3cret"_s);
    w.click("optyes");
    w.click("Command1");
    w.type("txtnotes", u"EU\nno bots"_s);
    // Typed and pasted into the lists: at the end, in the middle, over a selection.
    w.typeAtEnd("txtfriends", u"\nLate line\u2028pasted"_s);
    auto *friends = w.find<QPlainTextEdit>("txtfriends");
    QTextCursor cursor(friends->document());
    cursor.setPosition(9);
    cursor.setPosition(12, QTextCursor::KeepAnchor);
    friends->setTextCursor(cursor);
    QTest::keyClicks(friends, u"XY"_s);
    QTest::keyClick(friends, Qt::Key_Backspace);
    QTest::keyClick(friends, Qt::Key_Return);
}

std::unique_ptr<WindowFixture> TestRecovery::keepingWindow(QList<Choice> answers)
{
    auto w = std::make_unique<WindowFixture>();
    w->messages->answers = std::move(answers);
    w->window->keepUnsavedWork();
    return w;
}

void TestRecovery::copiesReadBack_data()
{
    // Each row damages the copy left by a window that flushed twice, then ended without closing.
    QTest::addColumn<QString>("file");    // under the copy's folder
    QTest::addColumn<QString>("damage");  // cut|zeros|append|flip N, remove, fifo, text
    QTest::addColumn<QString>("friends"); // whole | latest | first | earlier | none | unreadable
    QTest::newRow("whole") << u"state"_s << u""_s << u"whole"_s;
    QTest::newRow("flush cut short before its state")
            << u"friends"_s << u"append 40"_s << u"whole"_s;
    // Killed after the journals of a flush were synced, before its state was in place.
    QTest::newRow("state of the flush before") << u"state"_s << u"earlier"_s << u"earlier"_s;
    QTest::newRow("synced flush cut short") << u"friends"_s << u"cut 3"_s << u"first"_s;
    QTest::newRow("last flush never written") << u"friends"_s << u"zeros 4096"_s << u"whole"_s;
    QTest::newRow("earlier record damaged") << u"friends"_s << u"flip 400"_s << u"latest"_s;
    QTest::newRow("journal missing") << u"friends"_s << u"remove"_s << u"none"_s;
    QTest::newRow("journal is a named pipe") << u"friends"_s << u"fifo"_s << u"none"_s;
    QTest::newRow("state damaged") << u"state"_s << u"flip 40"_s << u"unreadable"_s;
    QTest::newRow("state cut short") << u"state"_s << u"cut 1"_s << u"unreadable"_s;
    QTest::newRow("someone else's file") << u"state"_s << u"text"_s << u"unreadable"_s;
    QTest::newRow("state is a named pipe") << u"state"_s << u"fifo"_s << u"unreadable"_s;
}

void TestRecovery::copiesReadBack()
{
    QFETCH(QString, file);
    QFETCH(QString, damage);
    QFETCH(QString, friends);
    QStringList first, second;
    const QString root = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME")) + u"/vonnerby"_s;
    QString copy;
    QByteArray firstState;
    {
        auto w = keepingWindow();
        work(*w, true);
        QTest::qWait(1500);
        first = shown(*w);
        copy = QDir(root).entryInfoList({u"copy-*"_s}, QDir::Dirs).value(0).filePath();
        firstState = TestFiles::read(copy + u"/state"_s);
        w->typeAtEnd("txtfriends", u" and more"_s);
        w->type("txtpass", u"!"_s);
        second = shown(*w);
    }
    QVERIFY(!copy.isEmpty());
    QString path = QDir(copy).filePath(file);
    if (file == u"friends")
        path = QDir(copy).entryInfoList({u"friends-*.journal"_s}).value(0).filePath();
    const QStringList how = damage.split(u' ');
    QByteArray bytes = TestFiles::read(path);
    if (how[0] == u"cut")
        bytes.chop(how[1].toInt());
    else if (how[0] == u"zeros")
        bytes.append(how[1].toInt(), '\0');
    else if (how[0] == u"append")
        bytes.append(bytes.mid(100, how[1].toInt()));
    else if (how[0] == u"flip")
        bytes[how[1].toInt()] = char(bytes[how[1].toInt()] ^ 0x20);
    else if (how[0] == u"earlier")
        bytes = firstState;
    else if (how[0] == u"text")
        bytes = "Some other program's notes\n";
    if (how[0] == u"remove" || how[0] == u"fifo") {
        QVERIFY(QFile::remove(path));
        if (how[0] == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (!damage.isEmpty()) {
        TestFiles::write(path, bytes);
    }

    std::optional<Recovery::Copy> found = Recovery::takeStaleCopy();
    QVERIFY(found);
    QCOMPARE(bool(found->unreadable), friends == u"unreadable");
    if (found->unreadable)
        return;
    const Recovery::KeptList &kept = found->lists[size_t(ListFiles::List::Friends)];
    using Whole = Recovery::KeptList::Whole;
    const Whole whole = friends == u"none"                ? Whole::No
            : friends == u"latest" || friends == u"first" ? Whole::LatestLost
                                                          : Whole::Yes;
    QCOMPARE(kept.whole, whole);
    // As at the last flush read whole: the first one, or the one at the end; lists and fields
    // as they were at one moment.
    const bool atFirst = friends == u"first" || friends == u"earlier";
    if (atFirst || whole == Whole::Yes) {
        QCOMPARE(kept.text, atFirst ? first[0] : second[0]);
        QCOMPARE(kept.saved, u"------\r\nName: Old\r\nAim: a\u2028b"_s);
    }
    QCOMPARE(found->lists[size_t(ListFiles::List::Servers)].text, second[1]);
    QVERIFY(found->fields.texts.contains(
            {u"txtpass"_s, (friends == u"earlier" ? first : second)[4]}));
}

void TestRecovery::startOffersWorkBack_data()
{
    QTest::addColumn<QString>("end"); // how the first window ends
    QTest::addColumn<QList<Choice>>("answers");
    QTest::addColumn<bool>("asked"); // at the second start
    QTest::addColumn<bool>("recovered");
    QTest::addColumn<bool>("askedAgain"); // at the third
    QTest::newRow("recover") << u"crash"_s << QList{Choice::Recover} << true << true << false;
    QTest::newRow("discard") << u"crash"_s << QList{Choice::Discard} << true << false << false;
    QTest::newRow("later") << u"crash"_s << QList{Choice::Cancel} << true << false << true;
    QTest::newRow("closed, discarding")
            << u"close"_s << QList{Choice::Discard} << false << false << false;
    QTest::newRow("saved, fields cleared")
            << u"save"_s << QList<Choice>{} << false << false << false;
    QTest::newRow("disk full for a while")
            << u"full"_s << QList{Choice::Recover} << true << true << false;
    // Said, kept, and offered once there is the memory to read it.
    QTest::newRow("no memory to read it back")
            << u"memory"_s << QList<Choice>{} << false << false << true;
}

void TestRecovery::startOffersWorkBack()
{
    QFETCH(QString, end);
    QFETCH(QList<Choice>, answers);
    QFETCH(bool, asked);
    QFETCH(bool, recovered);
    QFETCH(bool, askedAgain);
    QStringList before;
    {
        auto w = keepingWindow({Choice::Discard});
        work(*w, true);
        if (end == u"full") {
            // Said once, however long it lasts; what could not be written follows later.
            const auto write = std::exchange(ListFiles::systemCalls().write,
                                             [](int, const void *, size_t) -> ssize_t {
                                                 errno = ENOSPC;
                                                 return -1;
                                             });
            for (int i = 0; i < 3; ++i) {
                w->type("txtname", u"+"_s);
                QTest::qWait(1200);
            }
            ListFiles::systemCalls().write = write;
            QCOMPARE(w->messages->shown.size(), 1);
            QVERIFY(w->messages->shown[0].text.contains(u"No space left on device"_s));
        }
        before = shown(*w);
        if (end == u"close") {
            w->window->close();
        } else if (end == u"save") {
            w->trigger("mnusave");
            w->trigger("mnunew");
        }
    }
    // Someone changes a list file meanwhile: a recovered Save asks before overwriting it.
    ListFiles::save(ListFiles::List::Servers, u"changed"_s);
    std::optional<MemoryLimit> limit;
    if (end == u"memory")
        limit.emplace(8 << 20); // less than a box's document takes before any text
    auto w = keepingWindow(answers);
    limit.reset();
    if (end == u"memory")
        QVERIFY(w->messages->shown.value(0).text.contains(u"offered again at the next start"_s));
    const bool question = !w->messages->shown.isEmpty()
            && w->messages->shown[0].kind == Kind::Question
            && w->messages->shown[0].choices == QList{Choice::Recover, Choice::Discard};
    QCOMPARE(question, asked);
    if (asked)
        QVERIFY2(w->messages->shown[0].text.contains(
                         u"Friends list: 2 records\nServer list: 2 records\n"
                         "Entry fields: filled in"_s),
                 qPrintable(w->messages->shown[0].text));
    QCOMPARE(shown(*w) == before, recovered);
    if (recovered) {
        w->messages->answers = {Choice::Cancel};
        w->trigger("mnusave");
        QVERIFY(w->messages->shown.last().text.contains(u"changed outside this window"_s));
    }
    w.reset();
    auto third = keepingWindow();
    QCOMPARE(third->messages->shown.size(), askedAgain || recovered ? 1 : 0);
}

// The program itself in a process of its own: it types, and is killed.
void TestRecovery::killedProgramComesBack_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("wait");    // ms after the last keystroke
    QTest::addColumn<bool>("saving"); // and Save, slowed down, under way
    QTest::newRow("SIGKILL after the 2 seconds") << int(SIGKILL) << 2000 << false;
    QTest::newRow("SIGTERM at once") << int(SIGTERM) << 0 << false;
    QTest::newRow("SIGHUP at once") << int(SIGHUP) << 0 << false;
    QTest::newRow("SIGINT at once") << int(SIGINT) << 0 << false;
    // Save stops first, and leaves the list files as they were, with nothing beside them.
    QTest::newRow("SIGTERM while saving") << int(SIGTERM) << 500 << true;
}

void TestRecovery::killedProgramComesBack()
{
    QFETCH(int, signal);
    QFETCH(int, wait);
    QFETCH(bool, saving);
    QProcess program;
    program.start(QCoreApplication::applicationFilePath(),
                  {saving ? u"--save-until-killed"_s : u"--work-until-killed"_s});
    QVERIFY(program.waitForReadyRead(20000));
    const QStringList before =
            QString::fromUtf8(QByteArray::fromBase64(program.readLine())).split(u'\0');
    QTest::qWait(wait);
    // The copy of a program that still runs is never offered.
    QVERIFY(keepingWindow({Choice::Recover})->messages->shown.isEmpty());
    ::kill(pid_t(program.processId()), signal);
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::CrashExit);
    auto w = keepingWindow({Choice::Recover});
    QCOMPARE(w->messages->shown.size(), 1);
    QCOMPARE(shown(*w), before);
    if (saving) {
        QCOMPARE(TestFiles::read(ListFiles::path(ListFiles::List::Friends)),
                 ListFiles::fileBytes(OldFriends));
        QCOMPARE(TestFiles::read(ListFiles::path(ListFiles::List::Servers)),
                 ListFiles::fileBytes(OldServers));
        QCOMPARE(QDir(ListFiles::folder()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u"vyfriends.txt"_s, u"vyserver.txt"_s}));
    }
}

void TestRecovery::openUnderWayKeepsWorkAside_data()
{
    QTest::addColumn<bool>("cancelled"); // at its last step; else typed in once it is done
    QTest::newRow("cancelled") << true;
    QTest::newRow("opened, then typed in") << false;
}

void TestRecovery::openUnderWayKeepsWorkAside()
{
    QFETCH(bool, cancelled);
    QStringList before;
    {
        auto w = keepingWindow({Choice::Replace});
        work(*w, true);
        ListFiles::save(ListFiles::List::Friends, u"------\r\nName: New"_s);
        ListFiles::save(ListFiles::List::Servers, u"------\r\nName: Other"_s);
        w->messages->progressTexts.clear();
        int steps = 0;
        int friendsSteps = 0; // reading the file, then building the list
        w->messages->pressCancel = [&] {
            // The work kept aside is brought up to date while the new lists are on their way.
            if (++steps == 1)
                QTest::qWait(1500);
            return cancelled && w->messages->progressTexts.size() == 2 && ++friendsSteps == 2;
        };
        const QStringList unsaved = shown(*w);
        w->trigger("mnuopen");
        QCOMPARE(shown(*w) == unsaved, cancelled);
        if (!cancelled)
            w->typeAtEnd("txtfriends", u"\ntyped"_s);
        before = shown(*w);
    }
    // Ended without closing: what is kept is the window as it was at its end.
    auto w = keepingWindow({Choice::Recover});
    QCOMPARE(w->messages->shown.size(), 1);
    QCOMPARE(shown(*w), before);
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const bool saving = argc == 2 && qstrcmp(argv[1], "--save-until-killed") == 0;
    if (saving || (argc == 2 && qstrcmp(argv[1], "--work-until-killed") == 0)) {
        auto w = TestRecovery::keepingWindow();
        w->window->show();
        TestRecovery::work(*w, true);
        const QByteArray state = TestRecovery::shown(*w).join(u'\0').toUtf8().toBase64();
        std::fputs((state + '\n').constData(), stdout);
        std::fflush(stdout);
        if (saving) {
            ListFiles::systemCalls().write = writeSlowly;
            QTimer::singleShot(0, w->window.get(), [&w] { w->trigger("mnusave"); });
        }
        return QApplication::exec();
    }
    TestRecovery test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recovery.moc"
