#include "files.h"
#include "listfiles.h"
#include "memorylimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using ListFiles::List;
using TestFiles::read, TestFiles::write;
using Problem = ListFiles::Failure::Problem;
using Kind = ListFiles::Failure::Kind;

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Faults put in through ListFiles::systemCalls().
bool tookPart = false;

// A full disk: the last piece goes in only partly, then the system says why.
ssize_t shortLastPiece(int fd, const void *data, size_t size)
{
    if (tookPart) {
        errno = ENOSPC;
        return -1;
    }
    if (size == 2 && std::memcmp(data, "\r\n", 2) == 0) {
        tookPart = true;
        return ::write(fd, data, 1);
    }
    return ::write(fd, data, size);
}

// Part taken, then nothing, and no reason given.
ssize_t partThenNothing(int fd, const void *data, size_t size)
{
    if (tookPart)
        return 0;
    tookPart = true;
    return ::write(fd, data, size / 2);
}

int failingSync(int)
{
    errno = EIO;
    return -1;
}

int failingRename(int, const char *, int, const char *)
{
    errno = EXDEV;
    return -1;
}

int failingClose(int fd)
{
    ::close(fd);
    errno = EIO;
    return -1;
}

ssize_t failingRead(int, void *, size_t)
{
    errno = EIO;
    return -1;
}

// Another program at the worst moment: it makes the file Create found missing, puts a folder
// where the file Open looked at was, or makes the file grow past the limit while it is read.
int racingOpen(int folder, const char *name, int flags, mode_t mode)
{
    const QString friends = ListFiles::path(List::Friends);
    if (QByteArrayView(name) == "vyfriends.txt" && (flags & O_EXCL))
        QFile(friends).open(QIODevice::WriteOnly);
    else if (QByteArrayView(name) == "vyfriends.txt" && !(flags & O_PATH))
        QFile::remove(friends) && QDir().mkdir(friends);
    return ::openat(folder, name, flags, mode);
}

ssize_t growingRead(int fd, void *data, size_t size)
{
    QFile::resize(ListFiles::path(List::Friends), ListFiles::MaxFileSize + 1);
    return ::read(fd, data, size);
}

} // namespace

Q_DECLARE_METATYPE(ListFiles::SystemCalls)

class TestListFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void filesLiveInTheUsersDataFolder_data();
    void filesLiveInTheUsersDataFolder();
    void saveWritesOwnerOnlyFilesAndKeepsExistingPermissions();
    void saveFailureLeavesTheOldFile();
    void halfDoneWritesFail_data();
    void halfDoneWritesFail();
    void unusableFolder_data();
    void unusableFolder();
    void onlyRegularFiles_data();
    void onlyRegularFiles();
    void saveThroughALinkKeepsTheLink();
    void openReadsWhatSaveWrote();
    void openMissingOrEmptyFile();
    void createWritesOnlyMissingFiles();
    void hugeRandomFileOpensAndSavesBack();

private:
    void setFolderVariables(const QByteArray &xdg, const QByteArray &home) const;
    std::unique_ptr<QTemporaryDir> m_home;
    QByteArray m_realHome = qgetenv("HOME");
    QString m_realCurrent = QDir::currentPath();
    ListFiles::SystemCalls m_realCalls = ListFiles::systemCalls();
};

void TestListFiles::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("XDG_DATA_HOME", m_home->path().toLocal8Bit());
}

void TestListFiles::cleanup()
{
    qputenv("HOME", m_realHome);
    QDir::setCurrent(m_realCurrent);
    ListFiles::systemCalls() = m_realCalls;
    tookPart = false;
}

// "@" stands for the test's folder; "-" for a variable that is not set.
void TestListFiles::setFolderVariables(const QByteArray &xdg, const QByteArray &home) const
{
    const QByteArray here = m_home->path().toLocal8Bit();
    for (const auto &[name, value] : {std::pair{"XDG_DATA_HOME", xdg}, std::pair{"HOME", home}}) {
        if (value == "-")
            qunsetenv(name);
        else
            qputenv(name, QByteArray(value).replace('@', here));
    }
}

