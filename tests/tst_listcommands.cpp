#include "files.h"
#include "listfiles.h"
#include "memorylimit.h"
#include "windowfixture.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWindow>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using Kind = RecordingMessages::Kind;
using ListFiles::List;
using TestFiles::read, TestFiles::write;

// What a widget has been asked to paint.
struct PaintedRegion : QObject
{
    QRegion region;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            region += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

class TestListCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void saveWritesBothFilesThenSaysSo();
    void saveAndOpenGiveTheListsBackExactly();
    void openReplacesAndAddFollowsWithoutBlankLine();
    void oldSingleByteFilesOpenAndSaveBack();
    void filesOpenAndSaveBackWithoutLoss_data();
    void filesOpenAndSaveBackWithoutLoss();
    void editingAnOpenedList();
    void createWritesMissingFilesOnly();
    void createWhenBothExist();
    void unusableFolder();
    void openWithMissingFiles();
    void openRefusesListsMemoryCannotHold();
    void saveStopsAtFailingFriendsFile();
    void openStoppedHalfWayChangesNothing_data();
    void openStoppedHalfWayChangesNothing();
    void saveStoppedHalfWayChangesNoFile_data();
    void saveStoppedHalfWayChangesNoFile();
    void closeAsksOnlyAboutUnsavedChanges();
    void closeAnswers();
    void openAsksBeforeReplacingUnsavedLists();
    void saveAsksBeforeOverwritingChangesFromOutside_data();
    void saveAsksBeforeOverwritingChangesFromOutside();
    void titleMarksUnsavedLists();

private:
    QString path(List list) const { return ListFiles::path(list); }
    void setList(const char *box, const QString &text) const;
    static void changeOutside(const QString &path, const QString &how);

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<WindowFixture> w;
};

void TestListCommands::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("XDG_DATA_HOME", m_home->path().toLocal8Bit());
    w = std::make_unique<WindowFixture>();
    w->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(w->window.get()));
}

void TestListCommands::cleanup()
{
    // Nothing may be left to ask about when the fixture goes.
    w->window->setAttribute(Qt::WA_DontShowOnScreen);
    w.reset();
}

void TestListCommands::setList(const char *box, const QString &text) const
{
    // As if typed: the list counts as changed.
    auto *edit = w->find<QPlainTextEdit>(box);
    edit->selectAll();
    edit->insertPlainText(text);
}

void TestListCommands::saveWritesBothFilesThenSaysSo()
{
    w->trigger("mnusave");
    QCOMPARE(read(path(List::Servers)), QByteArray("\r\n"));
    QCOMPARE(read(path(List::Friends)), QByteArray("\r\n"));
    QCOMPARE(w->messages->shown.size(), 1);
    QCOMPARE(w->messages->shown[0].kind, Kind::Information);
    QCOMPARE(w->messages->shown[0].text, u"File Saved!"_s);
    QCOMPARE(w->messages->shown[0].title, u"Saved"_s);
    // Busy while saving, and no longer once done.
    QVERIFY(w->messages->shown[0].busy);
    QVERIFY(!QGuiApplication::overrideCursor());

    setList("txtfriends", u"------\nName: x"_s);
    w->trigger("mnusave");
    w->trigger("mnusave");
    QCOMPARE(read(path(List::Friends)), QByteArray("------\r\nName: x\r\n"));
    QCOMPARE(w->messages->shown.size(), 3);
}

void TestListCommands::saveAndOpenGiveTheListsBackExactly()
{
    const QString friends = u"\r\n------\r\nName: Zoë\u00a0Ж 😀\r\nComments: a\tb\r\n\r\n"_s;
    const QString servers = u"\r\n------\r\nName: €\r\nPassword: x"_s;
    setList("txtfriends", friends);
    setList("txtserver", servers);
    for (int round = 0; round < 3; ++round) {
        w->trigger("mnusave");
        w->trigger("mnuopen");
        QCOMPARE(w->list("txtfriends"), friends);
        QCOMPARE(w->list("txtserver"), servers);
    }
    // The friends list needed UTF-8; the server list still fits in single bytes.
    QCOMPARE(read(path(List::Friends)), (friends + u"\r\n"_s).toUtf8());
    QCOMPARE(read(path(List::Servers)), QByteArray("\r\n------\r\nName: \x80\r\nPassword: x\r\n"));
}

void TestListCommands::openReplacesAndAddFollowsWithoutBlankLine()
{
    write(path(List::Servers), "------\r\nName: s\r\n");
    write(path(List::Friends), "------\r\nName: x\r\n");
    setList("txtfriends", u"to be replaced"_s);
    w->messages->answers << Choice::Replace;
    w->trigger("mnuopen");
    // What the box shows is drawn anew, all of it.
    QWidget *shown = w->find<QPlainTextEdit>("txtfriends")->viewport();
    QCoreApplication::processEvents();
    PaintedRegion painted;
    shown->installEventFilter(&painted);
    w->trigger("mnuopen");
    QTRY_COMPARE(painted.region, QRegion(shown->rect()));
    QCOMPARE(w->list("txtfriends"), u"------\r\nName: x"_s);
    QCOMPARE(w->list("txtserver"), u"------\r\nName: s"_s);
    w->click("cmd1");
    QVERIFY(w->list("txtfriends").startsWith(u"------\r\nName: x\r\n------\r\nName: \r\n"_s));
    // Open shows nothing and leaves the panels and the tabs alone.
    QCOMPARE(w->messages->shown.size(), 1);
    QCOMPARE(w->find<QTabWidget>("SSTab1")->currentIndex(), 0);
}

