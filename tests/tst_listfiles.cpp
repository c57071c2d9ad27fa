#include "listfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;
using ListFiles::List;

class TestListFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void filesLiveInTheUsersDataFolder();
    void saveWritesOwnerOnlyFilesAndKeepsExistingPermissions();
    void saveFailureLeavesTheOldFile();
    void unusableFolder();
    void openReadsWhatSaveWrote();
    void openMissingOrEmptyFile();
    void createWritesOnlyMissingFiles();
    void hugeRandomFileOpensAndSavesBack();

private:
    static QByteArray read(const QString &path);
    static void write(const QString &path, const QByteArray &bytes);
    std::unique_ptr<QTemporaryDir> m_home;
};

void TestListFiles::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("XDG_DATA_HOME", m_home->path().toLocal8Bit());
}

QByteArray TestListFiles::read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void TestListFiles::write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void TestListFiles::filesLiveInTheUsersDataFolder()
{
    QCOMPARE(ListFiles::path(List::Servers), m_home->filePath(u"vonnerby/vyserver.txt"_s));
    QCOMPARE(ListFiles::path(List::Friends), m_home->filePath(u"vonnerby/vyfriends.txt"_s));
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
    setrlimit(RLIMIT_FSIZE, &old);

    QVERIFY(failure);
    QCOMPARE(failure->action, ListFiles::Failure::Action::Save);
    QCOMPARE(failure->path, QDir::toNativeSeparators(ListFiles::path(List::Friends)));
    QVERIFY(!failure->reason.isEmpty());
    QCOMPARE(read(ListFiles::path(List::Friends)), QByteArray("saved before\r\n"));
    QCOMPARE(QDir(ListFiles::folder()).entryList(QDir::Files), QStringList{u"vyfriends.txt"_s});
}

void TestListFiles::unusableFolder()
{
    // Root ignores permissions; a data folder that is a regular file stops everyone.
    write(m_home->filePath(u"blocked"_s), "not a folder");
    qputenv("XDG_DATA_HOME", m_home->filePath(u"blocked"_s).toLocal8Bit());

    const auto saved = ListFiles::save(List::Servers, u"x");
    QVERIFY(saved);
    QVERIFY(!saved->missing);
    QVERIFY2(saved->reason.contains(u"directory"_s, Qt::CaseInsensitive),
             qPrintable(saved->reason));
    const auto created = ListFiles::create(List::Servers, u"Text1");
    QVERIFY(created.failure);
    QVERIFY(!created.written);
    QCOMPARE(created.failure->action, ListFiles::Failure::Action::Create);
    const auto opened = ListFiles::open(List::Servers);
    QVERIFY(opened.failure);
    QCOMPARE(read(m_home->filePath(u"blocked"_s)), QByteArray("not a folder"));
}

void TestListFiles::openReadsWhatSaveWrote()
{
    for (const QString &text : {u"------\r\nName: x"_s, u"\r\n\r\n"_s, u"Ж\u00a0😀\0"_s}) {
        QVERIFY(!ListFiles::save(List::Friends, text));
        const auto opened = ListFiles::open(List::Friends);
        QVERIFY(!opened.failure);
        QCOMPARE(opened.text, text);
    }
}

void TestListFiles::openMissingOrEmptyFile()
{
    auto opened = ListFiles::open(List::Servers);
    QVERIFY(opened.failure);
    QVERIFY(opened.failure->missing);
    QCOMPARE(opened.failure->action, ListFiles::Failure::Action::Open);
    QCOMPARE(opened.failure->path, QDir::toNativeSeparators(ListFiles::path(List::Servers)));
    // Open never makes the folder.
    QVERIFY(!QFileInfo::exists(ListFiles::folder()));

    write(ListFiles::path(List::Servers), {});
    opened = ListFiles::open(List::Servers);
    QVERIFY(!opened.failure);
    QVERIFY(opened.text.isEmpty());
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
    const auto opened = ListFiles::open(List::Friends);
    QVERIFY(!opened.failure);
    QVERIFY(!ListFiles::save(List::Friends, opened.text));
    // Not UTF-8, so it went out as the same single bytes, plus the list file's own line end.
    const QByteArray saved = read(ListFiles::path(List::Friends));
    QCOMPARE(saved.size(), bytes.size() + (bytes.endsWith("\r\n") ? 0 : 2));
    QCOMPARE(ListFiles::open(List::Friends).text, opened.text);
}

QTEST_GUILESS_MAIN(TestListFiles)
#include "tst_listfiles.moc"