void TestListFiles::filesLiveInTheUsersDataFolder_data()
{
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QString>("folder");
    QTest::newRow("XDG_DATA_HOME") << QByteArray("@") << QByteArray("@/home") << u"vonnerby"_s;
    QTest::newRow("HOME") << QByteArray("-") << QByteArray("@/home")
                          << u"home/.local/share/vonnerby"_s;
    // The XDG rules: a relative path is ignored.
    QTest::newRow("relative XDG_DATA_HOME")
            << QByteArray("data") << QByteArray("@/home") << u"home/.local/share/vonnerby"_s;
    QTest::newRow("empty XDG_DATA_HOME")
            << QByteArray("") << QByteArray("@/home/") << u"home/.local/share/vonnerby"_s;
}

void TestListFiles::filesLiveInTheUsersDataFolder()
{
    QFETCH(QByteArray, xdg);
    QFETCH(QByteArray, home);
    QFETCH(QString, folder);
    setFolderVariables(xdg, home);
    QCOMPARE(ListFiles::path(List::Servers), m_home->filePath(folder + u"/vyserver.txt"_s));
    QCOMPARE(ListFiles::path(List::Friends), m_home->filePath(folder + u"/vyfriends.txt"_s));
    TestFiles::recordSyncs();
    QVERIFY(!ListFiles::save(List::Servers, u"x"));
    // Each folder made is synced into its parent, so that a power cut cannot take it away.
    for (QString made = folder; made != u"."; made = QFileInfo(made).path())
        QVERIFY2(TestFiles::syncedFolders.contains(QFileInfo(m_home->filePath(made)).path()),
                 qPrintable(made));
    QCOMPARE(read(m_home->filePath(folder + u"/vyserver.txt"_s)), QByteArray("x\r\n"));
    // Folders it makes are the user's alone.
    QCOMPARE(QFile::permissions(m_home->filePath(folder)) & 0x0077, 0);
}

void TestListFiles::saveWritesOwnerOnlyFilesAndKeepsExistingPermissions()
{
    QVERIFY(!ListFiles::save(List::Servers, u"------\r\nName: x"));
    const QString servers = ListFiles::path(List::Servers);
    QCOMPARE(read(servers), QByteArray("------\r\nName: x\r\n"));
    QCOMPARE(QFile::permissions(servers),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                     | QFileDevice::WriteUser);

    const auto shared = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
            | QFileDevice::WriteUser | QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(servers, shared));
    QVERIFY(!ListFiles::save(List::Servers, u""));
    QCOMPARE(read(servers), QByteArray("\r\n"));
    QCOMPARE(QFile::permissions(servers), shared);
    // Nothing but the list files is left behind.
    QCOMPARE(QDir(ListFiles::folder()).entryList(QDir::Files), QStringList{u"vyserver.txt"_s});
}