void TestListCommands::oldSingleByteFilesOpenAndSaveBack()
{
    const QByteArray old = "------\r\nName: \x80\xA0\xE9\r\n\r\n\r\n\r\n";
    write(path(List::Servers), old);
    write(path(List::Friends), old);
    w->trigger("mnuopen");
    QCOMPARE(w->list("txtfriends"), u"------\r\nName: €\u00a0é\r\n\r\n\r\n"_s);
    w->trigger("mnusave");
    QCOMPARE(read(path(List::Friends)), old);
    QCOMPARE(read(path(List::Servers)), old);
}

void TestListCommands::filesOpenAndSaveBackWithoutLoss_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("list");
    // What a screen reader hears: the records each list holds, counted by their separator lines.
    QTest::addColumn<QString>("records");

    // Lone CR and LF become line breaks; NUL and invalid UTF-8 are kept as characters.
    QTest::newRow("bad bytes") << QByteArray("a\rb\nc\0d\xFF", 8) << u"a\r\nb\r\nc\0d\u00ff"_s
                               << u"0 friends and 0 servers"_s;
    QTest::newRow("empty") << QByteArray() << QString() << u"0 friends and 0 servers"_s;
    QTest::newRow("line separators")
            << QByteArray("a\xE2\x80\xA8\r\n------\r\n\xE2\x80\xA8x\r\n")
            << u"a\u2028\r\n------\r\n\u2028x"_s << u"1 friend and 1 server"_s;
    QTest::newRow("breaks at record edges")
            << QByteArray("------\r\n\r\n------\r\n------\r\n\r\n\r\nx\n\r\n")
            << u"------\r\n\r\n------\r\n------\r\n\r\n\r\nx\r\n"_s << u"3 friends and 3 servers"_s;
    QString lines;
    for (int i = 0; i < 1000; ++i)
        lines += i % 2 ? u"------ %1\r\n"_s.arg(i) : u"x------\r\n"_s;
    QTest::newRow("no records") << (lines + u"\r\n"_s).toLatin1() << lines
                                << u"0 friends and 0 servers"_s;
    // Text is read and set 64 KiB at a time: a CR LF, a "------" line and a lone CR at the edges.
    QByteArray pieces = QByteArray("line\r\n").repeated(3 * 65536 / 6 + 2);
    pieces.replace(65535, 2, "\r\n");
    pieces.replace(131068, 8, "\n------\r");
    pieces.replace(196607, 1, "\r");
    QString list = QString::fromLatin1(pieces);
    QTest::newRow("breaks across pieces")
            << pieces + "\r\n"
            << list.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n').replace(u"\n"_s, u"\r\n"_s)
            << u"1 friend and 1 server"_s;
}

void TestListCommands::filesOpenAndSaveBackWithoutLoss()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, list);
    QFETCH(QString, records);
    // The file as Save writes it: lone line breaks widened, and ending in CR LF.
    QByteArray saved = file;
    saved.replace("\r\n", "\n").replace('\r', '\n').replace("\n", "\r\n");
    if (!file.endsWith("\r\n"))
        saved += "\r\n";
    // Each list opened over one of the other kind: one Open leaves nothing to the next.
    const QByteArray other = file.contains("\xE2\x80\xA8") ? "a\r\nb"
                                                           : "a\xE2\x80\xA8"
                                                             "b";
    write(path(List::Servers), other);
    write(path(List::Friends), other);
    w->trigger("mnuopen");
    write(path(List::Servers), file);
    write(path(List::Friends), file);
    auto *friends = w->find<QPlainTextEdit>("txtfriends");
    for (int round = 0; round < 2; ++round) {
        w->trigger("mnuopen");
        // Typed and taken back: nothing to ask about when opening again.
        w->typeAtEnd("txtfriends", u"x"_s);
        QTest::keyClick(friends, Qt::Key_Backspace);
        w->trigger("mnuopen");
        QVERIFY(w->messages->shown.isEmpty());
        QCOMPARE(w->list("txtserver"), list);
        QCOMPARE(w->list("txtfriends"), list);
        QCOMPARE(w->messages->announced.last(), u"Opened the lists: %1."_s.arg(records));
        // The scroll bar reaches every line before anything is laid out.
        const QScrollBar *bar = friends->verticalScrollBar();
        QCOMPARE(bar->maximum() + bar->pageStep(),
                 list.count(u"\r\n"_s) + list.count(QChar::LineSeparator) + 1);
        w->trigger("mnusave");
        QCOMPARE(read(path(List::Servers)), saved);
        QCOMPARE(read(path(List::Friends)), saved);
        w->messages->shown.clear();
    }
    // An opened list takes a record after its last line as any other list does.
    w->click("cmd1");
    QVERIFY(w->list("txtfriends").startsWith(list + u"\r\n------\r\nName: \r\n"_s));
}

