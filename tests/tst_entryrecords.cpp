#include "windowfixture.h"

#include <QApplication>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBlock>

using namespace Qt::Literals::StringLiterals;

namespace {

const char *const FriendFields[] = {"txtname",  "txtaim",   "txtyim",     "txtmsn",
                                    "txtemail", "txtclan",  "txtwebsite", "txtxbl",
                                    "txtxbc",   "txtxfire", "txtgames",   "txtcomments"};

QString emptyFriend()
{
    return u"\r\n------\r\nName: \r\nAim: \r\nYIM: \r\nMSN: \r\nEmail: \r\nClan: \r\nWebsite: "
           "\r\nXbl: \r\nXbc: \r\nXfire: \r\nGames Friend has: \r\nComments: "_s;
}

} // namespace

class TestEntryRecords : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void addFriendToEmptyList();
    void addFriendWithEmptyFields();
    void addFriendTwiceAndAfterHandTypedText();
    void addFriendKeepsExactCharacters();
    void addIsOneUndoStep_data();
    void addIsOneUndoStep();
    void addBringsTheRecordIntoView();
    void addServer_data();
    void addServer();
    void addServerAfterEarlierRecords();
    void newClearsEveryFieldAndNothingElse();

private:
    std::unique_ptr<WindowFixture> w;
};

void TestEntryRecords::init()
{
    w = std::make_unique<WindowFixture>();
    w->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(w->window.get()));
}

void TestEntryRecords::cleanup()
{
    w.reset();
}

void TestEntryRecords::addFriendToEmptyList()
{
    int n = 0;
    for (const char *field : FriendFields)
        w->type(field, u"v%1"_s.arg(++n));
    w->type("txtgames", u"\nQuake"_s);
    w->click("cmd1");
    QCOMPARE(w->list("txtfriends"),
             u"\r\n------\r\nName: v1\r\nAim: v2\r\nYIM: v3\r\nMSN: v4\r\nEmail: v5\r\nClan: v6"
             "\r\nWebsite: v7\r\nXbl: v8\r\nXbc: v9\r\nXfire: v10\r\nGames Friend has: v11\r\n"
             "Quake\r\nComments: v12"_s);
    // The panel keeps its values; nothing else changes, and only a screen reader hears of it.
    QCOMPARE(w->find<QLineEdit>("txtname")->text(), u"v1"_s);
    QVERIFY(w->find<QPlainTextEdit>("txtserver")->document()->isEmpty());
    QVERIFY(w->messages->shown.isEmpty());
    QCOMPARE(w->messages->announced, QStringList{u"Added v1 to the friends list."_s});
}

void TestEntryRecords::addFriendWithEmptyFields()
{
    w->click("cmd1");
    QCOMPARE(w->list("txtfriends"), emptyFriend());
    QCOMPARE(w->messages->announced.last(), u"Added a friend with no name to the friends list."_s);
}

void TestEntryRecords::addFriendTwiceAndAfterHandTypedText()
{
    w->typeAtEnd("txtfriends", u"Notes typed by hand"_s);
    w->click("cmd1");
    w->click("cmd1");
    QCOMPARE(w->list("txtfriends"), u"Notes typed by hand"_s + emptyFriend() + emptyFriend());

    // A list ending in a line break gets an empty line before the record.
    w->find<QPlainTextEdit>("txtfriends")->setPlainText(u"old\r\n"_s);
    w->click("cmd1");
    QCOMPARE(w->list("txtfriends"), u"old\r\n"_s + emptyFriend());
}

void TestEntryRecords::addFriendKeepsExactCharacters()
{
    // No-break spaces, markup, tabs and surrounding blanks are the user's and stay as typed.
    const QString name = u" \u00a0<b>Zoë</b> &amp;\t "_s;
    w->find<QLineEdit>("txtname")->setText(name);
    w->find<QPlainTextEdit>("txtcomments")->setPlainText(u"a\u00a0b\r\n\r\n😀"_s);
    w->click("cmd1");
    const QString list = w->list("txtfriends");
    QVERIFY(list.contains(u"\r\nName: "_s + name + u"\r\n"_s));
    QVERIFY(list.endsWith(u"\r\nComments: a\u00a0b\r\n\r\n😀"_s));

    // No length limit: a long paste arrives whole.
    const QString longName(40'000, u'n');
    w->find<QLineEdit>("txtname")->clear();
    w->find<QLineEdit>("txtname")->insert(longName);
    w->click("cmd1");
    QVERIFY(w->list("txtfriends").contains(u"\r\nName: "_s + longName + u"\r\nAim: "_s));
}

void TestEntryRecords::addIsOneUndoStep_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("list");
    QTest::newRow("friend") << u"cmd1"_s << u"txtfriends"_s;
    QTest::newRow("server") << u"Command1"_s << u"txtserver"_s;
}