void TestListFiles::saveFailureLeavesTheOldFile()
{
    QVERIFY(!ListFiles::save(List::Friends, u"saved before"));
    // A file size limit makes the disk "full" after a few bytes, even for root.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const auto failure = ListFiles::save(List::Friends, QString(100'000, u'x'));
    const auto created = ListFiles::create(List::Servers, QString(100'000, u'x'));
    setrlimit(RLIMIT_FSIZE, &old);

    QVERIFY(failure);
    QCOMPARE(failure->action, ListFiles::Failure::Action::Save);
    QCOMPARE(failure->path, QDir::toNativeSeparators(ListFiles::path(List::Friends)));
    // The first write is short and sets no error; the system's reason comes with the next.
    QCOMPARE(failure->reason, systemReason(EFBIG));
    QVERIFY(failure->existed);
    QCOMPARE(read(ListFiles::path(List::Friends)), QByteArray("saved before\r\n"));
    QVERIFY(created.failure);
    QCOMPARE(created.failure->reason, systemReason(EFBIG));
    QCOMPARE(QDir(ListFiles::folder()).entryList(QDir::Files | QDir::Hidden),
             QStringList{u"vyfriends.txt"_s});
}

void TestListFiles::halfDoneWritesFail_data()
{
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<ListFiles::SystemCalls>("calls");
    QTest::addColumn<int>("problem"); // -1 for none
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QByteArray>("file"); // what the list file holds afterwards
    ListFiles::SystemCalls calls = ListFiles::systemCalls();
    const auto with = [calls](auto change) {
        ListFiles::SystemCalls changed = calls;
        change(changed);
        return changed;
    };
    const auto shortWrite = with([](auto &c) { c.write = shortLastPiece; });
    const auto silentWrite = with([](auto &c) { c.write = partThenNothing; });
    const auto sync = with([](auto &c) { c.fdatasync = failingSync; });
    const auto close = with([](auto &c) { c.close = failingClose; });
    const auto rename = with([](auto &c) { c.renameat = failingRename; });
    const auto folderSync = with([](auto &c) { c.fsync = failingSync; });
    const int system = int(Problem::System);
    const QByteArray before = "saved before\r\n";
    for (const bool saving : {true, false}) {
        const QByteArray action = saving ? "save" : "create";
        const QByteArray untouched = saving ? before : "(missing)";
        QTest::addRow("%s: short last piece", action.data())
                << action << shortWrite << system << systemReason(ENOSPC) << untouched;
        QTest::addRow("%s: part written, no reason", action.data())
                << action << silentWrite << int(Problem::PartWritten) << QString() << untouched;
        QTest::addRow("%s: sync fails", action.data())
                << action << sync << system << systemReason(EIO) << untouched;
        QTest::addRow("%s: close fails", action.data())
                << action << close << system << systemReason(EIO) << untouched;
        // In place, but not confirmed to be stored.
        QTest::addRow("%s: folder sync fails", action.data())
                << action << folderSync << int(Problem::Unconfirmed) << systemReason(EIO)
                << (saving ? ListFiles::fileBytes(QString(100'000, u'x')) : "Text1\r\n");
    }
    QTest::newRow("save: rename fails")
            << QByteArray("save") << rename << system << systemReason(EXDEV) << before;
    const auto racing = with([](auto &c) { c.openat = racingOpen; });
    QTest::newRow("create: made meanwhile")
            << QByteArray("create") << racing << -1 << QString() << QByteArray();
    QTest::newRow("open: swapped for a folder")
            << QByteArray("open") << racing << int(Problem::NotAFile) << QString()
            << QByteArray("(missing)");
    QTest::newRow("open: grows past the limit")
            << QByteArray("open") << with([](auto &c) { c.read = growingRead; })
            << int(Problem::TooLarge) << QString() << QByteArray("(too large)");
    QTest::newRow("open: read fails")
            << QByteArray("open") << with([](auto &c) { c.read = failingRead; }) << system
            << systemReason(EIO) << before;
    // The caller gives up half-way: the text stops coming, or reading is told to stop.
    QTest::newRow("save: text stops")
            << QByteArray("save, stopped") << calls << int(Problem::Stopped) << QString() << before;
    QTest::newRow("open: stopped")
            << QByteArray("open, stopped") << calls << int(Problem::Stopped) << QString() << before;
}

void TestListFiles::halfDoneWritesFail()
{
    QFETCH(QByteArray, action);
    QFETCH(ListFiles::SystemCalls, calls);
    QFETCH(int, problem);
    QFETCH(QString, reason);
    QFETCH(QByteArray, file);
    const QString friends = ListFiles::path(List::Friends);
    if (action == "create")
        QDir().mkpath(ListFiles::folder());
    else
        QVERIFY(!ListFiles::save(List::Friends, u"saved before"));

    ListFiles::systemCalls() = calls;
    const auto halfText = [](const ListFiles::Piece &piece) { return piece(u"half") && false; };
    const auto failure = action == "save" ? ListFiles::save(List::Friends, QString(100'000, u'x'))
            : action == "save, stopped"   ? ListFiles::save(List::Friends, halfText)
            : action == "create"          ? ListFiles::create(List::Friends, u"Text1").failure
            : action == "open, stopped"
            ? ListFiles::open(List::Friends, [](qint64) { return false; }).failure
            : ListFiles::open(List::Friends).failure;
    ListFiles::systemCalls() = m_realCalls;
    QCOMPARE(failure ? int(failure->problem) : -1, problem);
    QCOMPARE(failure ? failure->list : List::Friends, List::Friends);
    QCOMPARE(failure ? failure->reason : QString(), reason);
    QCOMPARE(failure ? failure->existed : false,
             action.startsWith("save") && file == "saved before\r\n");
    // The old file as it was, or none; nothing else left behind.
    QCOMPARE(read(friends), file);
    QCOMPARE(QDir(ListFiles::folder()).entryList(QDir::Files | QDir::Hidden),
             file == "(missing)" ? QStringList() : QStringList{u"vyfriends.txt"_s});
}

void TestListFiles::unusableFolder_data()
{
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<int>("problem");
    QTest::addColumn<QString>("reason");
    // Root ignores permissions; a data folder that is a regular file stops everyone.
    QTest::newRow("path through a file") << QByteArray("@/blocked") << QByteArray("@")
                                         << int(Problem::System) << systemReason(ENOTDIR);
    QTest::newRow("no HOME") << QByteArray("-") << QByteArray("-") << int(Problem::NoFolder)
                             << QString();
    QTest::newRow("no HOME, relative XDG_DATA_HOME")
            << QByteArray("blocked") << QByteArray("-") << int(Problem::NoFolder) << QString();
    QTest::newRow("relative HOME")
            << QByteArray("-") << QByteArray("blocked") << int(Problem::RelativeHome) << QString();
}

void TestListFiles::unusableFolder()
{
    QFETCH(QByteArray, xdg);
    QFETCH(QByteArray, home);
    QFETCH(int, problem);
    QFETCH(QString, reason);
    write(m_home->filePath(u"blocked"_s), "not a folder");
    setFolderVariables(xdg, home);
    // Nothing lands in the current folder or at the root either.
    QVERIFY(QDir::setCurrent(m_home->path()));

    const auto saved = ListFiles::save(List::Servers, u"x");
    QVERIFY(saved);
    QCOMPARE(int(saved->problem), problem);
    QCOMPARE(saved->reason, reason);
    const auto created = ListFiles::create(List::Servers, u"Text1");
    QVERIFY(created.failure);
    QVERIFY(!created.written);
    QCOMPARE(created.failure->action, ListFiles::Failure::Action::Create);
    QCOMPARE(int(created.failure->problem), problem);
    const auto opened = ListFiles::open(List::Servers);
    QVERIFY(opened.failure);
    QCOMPARE(int(opened.failure->problem), problem);
    QVERIFY(!ListFiles::isMissing(List::Servers));
    QCOMPARE(read(m_home->filePath(u"blocked"_s)), QByteArray("not a folder"));
    QCOMPARE(QDir(m_home->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{u"blocked"_s});
    QVERIFY(!QFileInfo::exists(u"/.local/share/vonnerby"_s));
}

void TestListFiles::onlyRegularFiles_data()
{
    QTest::addColumn<QString>("link"); // where the list's path links to, or empty
    QTest::addColumn<int>("kind");
    QTest::newRow("FIFO") << QString() << int(Kind::Fifo);
    QTest::newRow("folder") << QString() << int(Kind::Directory);
    QTest::newRow("link to /dev/null") << u"/dev/null"_s << int(Kind::Device);
    QTest::newRow("link to /dev/zero") << u"/dev/zero"_s << int(Kind::Device);
    QTest::newRow("dangling link") << u"nowhere"_s << int(Kind::DanglingLink);
    QTest::newRow("another user's link, run as root") << u"../victim"_s << int(Kind::UntrustedLink);
    QTest::newRow("the folder owner's link, run as root")
            << u"../victim"_s << int(Kind::UntrustedLink);
}

void TestListFiles::onlyRegularFiles()
{
    QFETCH(QString, link);
    QFETCH(int, kind);
    const QString servers = ListFiles::path(List::Servers);
    QDir().mkpath(ListFiles::folder());
    write(m_home->filePath(u"victim"_s), "victim\r\n");
    if (!link.isEmpty())
        QVERIFY(QFile::link(link, servers));
    else if (kind == int(Kind::Fifo))
        QVERIFY(::mkfifo(QFile::encodeName(servers).constData(), 0600) == 0);
    else
        QVERIFY(QDir().mkdir(servers));
    if (kind == int(Kind::UntrustedLink)) {
        if (::geteuid() != 0)
            QSKIP("Only root refuses to follow another user's link");
        QCOMPARE(::lchown(QFile::encodeName(servers).constData(), 4321, 4321), 0);
        if (QByteArray(QTest::currentDataTag()).contains("owner"))
            QCOMPARE(::lchown(QFile::encodeName(ListFiles::folder()).constData(), 4321, 4321), 0);
    }
    const auto standing = [&servers] {
        struct stat info = {};
        ::lstat(QFile::encodeName(servers).constData(), &info);
        return info.st_mode;
    };
    const auto before = standing();

    // Blocking on a FIFO or reading /dev/zero for ever would hang here; the alarm ends that.
    alarm(20);
    const auto opened = ListFiles::open(List::Servers);
    const auto saved = ListFiles::save(List::Servers, u"x");
    const auto created = ListFiles::create(List::Servers, u"Text1");
    alarm(0);
    for (const auto &failure : {opened.failure, saved, created.failure}) {
        QVERIFY(failure);
        QCOMPARE(failure->problem, Problem::NotAFile);
        QCOMPARE(int(failure->kind), kind);
        QCOMPARE(failure->link,
                 kind == int(Kind::UntrustedLink) ? QDir::toNativeSeparators(servers) : QString());
    }
    QVERIFY(!created.written);
    QVERIFY(!ListFiles::isMissing(List::Servers));
    // Nothing replaced and nothing made.
    QCOMPARE(standing(), before);
    QCOMPARE(QFile::symLinkTarget(servers),
             link.isEmpty() ? QString() : QFileInfo(servers).symLinkTarget());
    QCOMPARE(QDir(ListFiles::folder())
                     .entryList(QDir::AllEntries | QDir::System | QDir::Hidden
                                | QDir::NoDotAndDotDot),
             QStringList{u"vyserver.txt"_s});
    QVERIFY(!QFileInfo::exists(ListFiles::folder() + u"/nowhere"_s));
    QCOMPARE(read(m_home->filePath(u"victim"_s)), QByteArray("victim\r\n"));
}

void TestListFiles::saveThroughALinkKeepsTheLink()
{
    const QString real = m_home->filePath(u"elsewhere/servers.txt"_s);
    const QString victim = m_home->filePath(u"victim"_s);
    write(real, "old\r\n");
    write(victim, "victim\r\n");
    QDir().mkpath(ListFiles::folder());
    QVERIFY(QFile::link(real, ListFiles::path(List::Servers)));
    // Root follows its own link in a folder of another user's, and leaves the file its owner's.
    for (const QString &path : {ListFiles::folder(), real})
        QVERIFY(::geteuid() != 0 || ::lchown(QFile::encodeName(path).constData(), 4321, 4321) == 0);
    // The set-user bit too, which giving a file away clears.
    QCOMPARE(::chmod(QFile::encodeName(real).constData(), 04640), 0);
    const auto status = [](const QString &path) {
        struct stat info = {};
        ::stat(QFile::encodeName(path).constData(), &info);
        return std::pair(info.st_mode, info.st_uid);
    };
    const auto realBefore = status(real);
    const auto victimBefore = status(victim);

    QVERIFY(!ListFiles::save(List::Servers, u"new"));
    QCOMPARE(QFileInfo(ListFiles::path(List::Servers)).symLinkTarget(), real);
    QCOMPARE(read(real), QByteArray("new\r\n"));
    QCOMPARE(QFile::permissions(real) & 0x0777, 0x0640);
    QCOMPARE(status(real), realBefore);
    QCOMPARE(ListFiles::open(List::Servers).text.toString(), u"new"_s);
    QVERIFY(!ListFiles::create(List::Servers, u"Text1").written);
    QCOMPARE(QDir(m_home->filePath(u"elsewhere"_s)).entryList(QDir::Files | QDir::Hidden),
             QStringList{u"servers.txt"_s});

    // Another user turns the link right after Save followed it: the file now behind it is
    // neither written nor given the list's mode or owner.
    ListFiles::systemCalls().openat = [](int folder, const char *name, int flags, mode_t mode) {
        if (flags & O_CREAT) {
            QFile::remove(ListFiles::path(List::Servers));
            QFile::link(ListFiles::folder() + u"/../victim"_s, ListFiles::path(List::Servers));
        }
        return ::openat(folder, name, flags, mode);
    };
    QVERIFY(!ListFiles::save(List::Servers, u"newer"));
    QCOMPARE(read(real), QByteArray("newer\r\n"));
    QCOMPARE(status(real), realBefore);
    QCOMPARE(read(victim), QByteArray("victim\r\n"));
    QCOMPARE(status(victim), victimBefore);
}

void TestListFiles::openReadsWhatSaveWrote()
{
    for (const QString &text : {u"------\r\nName: x"_s, u"\r\n\r\n"_s, u"Ж\u00a0😀\0"_s}) {
        QVERIFY(!ListFiles::save(List::Friends, text));
        auto opened = ListFiles::open(List::Friends);
        QVERIFY(!opened.failure);
        QCOMPARE(opened.text.toString(), text);
    }
}

void TestListFiles::openMissingOrEmptyFile()
{
    auto opened = ListFiles::open(List::Servers);
    QVERIFY(opened.failure);
    QCOMPARE(opened.failure->problem, ListFiles::Failure::Problem::Missing);
    QCOMPARE(opened.failure->action, ListFiles::Failure::Action::Open);
    QCOMPARE(opened.failure->path, QDir::toNativeSeparators(ListFiles::path(List::Servers)));
    // Open never makes the folder.
    QVERIFY(!QFileInfo::exists(ListFiles::folder()));

    write(ListFiles::path(List::Servers), {});
    opened = ListFiles::open(List::Servers);
    QVERIFY(!opened.failure);
    QCOMPARE(opened.text.size(), 0);
}

void TestListFiles::createWritesOnlyMissingFiles()
{
    auto created = ListFiles::create(List::Servers, u"Text1");
    QVERIFY(!created.failure);
    QVERIFY(created.written);
    QCOMPARE(read(ListFiles::path(List::Servers)), QByteArray("Text1\r\n"));
    QCOMPARE(QFile::permissions(ListFiles::path(List::Servers)),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                     | QFileDevice::WriteUser);

    write(ListFiles::path(List::Friends), "my friends\r\n");
    created = ListFiles::create(List::Friends, u"Text1");
    QVERIFY(!created.failure);
    QVERIFY(!created.written);
    QCOMPARE(read(ListFiles::path(List::Friends)), QByteArray("my friends\r\n"));
}

void TestListFiles::hugeRandomFileOpensAndSavesBack()
{
    QByteArray bytes(50 * 1024 * 1024, Qt::Uninitialized);
    quint64 state = 42;
    for (char &byte : bytes) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        byte = char(state >> 56);
    }
    write(ListFiles::path(List::Friends), bytes);
    auto opened = ListFiles::open(List::Friends);
    QVERIFY(!opened.failure);
    const QString text = opened.text.toString();
    QVERIFY(!ListFiles::save(List::Friends, text));
    // Not UTF-8, so it went out as the same single bytes, plus the list file's own line end.
    const QByteArray saved = read(ListFiles::path(List::Friends));
    QCOMPARE(saved.size(), bytes.size() + (bytes.endsWith("\r\n") ? 0 : 2));
    QCOMPARE(ListFiles::open(List::Friends).text.toString(), text);
    {
        // No memory for its bytes: refused, never an end to the program.
        const MemoryLimit limit(16 << 20);
        const auto starved = ListFiles::open(List::Friends);
        QVERIFY(starved.failure);
        QCOMPARE(starved.failure->problem, Problem::NoMemory);
    }

    // Beyond the limit, refused before it is read.
    QVERIFY(QFile::resize(ListFiles::path(List::Friends), ListFiles::MaxFileSize + 1));
    const auto tooLarge = ListFiles::open(List::Friends);
    QVERIFY(tooLarge.failure);
    QCOMPARE(tooLarge.failure->problem, Problem::TooLarge);
}

QTEST_GUILESS_MAIN(TestListFiles)
#include "tst_listfiles.moc"
