#include "copies.h"
#include "files.h"
#include "keeper.h"
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
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using Kind = RecordingMessages::Kind;

namespace {

// The window as the keeper sees it, without widgets: lists as a document holds them, one
// character a line break, and every range the keeper reads recorded.
class FakeWindow final : public Recovery::Keeper::Window
{
public:
    std::array<QString, 2> lists;
    std::array<bool, 2> modified = {};
    Recovery::Fields fieldValues{{{u"txtname"_s, QString()}}, {{u"optyes"_s, false}}};
    mutable QList<qsizetype> reads; // characters of each read

    qsizetype length(ListFiles::List list) const override { return lists[size_t(list)].size(); }
    QString text(ListFiles::List list, qsizetype from, qsizetype count) const override
    {
        reads << count;
        return lists[size_t(list)].mid(from, count);
    }
    bool separatorsAreBreaks(ListFiles::List) const override { return true; }
    bool isModified(ListFiles::List list) const override { return modified[size_t(list)]; }
    Recovery::Fields fields() const override { return fieldValues; }

    // A change as a user makes it, told to \a keeper as the document tells it.
    void change(Recovery::Keeper &keeper, ListFiles::List list, qsizetype at, qsizetype removed,
                const QString &added)
    {
        lists[size_t(list)].replace(at, removed, added);
        modified[size_t(list)] = true;
        keeper.edited(list, int(at), int(removed), int(added.size()));
    }
    void type(Recovery::Keeper &keeper, const QString &name)
    {
        fieldValues.texts[0].second = name;
        keeper.fieldsEdited();
    }
};

// What a copy holds, as a start reads it back: the friends list, or "damaged", and the name
// field; "none" for no copy, "unreadable" for one that cannot be read.
QString readBack()
{
    std::optional<Recovery::Copy> copy = Recovery::takeStaleCopy();
    if (!copy)
        return u"none"_s;
    if (copy->unreadable)
        return u"unreadable"_s;
    const Recovery::KeptList &friends = copy->lists[size_t(ListFiles::List::Friends)];
    const QString name = copy->fields.texts.value(0).second;
    return (friends.whole == Recovery::KeptList::Whole::Yes ? friends.text : u"damaged"_s)
            + u" | "_s + name;
}

// The calls of ListFiles::systemCalls() that change the disk, counted in memory that the
// process forked to make them shares; the one numbered `dieAt` ends the process before it is
// made, as a kill or a power cut would, or fails with EIO when `failAt`.
struct CallCount
{
    int made = 0;
    int dieAt = 0;
    int failAt = 0;
};
CallCount *calls = nullptr;

bool lastCall()
{
    ++calls->made;
    if (calls->made == calls->dieAt)
        ::_exit(9);
    if (calls->made == calls->failAt) {
        errno = EIO;
        return true;
    }
    return false;
}

void countCalls()
{
    ListFiles::SystemCalls &c = ListFiles::systemCalls();
    // A failing write takes part of the bytes first, as on a disk that fills up.
    c.write = [](int fd, const void *data, size_t size) -> ssize_t {
        if (!lastCall())
            return ::write(fd, data, size);
        [[maybe_unused]] const ssize_t part = ::write(fd, data, size / 2);
        errno = EIO;
        return -1;
    };
    c.fdatasync = [](int fd) { return lastCall() ? -1 : ::fdatasync(fd); };
    c.fsync = [](int fd) { return lastCall() ? -1 : ::fsync(fd); };
    c.renameat = [](int a, const char *from, int b, const char *to) {
        return lastCall() ? -1 : ::renameat(a, from, b, to);
    };
    c.openat = [](int folder, const char *name, int flags, mode_t mode) {
        return (flags & O_CREAT) && lastCall() ? -1 : ::openat(folder, name, flags, mode);
    };
    c.mkdirat = [](int folder, const char *name, mode_t mode) {
        return lastCall() ? -1 : ::mkdirat(folder, name, mode);
    };
    c.unlinkat = [](int folder, const char *name, int flags) {
        return lastCall() ? -1 : ::unlinkat(folder, name, flags);
    };
}

// One step of keeping work aside, after the steps that lead to it. Returns what a start reads
// back before the step and after it.
std::pair<QString, QString> keepingStep(const QString &step, FakeWindow &window,
                                        Recovery::Keeper &keeper, const std::function<void()> &arm)
{
    using ListFiles::List;
    const QString first = u"------\r\nName: Ann | Ann"_s;
    if (step != u"first flush") {
        window.change(keeper, List::Friends, 0, 0, u"------\u2029Name: Ann"_s);
        window.type(keeper, u"Ann"_s);
        keeper.flush();
    }
    QString after = u"------\r\nName: Ann\r\n------\r\nName: Bo | Bo"_s;
    if (step == u"new baseline") {
        // Saved, then changed again: the list file's bytes start a journal of their own.
        ListFiles::Stamp saved;
        ListFiles::save(List::Friends, u"------\r\nName: Ann"_s, &saved);
        arm();
        window.modified[size_t(List::Friends)] = false;
        keeper.setBaseline(List::Friends, saved);
    } else {
        arm();
    }
    if (step == u"discard") {
        keeper.discard();
        after = u"none"_s;
    } else if (step == u"nothing left to keep") {
        window.type(keeper, QString());
        window.modified = {};
        keeper.flush();
        after = u"none"_s;
    } else {
        const QString &friends = window.lists[size_t(List::Friends)];
        window.change(keeper, List::Friends, friends.size(), 0,
                      QString(friends.isEmpty() ? u""_s : u"\u2029"_s) + u"------\u2029Name: Bo"_s);
        window.type(keeper, u"Bo"_s);
        keeper.flush();
        if (step == u"first flush")
            after = u"------\r\nName: Bo | Bo"_s;
    }
    return {step == u"first flush" ? u"none"_s : first, after};
}

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