void TestEntryRecords::addIsOneUndoStep()
{
    QFETCH(QString, button);
    QFETCH(QString, list);
    const QByteArray name = list.toLatin1();
    const QString opened = u"------\r\nmine\r\n"_s;
    Form(*w->window, *w->messages).setText(list, opened);
    auto *box = w->find<QPlainTextEdit>(name.constData());
    box->moveCursor(QTextCursor::Start);
    w->click(button.toLatin1().constData());
    const QString once = w->list(name.constData());
    w->click(button.toLatin1().constData());
    // The user's cursor stays where it was.
    QCOMPARE(box->textCursor().position(), 0);
    box->undo();
    QCOMPARE(w->list(name.constData()), once);
    box->undo();
    QCOMPARE(w->list(name.constData()), opened);
    box->redo();
    QCOMPARE(w->list(name.constData()), once);
}

void TestEntryRecords::addBringsTheRecordIntoView()
{
    auto *tabs = w->find<QTabWidget>("SSTab1");
    // A comment long enough to wrap makes the friend taller than the box; the server fits.
    w->find<QPlainTextEdit>("txtcomments")
            ->setPlainText(u"plays most evenings "_s.repeated(20) + u"END"_s);
    w->find<QPlainTextEdit>("txtnotes")->setPlainText(u"EU"_s);
    w->type("txtname", u"Ann"_s);
    const struct
    {
        const char *button, *list;
        int tab;
        bool fits;
    } adds[] = {{"cmd1", "txtfriends", 0, false}, {"Command1", "txtserver", 1, true}};
    for (const auto &add : adds) {
        auto *box = w->find<QPlainTextEdit>(add.list);
        QStringList lines;
        for (int i = 0; i < 300; ++i)
            lines << u"line %1"_s.arg(i);
        box->setPlainText(lines.join(u'\n'));
        QTextCursor selection(box->document());
        selection.setPosition(7);
        selection.setPosition(12, QTextCursor::KeepAnchor);
        box->setTextCursor(selection);
        tabs->setCurrentIndex(1 - add.tab);

        for (int round = 0; round < 2; ++round) {
            const int start = box->document()->characterCount();
            w->click(add.button);
            QTextCursor first(box->document());
            first.setPosition(start);
            QCOMPARE(tabs->currentIndex(), add.tab);
            // Its first line at the top of a box it overfills, or all of it at the bottom.
            QVERIFY2(box->viewport()->rect().contains(box->cursorRect(first)), add.list);
            QTextCursor end(box->document());
            end.movePosition(QTextCursor::End);
            QCOMPARE(box->viewport()->rect().contains(box->cursorRect(end)), add.fits);
            QCOMPARE(box->cursorRect(first).top() < box->fontMetrics().height(), !add.fits);
            QVERIFY(box->verticalScrollBar()->value() > 0);
            // The user's own cursor and selection, the focus and the fields stay as they were.
            QCOMPARE(box->textCursor().anchor(), 7);
            QCOMPARE(box->textCursor().position(), 12);
            QCOMPARE(QApplication::focusWidget(), w->find(add.button));
            QCOMPARE(w->find<QLineEdit>("txtname")->text(), u"Ann"_s);
        }
    }
}

void TestEntryRecords::addServer_data()
{
    QTest::addColumn<QString>("select");
    QTest::addColumn<QString>("dedicated");
    QTest::newRow("neither") << QString() << QString();
    QTest::newRow("yes") << u"optyes"_s << u"\r\nDedicated: Yes"_s;
    QTest::newRow("no") << u"optno"_s << u"\r\nDedicated: No"_s;
    QTest::newRow("yes then no") << u"optyes optno"_s << u"\r\nDedicated: No"_s;
}