void TestListCommands::editingAnOpenedList()
{
    write(path(List::Servers), "\r\n");
    write(path(List::Friends), "------\r\nName: x\r\nAim: y\r\n------\r\nName: z\r\n");
    w->trigger("mnuopen");
    auto *friends = w->find<QPlainTextEdit>("txtfriends");
    // Open is not undone, and leaves the cursor at the start.
    QCOMPARE(friends->textCursor().position(), 0);
    friends->undo();
    const QString opened = u"------\r\nName: x\r\nAim: y\r\n------\r\nName: z"_s;
    QCOMPARE(w->list("txtfriends"), opened);

    // Backspace and Delete across line breaks inside a record and between records.
    friends->setFocus();
    for (int i = 0; i < 2; ++i)
        QTest::keyClick(friends, Qt::Key_Down);
    QTest::keyClick(friends, Qt::Key_Backspace);
    QCOMPARE(w->list("txtfriends"), u"------\r\nName: xAim: y\r\n------\r\nName: z"_s);
    QTest::keyClick(friends, Qt::Key_End);
    QTest::keyClick(friends, Qt::Key_Delete);
    QCOMPARE(w->list("txtfriends"), u"------\r\nName: xAim: y------\r\nName: z"_s);
    QTest::keyClick(friends, Qt::Key_Return);
    QTest::keyClicks(friends, u"new"_s);
    QCOMPARE(w->list("txtfriends"), u"------\r\nName: xAim: y\r\nnew------\r\nName: z"_s);
    // Each line break copies as one.
    friends->selectAll();
    friends->copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), u"------\nName: xAim: y\nnew------\nName: z"_s);
    while (friends->document()->isUndoAvailable())
        friends->undo();
    QCOMPARE(w->list("txtfriends"), opened);
    friends->redo();
    QCOMPARE(w->list("txtfriends"), u"------\r\nName: xAim: y\r\n------\r\nName: z"_s);
}

void TestListCommands::createWritesMissingFilesOnly()
{
    write(path(List::Friends), "my friends\r\n");
    w->type("txtname", u"typed"_s);
    w->trigger("mnucreate");
    QCOMPARE(read(path(List::Servers)), QByteArray("Text1\r\n"));
    QCOMPARE(read(path(List::Friends)), QByteArray("my friends\r\n"));
    QCOMPARE(w->messages->shown.size(), 2);
    QCOMPARE(w->messages->shown[0].title, u"Setting Up"_s);
    QCOMPARE(w->messages->shown[0].text,
             u"This will create all the files you need to run this program. They are kept in the "
             "folder\n"_s
                     + QDir::toNativeSeparators(ListFiles::folder()));
    QCOMPARE(w->messages->shown[1].text, u"File Saved!"_s);
    // No control changes.
    QCOMPARE(w->find<QLineEdit>("txtname")->text(), u"typed"_s);
    QVERIFY(w->list("txtfriends").isEmpty());
    QCOMPARE(w->find<QLineEdit>("txt1")->text(), u"Text1"_s);

    QFile::remove(path(List::Friends));
    w->trigger("mnucreate");
    w->trigger("mnuopen");
    QCOMPARE(w->list("txtfriends"), u"Text1"_s);
    QCOMPARE(w->list("txtserver"), u"Text1"_s);
}

void TestListCommands::createWhenBothExist()
{
    setList("txtfriends", u"saved friends"_s);
    w->trigger("mnusave");
    w->messages->shown.clear();
    w->trigger("mnucreate");
    QCOMPARE(read(path(List::Friends)), QByteArray("saved friends\r\n"));
    QCOMPARE(read(path(List::Servers)), QByteArray("\r\n"));
    QCOMPARE(w->messages->shown.size(), 2);
    QCOMPARE(w->messages->shown[1].kind, Kind::Information);
    QCOMPARE(w->messages->shown[1].title, u"Setting Up"_s);
    QVERIFY(w->messages->shown[1].text.contains(u"already exist"_s));

    // Something else standing there is named, not taken for a list file.
    QVERIFY(QFile::remove(path(List::Friends)));
    QVERIFY(QDir().mkdir(path(List::Friends)));
    w->trigger("mnucreate");
    QCOMPARE(w->messages->shown.last().kind, Kind::Error);
    QVERIFY2(w->messages->shown.last().text.contains(u"A folder stands"_s),
             qPrintable(w->messages->shown.last().text));
}

void TestListCommands::unusableFolder()
{
    TestFiles::blockDataFolder(*m_home);
    setList("txtfriends", u"precious"_s);

    w->trigger("mnusave");
    QCOMPARE(w->messages->shown.size(), 1);
    QCOMPARE(w->messages->shown[0].kind, Kind::Error);
    QVERIFY(w->messages->shown[0].text.contains(QDir::toNativeSeparators(path(List::Servers))));
    QVERIFY(w->messages->shown[0].busy);
    QVERIFY(!QGuiApplication::overrideCursor());

    w->trigger("mnucreate");
    QCOMPARE(w->messages->shown.size(), 3);
    QCOMPARE(w->messages->shown[1].title, u"Setting Up"_s);
    QCOMPARE(w->messages->shown[2].kind, Kind::Error);
    QCOMPARE(w->list("txtfriends"), u"precious"_s);

    // Not a first run, and Create would not help: an error without the hint.
    w->messages->answers << Choice::Replace;
    w->trigger("mnuopen");
    QCOMPARE(w->messages->shown.last().kind, Kind::Error);
    QVERIFY(!w->messages->shown.last().text.contains(u"Create Nesacary Items"_s));
    QCOMPARE(w->list("txtfriends"), u"precious"_s);
}

