#include "listfiles.h"
#include "windowfixture.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;
using Kind = RecordingMessages::Kind;
using ListFiles::List;

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
    void saveStopsAtFailingFriendsFile();
    void closeAsksOnlyAboutUnsavedChanges();
    void closeAnswers();
    void openAsksBeforeReplacingUnsavedLists();

private:
    QString path(List list) const { return ListFiles::path(list); }
    static QByteArray read(const QString &path);
    static void write(const QString &path, const QByteArray &bytes);
    void setList(const char *box, const QString &text) const;

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

QByteArray TestListCommands::read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void TestListCommands::write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
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
    w->trigger("mnuopen");
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

    // Lone CR and LF become line breaks; NUL and invalid UTF-8 are kept as characters.
    QTest::newRow("bad bytes") << QByteArray("a\rb\nc\0d\xFF", 8) << u"a\r\nb\r\nc\0d\u00ff"_s;
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("line separators") << QByteArray("a\xE2\x80\xA8\r\n------\r\n\xE2\x80\xA8x\r\n")
                                     << u"a\u2028\r\n------\r\n\u2028x"_s;
    QTest::newRow("breaks at record edges")
            << QByteArray("------\r\n\r\n------\r\n------\r\n\r\n\r\nx\n\r\n")
            << u"------\r\n\r\n------\r\n------\r\n\r\n\r\nx\r\n"_s;
    QString lines;
    for (int i = 0; i < 1000; ++i)
        lines += u"line %1\r\n"_s.arg(i);
    QTest::newRow("no records") << (lines + u"\r\n"_s).toLatin1() << lines;
}

void TestListCommands::filesOpenAndSaveBackWithoutLoss()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, list);
    // The file as Save writes it: lone line breaks widened, and ending in CR LF.
    QByteArray saved = file;
    saved.replace("\r\n", "\n").replace('\r', '\n').replace("\n", "\r\n");
    if (!file.endsWith("\r\n"))
        saved += "\r\n";
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
             u"This will create all the files you need to run this program. Make sure you have "
             "a c:/"_s);
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
}

void TestListCommands::unusableFolder()
{
    write(m_home->filePath(u"file"_s), "x");
    qputenv("XDG_DATA_HOME", m_home->filePath(u"file"_s).toLocal8Bit());
    setList("txtfriends", u"precious"_s);

    w->trigger("mnusave");
    QCOMPARE(w->messages->shown.size(), 1);
    QCOMPARE(w->messages->shown[0].kind, Kind::Error);
    QVERIFY(w->messages->shown[0].text.contains(QDir::toNativeSeparators(path(List::Servers))));

    w->trigger("mnucreate");
    QCOMPARE(w->messages->shown.size(), 3);
    QCOMPARE(w->messages->shown[1].title, u"Setting Up"_s);
    QCOMPARE(w->messages->shown[2].kind, Kind::Error);
    QCOMPARE(w->list("txtfriends"), u"precious"_s);
}

void TestListCommands::openWithMissingFiles()
{
    setList("txtserver", u"servers on screen"_s);
    setList("txtfriends", u"friends on screen"_s);
    w->messages->answers << Choice::Replace << Choice::Replace;
    w->trigger("mnuopen");
    QCOMPARE(w->messages->shown.size(), 2);
    const auto &error = w->messages->shown[1];
    QCOMPARE(error.kind, Kind::Error);
    QVERIFY(error.text.contains(QDir::toNativeSeparators(path(List::Servers))));
    QVERIFY(error.text.contains(u"Create Nesacary Items"_s));
    QCOMPARE(w->list("txtserver"), u"servers on screen"_s);
    QCOMPARE(w->list("txtfriends"), u"friends on screen"_s);

    // Only the friends file missing: the server list is replaced, the friends list stays.
    write(path(List::Servers), "from file\r\n");
    w->trigger("mnuopen");
    QCOMPARE(w->list("txtserver"), u"from file"_s);
    QCOMPARE(w->list("txtfriends"), u"friends on screen"_s);
    QVERIFY(w->messages->shown.last().text.contains(QDir::toNativeSeparators(path(List::Friends))));
}

void TestListCommands::saveStopsAtFailingFriendsFile()
{
    QDir().mkpath(path(List::Friends)); // a folder where the file should be
    setList("txtserver", u"servers"_s);
    w->trigger("mnusave");
    QCOMPARE(read(path(List::Servers)), QByteArray("servers\r\n"));
    QCOMPARE(w->messages->shown.size(), 1);
    QCOMPARE(w->messages->shown[0].kind, Kind::Error);
    QVERIFY(w->messages->shown[0].text.contains(QDir::toNativeSeparators(path(List::Friends))));
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
    write(m_home->filePath(u"file"_s), "x");
    qputenv("XDG_DATA_HOME", m_home->filePath(u"file"_s).toLocal8Bit());
    w->messages->answers << Choice::Save;
    QVERIFY(!w->window->close());
    QCOMPARE(w->messages->shown.last().kind, Kind::Error);

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

QTEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