void TestEntryRecords::addServer()
{
    QFETCH(QString, select);
    QFETCH(QString, dedicated);
    w->type("txtsname", u"Frag Box"_s);
    w->type("txtip", u"10.0.0.7:27960"_s);
    w->type("txtpass", u"s3cret"_s);
    w->type("txtnotes", u"EU\nno bots"_s);
    for (const QString &option : select.split(u' ', Qt::SkipEmptyParts))
        w->click(option.toLatin1());
    w->click("Command1");
    QCOMPARE(w->list("txtserver"),
             u"\r\n------\r\nName: Frag Box\r\nIP: 10.0.0.7:27960\r\nPassword: s3cret"_s + dedicated
                     + u"\r\nComments: EU\r\nno bots"_s);
    // The panel, option buttons included, keeps its values; the friends list is untouched.
    QCOMPARE(w->find<QRadioButton>("optyes")->isChecked(), select == u"optyes"_s);
    QCOMPARE(w->find<QLineEdit>("txtpass")->text(), u"s3cret"_s);
    QVERIFY(w->find<QPlainTextEdit>("txtfriends")->document()->isEmpty());
    QVERIFY(w->messages->shown.isEmpty());
    QCOMPARE(w->messages->announced, QStringList{u"Added Frag Box to the server list."_s});
}

void TestEntryRecords::addServerAfterEarlierRecords()
{
    w->click("Command1");
    w->click("optyes");
    w->click("Command1");
    const QString blank = u"\r\n------\r\nName: \r\nIP: \r\nPassword: "_s;
    QCOMPARE(w->list("txtserver"),
             blank + u"\r\nComments: "_s + blank + u"\r\nDedicated: Yes\r\nComments: "_s);
}

void TestEntryRecords::newClearsEveryFieldAndNothingElse()
{
    for (const char *field : FriendFields)
        w->type(field, u"x"_s);
    w->type("txtgames", u"\ny"_s);
    for (const char *field : {"txtsname", "txtip", "txtpass", "txtnotes"})
        w->type(field, u"z"_s);
    w->click("optno");
    w->click("cmd1");
    w->click("Command1");
    w->find<QTabWidget>("SSTab1")->setCurrentIndex(1);
    const QString friends = w->list("txtfriends");
    const QString servers = w->list("txtserver");

    w->trigger("mnunew");

    for (const char *field :
         {"txtname", "txtaim", "txtyim", "txtmsn", "txtemail", "txtclan", "txtwebsite", "txtxbl",
          "txtxbc", "txtxfire", "txtsname", "txtip", "txtpass"})
        QVERIFY2(w->find<QLineEdit>(field)->text().isEmpty(), field);
    for (const char *box : {"txtgames", "txtcomments", "txtnotes"})
        QVERIFY2(w->find<QPlainTextEdit>(box)->document()->isEmpty(), box);
    QVERIFY(!w->find<QRadioButton>("optyes")->isChecked());
    QVERIFY(!w->find<QRadioButton>("optno")->isChecked());
    QCOMPARE(w->list("txtfriends"), friends);
    QCOMPARE(w->list("txtserver"), servers);
    QCOMPARE(w->find<QLineEdit>("txt1")->text(), u"Text1"_s);
    QCOMPARE(w->find<QTabWidget>("SSTab1")->currentIndex(), 1);
    QVERIFY(w->messages->shown.isEmpty());
    QCOMPARE(w->messages->announced.last(),
             u"Cleared every entry field. The lists are unchanged."_s);

    // The next records hold bare prefixes and no "Dedicated" line until an option is chosen.
    w->click("Command1");
    QVERIFY(w->list("txtserver").endsWith(u"\r\nPassword: \r\nComments: "_s));
    w->click("cmd1");
    QVERIFY(w->list("txtfriends").endsWith(emptyFriend()));
    w->click("optyes");
    QVERIFY(w->find<QRadioButton>("optyes")->isChecked());
}

QTEST_MAIN(TestEntryRecords)
#include "tst_entryrecords.moc"