void TestListCommands::openWithMissingFiles()
{
    setList("txtserver", u"servers on screen"_s);
    setList("txtfriends", u"friends on screen"_s);
    // A first run is not an error, and there is nothing to ask about replacing.
    w->trigger("mnuopen");
    QCOMPARE(w->messages->shown.size(), 1);
    const auto &firstRun = w->messages->shown[0];
    QCOMPARE(firstRun.kind, Kind::Information);
    QVERIFY(firstRun.text.contains(QDir::toNativeSeparators(ListFiles::folder())));
    QVERIFY(firstRun.text.contains(u"File, Save"_s));
    QVERIFY(firstRun.text.contains(u"Create Nesacary Items"_s));
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(w->list("txtserver"), u"servers on screen"_s);
    QCOMPARE(w->list("txtfriends"), u"friends on screen"_s);

    // Only the friends file missing: the server list is replaced, the friends list stays.
    w->messages->answers << Choice::Replace << Choice::Replace;
    write(path(List::Servers), "from file\r\n");
    w->trigger("mnuopen");
    QCOMPARE(w->list("txtserver"), u"from file"_s);
    QCOMPARE(w->list("txtfriends"), u"friends on screen"_s);
    QCOMPARE(w->messages->shown.last().kind, Kind::Error);
    QVERIFY(w->messages->shown.last().text.contains(QDir::toNativeSeparators(path(List::Friends))));
    QVERIFY(w->messages->shown.last().text.contains(u"Create Nesacary Items"_s));

    // A link to nothing is not a missing file, and Create would not mend it.
    QVERIFY(QFile::link(m_home->filePath(u"gone"_s), path(List::Friends)));
    w->trigger("mnuopen");
    const QString dangling = w->messages->shown.last().text;
    QVERIFY2(dangling.contains(u"link"_s) && !dangling.contains(u"Create Nesacary Items"_s),
             qPrintable(dangling));
}