    void journalsReadBack_data();
    void journalsReadBack();
    void copiesReadBack_data();
    void copiesReadBack();
    void startOffersWorkBack_data();
    void startOffersWorkBack();
    void killedProgramComesBack_data();
    void killedProgramComesBack();
    void everyCrashLeavesTheOldCopyOrTheNew_data();
    void everyCrashLeavesTheOldCopyOrTheNew();
    void newestCopyFirstInAFolderOfTheUsersAlone();
    void recoveredWorkGoesOnInTheSameCopy();
    void largeEditsAreReadOnce_data();
    void largeEditsAreReadOnce();
    void otherUsersFoldersKeepNothing_data();
    void otherUsersFoldersKeepNothing();
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
    // The copy that rows damage, each in its own way.
    QTemporaryDir m_made;
    QString m_copyMade;
    QStringList m_first, m_second;
    QByteArray m_firstState;
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

void TestRecovery::journalsReadBack_data()
{
    // Records whose checksums hold but whose edits do not fit the text.
    using Recovery::checkpoint, Recovery::edit;
    QTest::addColumn<QByteArray>("records"); // after a first flush of "abc"
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("whole");
    QTest::newRow("one more flush")
            << edit(3, 0, u"d") + checkpoint(4, true, 2) << u"abcd"_s << true;
    QTest::newRow("edit past the end")
            << edit(2, 5, u"x") + checkpoint(-1, true, 2) << u"abc"_s << false;
    QTest::newRow("edit after the end")
            << edit(4, 0, u"x") + checkpoint(4, true, 2) << u"abc"_s << false;
    QTest::newRow("checkpoint of another length")
            << edit(3, 0, u"d") + checkpoint(5, true, 2) << u"abc"_s << false;
}

void TestRecovery::journalsReadBack()
{
    QFETCH(QByteArray, records);
    QFETCH(QString, text);
    QFETCH(bool, whole);
    const QByteArray journal =
            Recovery::journalStart(ListFiles::List::Friends, 3, Recovery::Baseline::Empty, true)
            + Recovery::edit(0, 0, u"abc") + Recovery::checkpoint(3, true, 1) + records;
    const Recovery::KeptList kept = Recovery::readJournal(journal, ListFiles::List::Friends, 3);
    QCOMPARE(kept.text, text);
    QCOMPARE(kept.whole == Recovery::KeptList::Whole::Yes, whole);
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
    QTest::newRow("state with bytes after its end")
            << u"state"_s << u"append 10"_s << u"unreadable"_s;
    QTest::newRow("state of an unknown version") << u"state"_s << u"flip 16"_s << u"unreadable"_s;
    QTest::newRow("journal of an unknown version") << u"friends"_s << u"flip 16"_s << u"none"_s;
    QTest::newRow("baseline damaged") << u"friends"_s << u"flip 60"_s << u"none"_s;
    // Read no further than its state says, and in no more memory than that takes.
    QTest::newRow("journal grown far past its state")
            << u"friends"_s << u"grow 1500"_s << u"whole"_s;
    QTest::newRow("copy folder is a link") << u"."_s << u"link"_s << u"unreadable"_s;
    QTest::newRow("copy folder of another user's") << u"."_s << u"owner"_s << u"unreadable"_s;
}

void TestRecovery::copiesReadBack()
{
    QFETCH(QString, file);
    QFETCH(QString, damage);
    QFETCH(QString, friends);
    // The copy a window left that flushed twice, then ended without closing; made once.
    if (m_copyMade.isEmpty()) {
        auto w = keepingWindow();
        work(*w, true);
        QTest::qWait(1500);
        m_first = shown(*w);
        const QString root = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME")) + u"/vonnerby"_s;
        m_copyMade = QDir(root).entryInfoList({u"copy-*"_s}, QDir::Dirs).value(0).filePath();
        m_firstState = TestFiles::read(m_copyMade + u"/state"_s);
        w->typeAtEnd("txtfriends", u" and more"_s);
        w->type("txtpass", u"!"_s);
        m_second = shown(*w);
        w.reset();
        QVERIFY(QDir(m_copyMade).rename(m_copyMade, m_made.filePath(u"copy-made"_s)));
        m_copyMade = m_made.filePath(u"copy-made"_s);
    }
    const QStringList &first = m_first;
    const QStringList &second = m_second;
    const QByteArray &firstState = m_firstState;
    const QString copy = m_home->filePath(u"state/vonnerby/copy-1-0"_s);
    QVERIFY(QDir().mkpath(copy));
    for (const QFileInfo &made : QDir(m_copyMade).entryInfoList(QDir::Files))
        QVERIFY(QFile::copy(made.filePath(), QDir(copy).filePath(made.fileName())));
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
    std::optional<MemoryLimit> limit;
    if (how[0] == u"remove" || how[0] == u"fifo") {
        QVERIFY(QFile::remove(path));
        if (how[0] == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (how[0] == u"grow") {
        QVERIFY(QFile::resize(path, qint64(how[1].toInt()) << 20));
        limit.emplace(256 << 20);
    } else if (how[0] == u"link") {
        QVERIFY(QDir().rename(copy, m_home->filePath(u"elsewhere"_s)));
        QVERIFY(QFile::link(m_home->filePath(u"elsewhere"_s), copy));
    } else if (how[0] == u"owner") {
        if (::geteuid() != 0)
            QSKIP("Only root can give a folder to another user");
        QCOMPARE(::chown(QFile::encodeName(copy).constData(), 4321, 4321), 0);
    } else if (!damage.isEmpty()) {
        TestFiles::write(path, bytes);
    }

    std::optional<Recovery::Copy> found = Recovery::takeStaleCopy();
    limit.reset();
    QVERIFY(found);
    QCOMPARE(bool(found->unreadable), friends == u"unreadable");
    if (found->unreadable) {
        // Moved aside as it stands: a link, not what it leads to.
        QVERIFY(!Recovery::setAside(*found).isEmpty());
        QVERIFY(!QFileInfo::exists(copy));
        if (how[0] == u"link")
            QVERIFY(QFile::exists(m_home->filePath(u"elsewhere/state"_s)));
        return;
    }
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

void TestRecovery::everyCrashLeavesTheOldCopyOrTheNew_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("failing"); // each call in turn fails, rather than ends the program
    for (const char *step :
         {"first flush", "next flush", "new baseline", "nothing left to keep", "discard"}) {
        QTest::addRow("%s, killed at each call", step) << QString::fromLatin1(step) << false;
        QTest::addRow("%s, each call failing", step) << QString::fromLatin1(step) << true;
    }
}

// Each call that changes the disk, in turn, is the last the program makes, or fails: a start
// then reads back the copy as it was before the step or as it is after it, never one that is
// damaged or names journals that are gone.
void TestRecovery::everyCrashLeavesTheOldCopyOrTheNew()
{
    QFETCH(QString, step);
    QFETCH(bool, failing);
    calls = static_cast<CallCount *>(::mmap(nullptr, sizeof(CallCount), PROT_READ | PROT_WRITE,
                                            MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    QVERIFY(calls != MAP_FAILED);
    // Each run in a process of its own, with a state folder of its own.
    const auto run = [&](int at, bool retry = false) {
        qputenv("XDG_STATE_HOME", m_home->filePath(u"state-%1"_s.arg(at)).toLocal8Bit());
        *calls = {};
        const pid_t child = ::fork();
        if (child == 0) {
            countCalls();
            FakeWindow window;
            Recovery::Keeper keeper(window);
            keepingStep(step, window, keeper, [at, failing] {
                calls->made = 0;
                (failing ? calls->failAt : calls->dieAt) = at;
            });
            const int made = calls->made;
            // Kept trying, it gets there.
            if (retry) {
                calls->failAt = 0;
                keeper.flush();
            }
            calls->made = made;
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    QCOMPARE(run(0), 0);
    const int counted = calls->made;
    QVERIFY(counted > 0);
    std::pair<QString, QString> expected;
    qputenv("XDG_STATE_HOME", m_home->filePath(u"state-expected"_s).toLocal8Bit());
    {
        FakeWindow window;
        Recovery::Keeper keeper(window);
        expected = keepingStep(step, window, keeper, [] {});
    }
    QCOMPARE(readBack(), expected.second);
    const bool keeps = expected.second != u"none";
    for (int at = 1; at <= counted; ++at) {
        QCOMPARE(run(at), failing ? 0 : 9);
        const QString found = readBack();
        // A step that fails part way keeps what it could: each list and the fields as they
        // were before or after it; a list never kept before may be kept as it was at start,
        // empty, or not yet at all.
        const auto part = [](const QString &copy, int i) { return copy.section(u" | "_s, i, i); };
        const auto either = [&](int i) {
            const QString got = part(found, i);
            return got == part(expected.first, i) || got == part(expected.second, i)
                    || (i == 0 && expected.first == u"none" && found != u"none"
                        && (got.isEmpty() || got == u"damaged"));
        };
        QVERIFY2(found == expected.first || found == expected.second
                         || (failing && either(0) && either(1)),
                 qPrintable(u"call %1 of %2: %3"_s.arg(at).arg(counted).arg(found)));
        // Once the call works again, the next flush brings the copy up to date.
        if (failing && keeps) {
            QCOMPARE(run(at, true), 0);
            QCOMPARE(readBack(), expected.second);
        }
    }
    ::munmap(calls, sizeof(CallCount));
}

void TestRecovery::newestCopyFirstInAFolderOfTheUsersAlone()
{
    const QString state = m_home->filePath(u"state/vonnerby"_s);
    QVERIFY(QDir().mkpath(state));
    QVERIFY(QFile::setPermissions(state,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          | QFile::ReadGroup | QFile::ExeGroup));
    // The lock of a program that ended before it made its copy's folder.
    TestFiles::write(state + u"/copy-1-0.lock"_s, "1\n");
    const ListFiles::SystemCalls real = ListFiles::systemCalls();
    for (const QString &name : {u"first"_s, u"second"_s}) {
        // Another program takes the lock file's name just as the first one is opened: the lock is
        // taken again, on the file that others find.
        static bool removed;
        removed = name != u"first";
        ListFiles::systemCalls().openat = [](int folder, const char *file, int flags, mode_t mode) {
            const int fd = ::openat(folder, file, flags, mode);
            if (!removed && QByteArrayView(file).endsWith(".lock")) {
                removed = ::unlinkat(folder, file, 0) == 0;
                ::close(::openat(folder, file, O_RDWR | O_CREAT, 0600));
            }
            return fd;
        };
        TestFiles::recordSyncs();
        FakeWindow window;
        Recovery::Keeper keeper(window);
        window.type(keeper, name);
        keeper.flush();
        QVERIFY(removed);
        const QStringList copies = QDir(state).entryList({u"copy-*"_s}, QDir::Dirs);
        // The file at the lock's name is the one held.
        const ListFiles::Descriptor lock(
                ::open(QFile::encodeName(state + u'/' + copies.value(0) + u".lock"_s).constData(),
                       O_RDWR));
        QVERIFY(name != u"first"
                || (lock.isValid() && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0));
        ListFiles::systemCalls().openat = real.openat;
        QTest::qWait(20);
    }
    ListFiles::systemCalls() = real;
    // Narrowed to its owner, and each new copy folder synced into it.
    QCOMPARE(QFile::permissions(state) & 0x0077, 0);
    QVERIFY(TestFiles::syncedFolders.contains(state));
    for (const QString &name : {u"second"_s, u"first"_s}) {
        std::optional<Recovery::Copy> copy = Recovery::takeStaleCopy();
        QVERIFY(copy);
        QCOMPARE(copy->fields.texts.value(0).second, name);
        Recovery::discard(*copy);
    }
    // Nothing is left behind, locks included.
    QCOMPARE(QDir(state).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), {});
}

// Recovered, the work goes on in the copy it came from, after its last whole flush.
void TestRecovery::recoveredWorkGoesOnInTheSameCopy()
{
    using ListFiles::List;
    {
        FakeWindow window;
        Recovery::Keeper keeper(window);
        window.change(keeper, List::Friends, 0, 0, u"------\u2029Name: Ann"_s);
        window.type(keeper, u"Ann"_s);
        keeper.flush();
    }
    const QDir state(m_home->filePath(u"state/vonnerby"_s));
    const QDir copy(state.entryInfoList({u"copy-*"_s}, QDir::Dirs).value(0).filePath());
    QFile journal(copy.entryInfoList({u"friends-*.journal"_s}).value(0).filePath());
    QVERIFY(journal.open(QIODevice::Append));
    journal.write("a flush cut short");
    journal.close();
    {
        std::optional<Recovery::Copy> found = Recovery::takeStaleCopy();
        QVERIFY(found);
        FakeWindow window;
        QString &friends = window.lists[size_t(List::Friends)];
        friends = Recovery::rawText(found->lists[size_t(List::Friends)].text);
        window.fieldValues = found->fields;
        Recovery::Keeper keeper(window);
        keeper.adopt(std::move(*found));
        window.change(keeper, List::Friends, friends.size(), 0, u"\u2029------\u2029Name: Bo"_s);
        keeper.flush();
    }
    QCOMPARE(state.entryList({u"copy-*"_s}, QDir::Dirs), QStringList{copy.dirName()});
    QCOMPARE(readBack(), u"------\r\nName: Ann\r\n------\r\nName: Bo | Ann"_s);
}

void TestRecovery::largeEditsAreReadOnce_data()
{
    QTest::addColumn<QString>("then");     // after the paste, at once
    QTest::addColumn<qsizetype>("typeAt"); // with "type"; the paste goes at 1000
    QTest::addColumn<qsizetype>("longestRead");
    const qsizetype paste = 1536 * 1024;
    // Read a slice at a time as the window goes on: the paste, never the list.
    QTest::newRow("paste") << u"loop"_s << qsizetype(0) << qsizetype(256 * 1024);
    // Before that, what is left of it is read at once.
    QTest::newRow("paste, then flush") << u"flush"_s << qsizetype(0) << paste;
    QTest::newRow("paste, then type after it") << u"type"_s << 1000 + paste << paste;
    QTest::newRow("paste, then type before it") << u"type"_s << qsizetype(10) << paste;
    // Changed before it could be read: the whole list is read at the next flush.
    QTest::newRow("paste, then type into it") << u"type"_s << qsizetype(1005) << 3 * paste + 1;
    // An Open replaces the list, and its baseline follows at once: nothing is read.
    QTest::newRow("open") << u"baseline"_s << qsizetype(0) << qsizetype(0);
}

void TestRecovery::largeEditsAreReadOnce()
{
    QFETCH(QString, then);
    QFETCH(qsizetype, typeAt);
    QFETCH(qsizetype, longestRead);
    using ListFiles::List;
    FakeWindow window;
    std::optional<Recovery::Keeper> kept;
    Recovery::Keeper &keeper = kept.emplace(window);
    window.change(keeper, List::Friends, 0, 0, QString(3 * 512 * 1024 * 2, u'a'));
    keeper.flush();
    window.reads.clear();
    const QString pasted = QString(1536 * 1024 - 1, u'p') + u'\u2029';
    window.change(keeper, List::Friends, 1000, 0, pasted);
    if (then == u"type")
        window.change(keeper, List::Friends, typeAt, 0, u"t"_s);
    else if (then == u"baseline") {
        // The list as opened from its file.
        ListFiles::Stamp opened;
        ListFiles::save(List::Friends,
                        Recovery::listText(window.lists[size_t(List::Friends)], true), &opened);
        window.modified = {};
        keeper.setBaseline(List::Friends, opened);
    } else if (then == u"flush")
        keeper.flush();
    QTest::qWait(200);
    // Read while the window goes on, not at a flush a second later.
    QCOMPARE(!window.reads.isEmpty(), then != u"baseline" && typeAt != 1005);
    if (then != u"baseline")
        keeper.flush();
    QCOMPARE(window.reads.isEmpty() ? 0
                                    : *std::max_element(window.reads.begin(), window.reads.end()),
             longestRead);
    if (then == u"baseline")
        return;
    kept.reset();
    std::optional<Recovery::Copy> copy = Recovery::takeStaleCopy();
    QVERIFY(copy);
    QCOMPARE(Recovery::rawText(copy->lists[size_t(List::Friends)].text),
             window.lists[size_t(List::Friends)]);
}

void TestRecovery::otherUsersFoldersKeepNothing_data()
{
    QTest::addColumn<QString>("hostile");
    QTest::addColumn<QString>("said"); // in the one message, or nothing
    QTest::newRow("state folder of another user's")
            << u"owner"_s << u"That folder belongs to another user"_s;
    QTest::newRow("another user's link on the way to it")
            << u"link"_s << u"That link belongs to another user"_s;
    // Its owner swaps the copy's folder for a link to a folder of the user's: the copy goes on
    // in the folder it was, and Discard empties only that.
    QTest::newRow("copy folder swapped for a link") << u"swap"_s << QString();
}

void TestRecovery::otherUsersFoldersKeepNothing()
{
    QFETCH(QString, hostile);
    QFETCH(QString, said);
    if (hostile != u"swap" && ::geteuid() != 0)
        QSKIP("Only root can give a folder or a link to another user");
    const QString state = m_home->filePath(u"state/vonnerby"_s);
    const QString victim = m_home->filePath(u"victim"_s);
    TestFiles::write(victim + u"/precious"_s, "keep me");
    const auto lchown = [](const QString &path) {
        return ::lchown(QFile::encodeName(path).constData(), 4321, 4321);
    };
    if (hostile == u"owner") {
        QVERIFY(QDir().mkpath(state));
        QCOMPARE(lchown(state), 0);
    } else if (hostile == u"link") {
        QVERIFY(QFile::link(victim, m_home->filePath(u"state"_s)));
        QCOMPARE(lchown(m_home->filePath(u"state"_s)), 0);
    }
    auto w = keepingWindow({Choice::Discard});
    work(*w, true);
    if (hostile == u"swap") {
        const auto copyFolder = [&state] {
            return QDir(state)
                    .entryInfoList({u"copy-*"_s}, QDir::AllEntries | QDir::System)
                    .value(0);
        };
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(copyFolder().filePath() + u"/state"_s), 5000);
        const QString copy = copyFolder().filePath();
        QVERIFY(QDir().rename(copy, m_home->filePath(u"moved"_s)));
        QVERIFY(QFile::link(victim, copy));
        w->type("txtname", u" more"_s);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(m_home->filePath(u"moved/state"_s)).lastModified()
                                         > QFileInfo(copy).lastModified().addMSecs(-1),
                                 5000);
        QTest::qWait(1200);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(w->messages->shown.size(), 1, 5000);
        QVERIFY2(w->messages->shown[0].text.contains(said), qPrintable(w->messages->shown[0].text));
        // Said once; the lists can still be saved.
        w->type("txtname", u" more"_s);
        QTest::qWait(1200);
        QCOMPARE(w->messages->shown.size(), 1);
        w->trigger("mnusave");
        QCOMPARE(w->messages->shown.last().text, u"File Saved!"_s);
        QCOMPARE(QDir(hostile == u"owner" ? state : victim)
                         .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList(hostile == u"owner" ? QStringList() : QStringList{u"precious"_s}));
    }
    w->window->close();
    w.reset();
    QCOMPARE(QDir(victim).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System
                                    | QDir::Hidden),
             QStringList{u"precious"_s});
    QCOMPARE(TestFiles::read(victim + u"/precious"_s), QByteArray("keep me"));
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