void TestListCommands::openRefusesListsMemoryCannotHold()
{
    setList("txtserver", u"servers on screen"_s);
    setList("txtfriends", u"friends on screen"_s);
    write(path(List::Servers), "from file\r\n");
    const QByteArray huge = QByteArray("------------------------------\r\n").repeated(800'000);
    write(path(List::Friends), huge);
    w->messages->answers << Choice::Replace << Choice::Replace;
    {
        // Reading the lists and holding them would take more than 64 MB.
        const MemoryLimit limit(64 << 20);
        w->trigger("mnuopen");
    }
    const QString refused = w->messages->shown.last().text;
    QVERIFY2(refused.contains(u"memory"_s)
                     && refused.contains(u"Neither list was opened; the lists on screen are "
                                         "unchanged."_s),
             qPrintable(refused));
    QCOMPARE(w->list("txtserver"), u"servers on screen"_s);
    QCOMPARE(w->list("txtfriends"), u"friends on screen"_s);
    // With the memory back, the same files open.
    w->trigger("mnuopen");
    QCOMPARE(w->list("txtserver"), u"from file"_s);
    QCOMPARE(w->list("txtfriends").size(), huge.size() - 2);
}

void TestListCommands::saveStopsAtFailingFriendsFile()
{
    QDir().mkpath(path(List::Friends)); // a folder where the file should be
    setList("txtserver", u"servers"_s);
    w->messages->answers << Choice::Overwrite; // the folder appeared after the window came up
    w->trigger("mnusave");
    QCOMPARE(read(path(List::Servers)), QByteArray("servers\r\n"));
    QCOMPARE(w->messages->shown.size(), 2);
    QCOMPARE(w->messages->shown[1].kind, Kind::Error);
    QVERIFY(w->messages->shown[1].text.contains(QDir::toNativeSeparators(path(List::Friends))));
    QVERIFY(w->messages->shown[1].text.contains(u"A folder stands"_s));

    // The message names the list that failed and says what became of each.
    QDir().rmdir(path(List::Friends));
    for (const bool existed : {false, true}) {
        if (existed) {
            write(path(List::Friends), "friends before\r\n");
            w->messages->answers << Choice::Overwrite; // written behind the window's back
        }
        const ListFiles::SystemCalls real = ListFiles::systemCalls();
        ListFiles::systemCalls().renameat = [](int folder, const char *from, int, const char *to) {
            if (QByteArrayView(to).endsWith("vyfriends.txt")) {
                errno = EIO;
                return -1;
            }
            return ::renameat(folder, from, folder, to);
        };
        w->trigger("mnusave");
        ListFiles::systemCalls() = real;
        const QString text = w->messages->shown.last().text;
        QVERIFY2(text.startsWith(u"Could not save the friends list to"_s), qPrintable(text));
        QVERIFY2(text.contains(u"The server list was saved. The friends list was not"_s),
                 qPrintable(text));
        QVERIFY2(text.contains(existed ? u"Its file keeps what it held before."_s
                                       : u"Its file does not exist yet."_s),
                 qPrintable(text));
        QVERIFY(!text.contains(u"unchanged, and the file keeps"_s));
        QCOMPARE(read(path(List::Friends)),
                 existed ? QByteArray("friends before\r\n") : QByteArray("(missing)"));
    }
}

// Lines of a list file, \a bytes of them or about.
static QByteArray someList(const char *record, int bytes)
{
    QByteArray list;
    for (int i = 0; list.size() < bytes; ++i)
        list += "------\r\nName: " + QByteArray(record) + QByteArray::number(i) + "\r\nAim: a\r\n";
    return list;
}

// Reading a list file 4 KiB at a time, counting the bytes: Open goes in many small steps.
static qint64 bytesRead = 0;
static ssize_t readSlowly(int fd, void *data, size_t size)
{
    const ssize_t got = ::read(fd, data, std::min(size, size_t(4096)));
    bytesRead += std::max(got, ssize_t(0));
    return got;
}

void TestListCommands::openStoppedHalfWayChangesNothing_data()
{
    QTest::addColumn<QString>("at"); // where Cancel is pressed: list and step
    QTest::newRow("reading the server list") << u"servers read"_s;
    QTest::newRow("building the server list") << u"servers built"_s;
    QTest::newRow("reading the friends list") << u"friends read"_s;
    QTest::newRow("building the friends list") << u"friends built"_s;
    QTest::newRow("at the last step") << u"last"_s;
    QTest::newRow("not at all") << QString();
}

void TestListCommands::openStoppedHalfWayChangesNothing()
{
    QFETCH(QString, at);
    // Large enough to be built in several pieces, small enough to be no burden.
    const QByteArray servers = someList("s", 20'000);
    const QByteArray friends = someList("f", 150'000);
    write(path(List::Servers), servers + "\r\n");
    write(path(List::Friends), friends + "\r\n");
    const ListFiles::SystemCalls real = ListFiles::systemCalls();
    ListFiles::systemCalls().read = readSlowly;
    const auto restore = qScopeGuard([real] { ListFiles::systemCalls() = real; });
    w->trigger("mnuopen");
    const int steps = w->messages->advances;
    QCOMPARE(w->messages->progressTexts,
             (QStringList{u"Opening the server list…"_s, u"Opening the friends list…"_s}));

    // Unsaved changes, undo steps and fields that Open must leave as they are when stopped.
    w->typeAtEnd("txtfriends", u"typed"_s);
    setList("txtserver", u"servers typed"_s);
    w->type("txtname", u"Ann"_s);
    const QString friendsBefore = w->list("txtfriends");
    auto *friendsBox = w->find<QPlainTextEdit>("txtfriends");
    w->messages->shown.clear();
    w->messages->progressTexts.clear();
    w->messages->answers << Choice::Replace;
    // The step at which Cancel is pressed: the bytes read so far tell reading from building.
    const qint64 both = servers.size() + friends.size() + 4;
    bytesRead = 0;
    int step = 0;
    int atWholeFile = 0; // steps since the file was read whole; the first is the read itself
    w->messages->pressCancel = [&] {
        ++step;
        const qint64 file = bytesRead <= servers.size() + 2 ? servers.size() + 2 : both;
        atWholeFile = bytesRead == file ? atWholeFile + 1 : 0;
        if (at == u"servers read"_s)
            return step == 1;
        if (at == u"servers built"_s)
            return file != both && atWholeFile == 2;
        if (at == u"friends read"_s)
            return file == both && bytesRead < both;
        if (at == u"friends built"_s)
            return file == both && atWholeFile == 2;
        return at == u"last"_s && step == steps;
    };
    w->trigger("mnuopen");
    w->messages->pressCancel = {};
    QCOMPARE(w->messages->shown.size(), 1); // only the question about replacing unsaved lists

    if (at.isEmpty()) {
        QCOMPARE(w->list("txtserver"), QString::fromLatin1(servers));
        QCOMPARE(w->list("txtfriends"), QString::fromLatin1(friends));
        QVERIFY(!w->window->isWindowModified());
        QVERIFY(w->messages->announced.last().startsWith(u"Opened the lists"_s));
        return;
    }
    QCOMPARE(w->messages->progressTexts.size(), at.startsWith(u"servers"_s) ? 1 : 2);
    QCOMPARE(w->list("txtserver"), u"servers typed"_s);
    QCOMPARE(w->list("txtfriends"), friendsBefore);
    QCOMPARE(w->find<QLineEdit>("txtname")->text(), u"Ann"_s);
    QVERIFY(w->window->isWindowModified());
    QCOMPARE(w->messages->announced.last(), u"Open was cancelled. The lists are as they were."_s);
    // The very list that was there, undo steps and all.
    friendsBox->undo();
    QCOMPARE(w->list("txtfriends"), QString::fromLatin1(friends));
    QVERIFY(w->window->isWindowModified()); // the server list still differs
}

void TestListCommands::saveStoppedHalfWayChangesNoFile_data()
{
    QTest::addColumn<QString>("at"); // where Cancel is pressed
    QTest::newRow("writing the server list") << u"servers"_s;
    QTest::newRow("writing the friends list") << u"friends"_s;
    QTest::newRow("at the last step") << u"last"_s;
}

void TestListCommands::saveStoppedHalfWayChangesNoFile()
{
    QFETCH(QString, at);
    setList("txtserver", u"servers"_s);
    setList("txtfriends", QString::fromLatin1(someList("f", 150'000)));
    w->trigger("mnusave");
    const int steps = w->messages->advances;
    QCOMPARE(w->messages->progressTexts,
             (QStringList{u"Saving the server list…"_s, u"Saving the friends list…"_s}));
    const QByteArray servers = read(path(List::Servers));
    const QByteArray friends = read(path(List::Friends));

    w->typeAtEnd("txtserver", u" and more"_s);
    w->typeAtEnd("txtfriends", u"more"_s);
    w->messages->shown.clear();
    int step = 0;
    w->messages->pressCancel = [&] {
        ++step;
        if (at == u"servers"_s)
            return true;
        if (at == u"friends"_s)
            return w->messages->progressTexts.last() == u"Saving the friends list…"_s;
        return step == steps;
    };
    w->trigger("mnusave");
    w->messages->pressCancel = {};
    // Neither file replaced, and nothing left beside them.
    QCOMPARE(read(path(List::Servers)), servers);
    QCOMPARE(read(path(List::Friends)), friends);
    QCOMPARE(QDir(ListFiles::folder()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{u"vyfriends.txt"_s, u"vyserver.txt"_s}));
    QCOMPARE(w->messages->shown.size(), 1);
    QCOMPARE(w->messages->shown[0].kind, Kind::Information);
    QCOMPARE(w->messages->shown[0].title, u"Save"_s);
    QVERIFY2(w->messages->shown[0].text.contains(u"Neither list was saved"_s),
             qPrintable(w->messages->shown[0].text));
    QVERIFY(w->window->isWindowModified());

    // The files are as this window last saved them: saving again asks nothing.
    w->trigger("mnusave");
    QCOMPARE(w->messages->shown.last().text, u"File Saved!"_s);
    QCOMPARE(read(path(List::Servers)), QByteArray("servers and more\r\n"));
    QVERIFY(!w->window->isWindowModified());
}

void TestListCommands::closeAsksOnlyAboutUnsavedChanges()
{
    QVERIFY(w->window->close()); // nothing typed: no question
    QVERIFY(w->messages->shown.isEmpty());

    w->window->show();
    w->click("cmd1");
    w->trigger("mnusave");
    QVERIFY(w->window->close()); // saved
    w->window->show();
    w->trigger("mnuopen");
    QVERIFY(w->window->close()); // just opened
    w->window->show();
    w->typeAtEnd("txtserver", u"x"_s);
    QTest::keyClick(w->find("txtserver"), Qt::Key_Backspace);
    w->type("txtname", u"fields are not lists"_s);
    QVERIFY(w->window->close());            // typed and taken back
    QCOMPARE(w->messages->shown.size(), 1); // "File Saved!" only
}

void TestListCommands::closeAnswers()
{
    w->click("Command1");
    w->messages->answers << Choice::Cancel;
    QVERIFY(!w->window->close());
    QCOMPARE(w->messages->shown.last().kind, Kind::Question);
    QVERIFY(w->messages->shown.last().text.contains(u"server list"_s));
    QCOMPARE(w->messages->shown.last().choices,
             (QList<Choice>{Choice::Save, Choice::Discard, Choice::Cancel}));
    QVERIFY(w->window->isVisible());

    // Save that fails keeps the window open.
    TestFiles::blockDataFolder(*m_home);
    w->messages->answers << Choice::Save;
    QVERIFY(!w->window->close());
    QCOMPARE(w->messages->shown.last().kind, Kind::Error);
    QVERIFY(w->messages->shown.last().busy);
    QVERIFY(!w->messages->shown[w->messages->shown.size() - 2].busy);
    QVERIFY(!QGuiApplication::overrideCursor());

    qputenv("XDG_DATA_HOME", m_home->path().toLocal8Bit());
    w->messages->answers << Choice::Save;
    QVERIFY(w->window->close());
    QVERIFY(read(path(List::Servers)).startsWith("\r\n------\r\nName: "));

    w->window->show();
    w->click("cmd1");
    w->messages->answers << Choice::Discard;
    QVERIFY(w->window->close());
    QCOMPARE(read(path(List::Friends)), QByteArray("\r\n"));
}

void TestListCommands::openAsksBeforeReplacingUnsavedLists()
{
    write(path(List::Servers), "S\r\n");
    write(path(List::Friends), "F\r\n");
    w->click("cmd1");
    w->messages->answers << Choice::Cancel;
    w->trigger("mnuopen");
    QCOMPARE(w->messages->shown.size(), 1);
    QCOMPARE(w->messages->shown[0].choices, (QList<Choice>{Choice::Replace, Choice::Cancel}));
    QVERIFY(w->list("txtfriends").startsWith(u"\r\n------"_s));

    w->messages->answers << Choice::Replace;
    w->trigger("mnuopen");
    QCOMPARE(w->list("txtfriends"), u"F"_s);
    QCOMPARE(w->list("txtserver"), u"S"_s);
    QCOMPARE(w->messages->shown.size(), 2);
}

// Another program at work on a list file; each way but the first two changes just one thing
// the window can notice: the time (to the nanosecond), the size, the file itself, or only the
// change time, as cp -p or rsync -t leave a file that they rewrite.
void TestListCommands::changeOutside(const QString &path, const QString &how)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat before = {};
    ::stat(name.constData(), &before);
    const auto setTime = [](const QByteArray &file, timespec modified) {
        const timespec times[] = {{0, UTIME_OMIT}, modified};
        QCOMPARE(::utimensat(AT_FDCWD, file.constData(), times, 0), 0);
    };
    const QByteArray sameSize(before.st_size, 't');
    if (how == u"created") {
        write(path, "theirs\r\n");
    } else if (how == u"deleted") {
        QVERIFY(QFile::remove(path));
    } else if (how == u"rewritten" || how == u"time put back") {
        write(path, sameSize);
        timespec modified = before.st_mtim;
        modified.tv_nsec ^= how == u"rewritten" ? 1 : 0; // stays a valid count of nanoseconds
        setTime(name, modified);
        // The clock may not have moved on since the window looked.
        for (struct stat now = {}; ::stat(name.constData(), &now) == 0
             && now.st_ctim.tv_sec == before.st_ctim.tv_sec
             && now.st_ctim.tv_nsec == before.st_ctim.tv_nsec;)
            setTime(name, modified);
    } else if (how == u"grown") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write("+");
        file.close();
        setTime(name, before.st_mtim);
    } else if (how == u"replaced") {
        const QByteArray next = name + ".new";
        write(QFile::decodeName(next), sameSize);
        setTime(next, before.st_mtim);
        QCOMPARE(std::rename(next.constData(), name.constData()), 0);
    }
}

void TestListCommands::saveAsksBeforeOverwritingChangesFromOutside_data()
{
    QTest::addColumn<bool>("filesAtStart");
    QTest::addColumn<QStringList>("before"); // this window's own commands
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("servers");
    QTest::addColumn<bool>("friends");
    QTest::addColumn<bool>("byClosing");
    QTest::addColumn<bool>("againWhileAsked"); // the other file changes while the question is up

    const QStringList open{u"mnuopen"_s};
    const QStringList save{u"mnusave"_s};
    QTest::newRow("first run") << false << QStringList() << QString() << false << false << false
                               << false;
    QTest::newRow("files there at start")
            << true << QStringList() << QString() << false << false << false << false;
    QTest::newRow("after open") << false << open << QString() << false << false << false << false;
    QTest::newRow("after save") << false << save << QString() << false << false << false << false;
    QTest::newRow("after create") << false << QStringList{u"mnucreate"_s} << QString() << false
                                  << false << false << false;
    // Written, but the system did not confirm that they are stored.
    QTest::newRow("after an unconfirmed save") << false << QStringList{u"mnusave unconfirmed"_s}
                                               << QString() << false << false << false << false;
    QTest::newRow("after an unconfirmed create") << false << QStringList{u"mnucreate unconfirmed"_s}
                                                 << QString() << false << false << false << false;
    QTest::newRow("after create and open") << false << QStringList{u"mnucreate"_s, u"mnuopen"_s}
                                           << QString() << false << false << false << false;
    QTest::newRow("server file rewritten")
            << false << open << u"rewritten"_s << true << false << false << false;
    QTest::newRow("friends file rewritten")
            << false << open << u"rewritten"_s << false << true << false << false;
    QTest::newRow("server file rewritten, time put back")
            << false << open << u"time put back"_s << true << false << false << false;
    QTest::newRow("server file replaced")
            << false << open << u"replaced"_s << true << false << false << false;
    QTest::newRow("friends file grown")
            << false << open << u"grown"_s << false << true << false << false;
    QTest::newRow("server file created")
            << false << QStringList() << u"created"_s << true << false << false << false;
    QTest::newRow("friends file deleted")
            << false << open << u"deleted"_s << false << true << false << false;
    QTest::newRow("both files rewritten after save")
            << false << save << u"rewritten"_s << true << true << false << false;
    QTest::newRow("friends file rewritten, closing")
            << false << open << u"rewritten"_s << false << true << true << false;
    QTest::newRow("server file deleted, closing")
            << false << open << u"deleted"_s << true << false << true << false;
    QTest::newRow("friends file changes while asked about the server file")
            << false << open << u"rewritten"_s << true << false << false << true;
}

void TestListCommands::saveAsksBeforeOverwritingChangesFromOutside()
{
    QFETCH(bool, filesAtStart);
    QFETCH(QStringList, before);
    QFETCH(QString, change);
    QFETCH(bool, servers);
    QFETCH(bool, friends);
    QFETCH(bool, byClosing);
    QFETCH(bool, againWhileAsked);

    // Files there before the window came up, or (for Open) only after.
    if (filesAtStart || before.value(0) == u"mnuopen"_s) {
        write(path(List::Servers), "old servers\r\n");
        write(path(List::Friends), "old friends\r\n");
    }
    if (filesAtStart) {
        w = std::make_unique<WindowFixture>();
        w->window->show();
    }
    for (const QString &command : before) {
        // Written, but the system does not confirm that the folder is stored.
        const bool unconfirmed = command.endsWith(u" unconfirmed"_s);
        if (unconfirmed)
            ListFiles::systemCalls().fsync = [](int) { return errno = EIO, -1; };
        w->trigger(command.section(u' ', 0, 0).toLatin1().constData());
        ListFiles::systemCalls().fsync = ::fsync;
        // Said of each list file as it is, and not "File Saved!".
        qsizetype said = 0;
        for (const auto &shown : std::as_const(w->messages->shown))
            said += shown.text.contains(u"did not confirm"_s) && !shown.text.contains(u"Could"_s);
        QCOMPARE(said, unconfirmed ? 2 : 0);
        QVERIFY(!unconfirmed || w->messages->shown.last().text != u"File Saved!"_s);
    }
    setList("txtserver", u"my servers"_s);
    setList("txtfriends", u"my friends"_s);
    const QByteArray myServers = "my servers\r\n";
    const QByteArray myFriends = "my friends\r\n";
    if (servers)
        changeOutside(path(List::Servers), change);
    if (friends)
        changeOutside(path(List::Friends), change);
    if (QTest::currentTestFailed())
        return;
    w->messages->shown.clear();

    // Save from the menu, or as the answer to the close question.
    const auto saveNow = [&] {
        if (!byClosing) {
            w->trigger("mnusave");
            return;
        }
        w->messages->answers.prepend(Choice::Save);
        w->window->show();
        const bool closed = w->window->close();
        QCOMPARE(closed, w->messages->shown.last().text == u"File Saved!"_s);
    };
    const auto nativePath = [this](List list) { return QDir::toNativeSeparators(path(list)); };

    if (!change.isEmpty()) {
        if (againWhileAsked) {
            w->messages->answers << Choice::Overwrite << Choice::Cancel;
            w->messages->whileAsking = [this] { changeOutside(path(List::Friends), u"grown"_s); };
        } else {
            w->messages->answers << Choice::Cancel;
        }
        saveNow();
        QList<RecordingMessages::Shown> questions;
        for (const auto &shown : std::as_const(w->messages->shown)) {
            QVERIFY(shown.text != u"File Saved!"_s);
            if (shown.kind == Kind::Question && shown.title == u"Save"_s)
                questions << shown;
        }
        QCOMPARE(questions.size(), againWhileAsked ? 2 : 1);
        const QString &asked = questions[0].text;
        QCOMPARE(questions[0].choices, (QList<Choice>{Choice::Overwrite, Choice::Cancel}));
        const bool namedAsIs = change == u"created"_s || change == u"deleted"_s;
        QVERIFY2(asked.contains(u"was "_s + (namedAsIs ? change : u"changed"_s)),
                 qPrintable(asked));
        QCOMPARE(asked.contains(u"server list file"_s), servers);
        QCOMPARE(asked.contains(nativePath(List::Servers)), servers);
        QCOMPARE(asked.contains(u"friends list file"_s), friends);
        QCOMPARE(asked.contains(nativePath(List::Friends)), friends);
        if (againWhileAsked) {
            QVERIFY(questions[1].text.contains(u"friends list file was changed"_s));
            QVERIFY(!questions[1].text.contains(u"server list"_s));
        }
        // Cancel writes neither file, and a close waiting on the Save does not happen.
        QVERIFY(read(path(List::Servers)) != myServers);
        QVERIFY(read(path(List::Friends)) != myFriends);
        QVERIFY(w->window->isVisible());

        w->messages->shown.clear();
        w->messages->answers << Choice::Overwrite;
        saveNow();
        QCOMPARE(w->messages->shown.size(), byClosing ? 3 : 2);
        QCOMPARE(w->messages->shown.last().text, u"File Saved!"_s);
        QCOMPARE(w->window->isVisible(), !byClosing);
        w->messages->shown.clear();
    }

    // Right after this window's own Save there is nothing to ask.
    for (int round = 0; round < 2; ++round) {
        w->trigger("mnusave");
        QCOMPARE(read(path(List::Servers)), myServers);
        QCOMPARE(read(path(List::Friends)), myFriends);
    }
    QCOMPARE(w->messages->shown.size(), 2);
    for (const auto &shown : std::as_const(w->messages->shown))
        QCOMPARE(shown.text, u"File Saved!"_s);
}

void TestListCommands::titleMarksUnsavedLists()
{
    // What the desktop shows: the mark stands for "[*]" while a list differs from its file.
    const auto title = [this] { return w->window->windowHandle()->title(); };
    QCOMPARE(title(), u"Vonnerby"_s);
    w->click("cmd1");
    QCOMPARE(title(), u"Vonnerby*"_s);
    w->find<QPlainTextEdit>("txtfriends")->undo();
    QCOMPARE(title(), u"Vonnerby"_s);

    w->typeAtEnd("txtserver", u"x"_s);
    w->click("cmd1");
    w->find<QPlainTextEdit>("txtfriends")->undo();
    QCOMPARE(title(), u"Vonnerby*"_s); // the server list still differs
    w->trigger("mnusave");
    QCOMPARE(title(), u"Vonnerby"_s);

    w->click("Command1");
    w->messages->answers << Choice::Replace;
    w->trigger("mnuopen");
    QCOMPARE(title(), u"Vonnerby"_s);

    // A Save that fails leaves the mark.
    w->click("cmd1");
    TestFiles::blockDataFolder(*m_home);
    w->trigger("mnusave");
    QCOMPARE(title(), u"Vonnerby*"_s);
    w->messages->answers << Choice::Discard;
}

QTEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
