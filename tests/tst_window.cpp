#include "lineeditaccessible.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextLayout>
#include <QWindow>

#include <limits>

using namespace Qt::Literals::StringLiterals;

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void listBoxesSitInTheirTabs();
    void windowHasFixedClientSize();
    void startState();
    void multiLineBoxes();
    void tabOrder();
    void keys();
    void optionButtonsAreOneGroup();
    void menus();
    void screenReadersHearTheLabels();
    void oneLineFieldsAnswerEveryTextQuery_data();
    void oneLineFieldsAnswerEveryTextQuery();
    void oneLineFieldsReadWordsAndValues();
    void scaledWindowKeepsItsLayout();
    void largerFontScalesTheLayout_data();
    void largerFontScalesTheLayout();

private:
    std::unique_ptr<WindowFixture> w;
};

void TestWindow::initTestCase()
{
    // As the program does, before any window exists.
    LineEditAccessible::install();
}

void TestWindow::init()
{
    w = std::make_unique<WindowFixture>();
    w->window->show();
    QVERIFY(QTest::qWaitForWindowActive(w->window.get()));
}

void TestWindow::cleanup()
{
    w.reset();
}

struct Row
{
    const char *name, *kind, *container, *caption;
    int left, top, width, height;

    QRect pixels() const { return {left / 15, top / 15, width / 15, height / 15}; }
};

// The form's own table, in twips.
constexpr Row FormTable[] = {
        {"Frame1", "QGroupBox", "Form1", "Player", 120, 120, 2895, 8895},
        {"Label1", "QLabel", "Frame1", "Name", 120, 240, 2655, 255},
        {"txtname", "QLineEdit", "Frame1", "", 120, 480, 2655, 285},
        {"Label2", "QLabel", "Frame1", "AIM", 120, 840, 2655, 255},
        {"txtaim", "QLineEdit", "Frame1", "", 120, 1080, 2655, 285},
        {"Label3", "QLabel", "Frame1", "YIM", 120, 1440, 2655, 255},
        {"txtyim", "QLineEdit", "Frame1", "", 120, 1680, 2655, 285},
        {"Label4", "QLabel", "Frame1", "MSN", 120, 2040, 2655, 255},
        {"txtmsn", "QLineEdit", "Frame1", "", 120, 2280, 2655, 285},
        {"Label5", "QLabel", "Frame1", "Email", 120, 2640, 2655, 255},
        {"txtemail", "QLineEdit", "Frame1", "", 120, 2880, 2655, 285},
        {"Label6", "QLabel", "Frame1", "Clan", 120, 3240, 2655, 255},
        {"txtclan", "QLineEdit", "Frame1", "", 120, 3480, 2655, 285},
        {"Label7", "QLabel", "Frame1", "Website", 120, 3840, 2655, 255},
        {"txtwebsite", "QLineEdit", "Frame1", "", 120, 4080, 2655, 285},
        {"Label8", "QLabel", "Frame1", "XBL Gamertag", 120, 4440, 2655, 255},
        {"txtxbl", "QLineEdit", "Frame1", "", 120, 4680, 2655, 285},
        {"Label9", "QLabel", "Frame1", "XBC Gamertag", 120, 5040, 2655, 255},
        {"txtxbc", "QLineEdit", "Frame1", "", 120, 5280, 2655, 285},
        {"Label10", "QLabel", "Frame1", "Xfire", 120, 5640, 2655, 255},
        {"txtxfire", "QLineEdit", "Frame1", "", 120, 5880, 2655, 285},
        {"Label11", "QLabel", "Frame1", "Games player has:", 120, 6240, 2655, 255},
        {"txtgames", "QPlainTextEdit", "Frame1", "", 120, 6480, 2655, 615},
        {"Label12", "QLabel", "Frame1", "Comments:", 120, 7200, 2655, 255},
        {"txtcomments", "QPlainTextEdit", "Frame1", "", 120, 7440, 2655, 615},
        {"cmd1", "QPushButton", "Frame1", "Add friend", 480, 8160, 1935, 495},
        {"Frame2", "QGroupBox", "Form1", "Server", 3240, 120, 3015, 5295},
        {"Label13", "QLabel", "Frame2", "Name", 120, 240, 2655, 255},
        {"txtsname", "QLineEdit", "Frame2", "", 120, 480, 2775, 285},
        {"Label14", "QLabel", "Frame2", "IP", 120, 840, 2775, 255},
        {"txtip", "QLineEdit", "Frame2", "", 120, 1080, 2775, 285},
        {"Label15", "QLabel", "Frame2", "Password", 120, 1440, 2775, 255},
        {"txtpass", "QLineEdit", "Frame2", "", 120, 1680, 2775, 285},
        {"Label16", "QLabel", "Frame2", "Dedicated", 120, 2040, 2775, 255},
        {"optyes", "QRadioButton", "Frame2", "Yes", 120, 2280, 1455, 255},
        {"optno", "QRadioButton", "Frame2", "No", 840, 2280, 1335, 255},
        {"Label17", "QLabel", "Frame2", "Comments", 120, 2640, 2775, 255},
        {"txtnotes", "QPlainTextEdit", "Frame2", "", 120, 2880, 2775, 1455},
        {"Command1", "QPushButton", "Frame2", "Add Server", 480, 4560, 2055, 495},
        {"SSTab1", "QTabWidget", "Form1", "", 3240, 5520, 3015, 3495},
        {"txtfriends", "QPlainTextEdit", "SSTab1", "", 120, 480, 2775, 2775},
        {"txtserver", "QPlainTextEdit", "SSTab1", "", 120, 480, 2775, 2775},
        {"txt1", "QLineEdit", "Form1", "Text1", 3240, 9240, 855, 285},
};

static QString captionOf(QWidget *widget)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *frame = qobject_cast<QGroupBox *>(widget))
        return frame->title();
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->text();
    if (auto *line = qobject_cast<QLineEdit *>(widget))
        return line->text();
    if (auto *box = qobject_cast<QPlainTextEdit *>(widget))
        return box->document()->toRawText();
    return {};
}

void TestWindow::controls_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<Qt::LayoutDirection>("direction");

    // Right to left, every control is mirrored within its container, as Qt's layouts mirror.
    for (const auto direction : {Qt::LeftToRight, Qt::RightToLeft}) {
        for (const Row &r : FormTable)
            QTest::addRow("%s%s", r.name, direction == Qt::RightToLeft ? " right to left" : "")
                    << QString::fromLatin1(r.kind) << QString::fromLatin1(r.container)
                    << QString::fromLatin1(r.caption) << QRect(r.left, r.top, r.width, r.height)
                    << direction;
    }
}

void TestWindow::controls()
{
    QFETCH(QString, kind);
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    QFETCH(Qt::LayoutDirection, direction);

    w->window->setLayoutDirection(direction);
    QWidget *control = w->find(QByteArray(QTest::currentDataTag()).split(' ').constFirst());
    QVERIFY2(control->inherits(kind.toLatin1()), control->metaObject()->className());
    // The form's client area is the main window's central widget, below the menu bar.
    QWidget *expectedContainer =
            container == u"Form1"_s ? w->window->centralWidget() : w->find(container.toLatin1());
    QVERIFY(expectedContainer->isAncestorOf(control));
    QCOMPARE(caption, captionOf(control));
    const QRect pixels(twips.left() / 15, twips.top() / 15, twips.width() / 15,
                       twips.height() / 15);
    QCOMPARE(QRect(control->mapTo(expectedContainer, QPoint()), control->size()),
             QStyle::visualRect(direction, expectedContainer->rect(), pixels));
    // A caption starts at its field's edge, though its English words run left to right.
    if (auto *label = qobject_cast<QLabel *>(control))
        QCOMPARE(bool(label->alignment() & Qt::AlignRight), direction == Qt::RightToLeft);
}

void TestWindow::listBoxesSitInTheirTabs()
{
    auto *tabs = w->find<QTabWidget>("SSTab1");
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), u"Friends"_s);
    QCOMPARE(tabs->tabText(1), u"Servers"_s);
    QVERIFY(tabs->widget(0)->isAncestorOf(w->find("txtfriends")));
    QVERIFY(tabs->widget(1)->isAncestorOf(w->find("txtserver")));
    QVERIFY(tabs->tabIcon(0).isNull() && tabs->tabIcon(1).isNull());

    QVERIFY(w->find("txtfriends")->isVisible());
    QVERIFY(!w->find("txtserver")->isVisible());
    tabs->setCurrentIndex(1);
    QVERIFY(!w->find("txtfriends")->isVisible());
    QVERIFY(w->find("txtserver")->isVisible());
    // Still where it belongs after the switch.
    QCOMPARE(w->find("txtserver")->mapTo(tabs, QPoint()), QPoint(8, 32));
}

void TestWindow::windowHasFixedClientSize()
{
    QMainWindow *window = w->window.get();
    QCOMPARE(window->objectName(), u"Form1"_s);
    QCOMPARE(window->windowHandle()->title(), u"Vonnerby"_s);
    QVERIFY(!window->windowIcon().isNull());
    QCOMPARE(window->windowIcon().availableSizes().value(0), QSize(30, 30));
    QCOMPARE(window->centralWidget()->size(), QSize(428, 613));
    QCOMPARE(window->centralWidget()->y(), window->menuBar()->height());
    const QSize size = window->size();
    window->resize(size + QSize(200, 200));
    QTest::qWait(0);
    QCOMPARE(window->size(), size);
    QCOMPARE(w->find("Frame1")->geometry(), QRect(8, 8, 193, 593));
}

void TestWindow::startState()
{
    for (const char *field :
         {"txtname", "txtaim", "txtyim", "txtmsn", "txtemail", "txtclan", "txtwebsite", "txtxbl",
          "txtxbc", "txtxfire", "txtsname", "txtip", "txtpass"}) {
        QVERIFY(w->find<QLineEdit>(field)->text().isEmpty());
        QCOMPARE(w->find<QLineEdit>(field)->echoMode(), QLineEdit::Normal);
        QCOMPARE(w->find<QLineEdit>(field)->maxLength(), std::numeric_limits<int>::max());
    }
    for (const char *box : {"txtgames", "txtcomments", "txtnotes", "txtfriends", "txtserver"})
        QVERIFY(w->find<QPlainTextEdit>(box)->document()->isEmpty());
    QVERIFY(!w->find<QRadioButton>("optyes")->isChecked());
    QVERIFY(!w->find<QRadioButton>("optno")->isChecked());
    QCOMPARE(w->find<QTabWidget>("SSTab1")->currentIndex(), 0);
    QCOMPARE(w->find<QLineEdit>("txt1")->text(), u"Text1"_s);
    QVERIFY(!w->find("txt1")->isVisible());
    QCOMPARE(QApplication::focusWidget(), w->find("txtname"));
    QVERIFY(w->messages->shown.isEmpty());
}

void TestWindow::multiLineBoxes()
{
    // Words move whole to the next line; a block holding a run too long for word wrapping to
    // lay out in reasonable time is wrapped anywhere, typed into or laid out later alike.
    const QString words = u"abcdefghij "_s.repeated(20);
    const QString run(5000, u'x');
    w->find<QTabWidget>("SSTab1")->setCurrentIndex(1);
    for (const char *name : {"txtgames", "txtcomments", "txtnotes", "txtfriends", "txtserver"}) {
        auto *box = w->find<QPlainTextEdit>(name);
        QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(box->tabChangesFocus());
        QVERIFY(!box->isReadOnly());

        // Laid out when first shown, then again on a keystroke.
        box->setPlainText(words + u'\n' + run);
        for (const QString &typed : {QString(), u"y"_s}) {
            box->setFocus();
            box->moveCursor(QTextCursor::End);
            if (!typed.isEmpty())
                QTest::keyClicks(box, typed);
            box->moveCursor(QTextCursor::Start);
            box->viewport()->repaint();
            const QTextBlock ordinary = box->document()->firstBlock();
            const QTextBlock huge = ordinary.next();
            for (const QTextBlock &block : {ordinary, huge})
                QVERIFY(box->document()->documentLayout()->blockBoundingRect(block).height() > 0);
            const QTextLayout *lines = ordinary.layout();
            QVERIFY2(lines->lineCount() > 1, name);
            for (int i = 1; i < lines->lineCount(); ++i)
                QCOMPARE(words.at(lines->lineAt(i).textStart() - 1), u' ');
            QCOMPARE(lines->textOption().wrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
            QCOMPARE(huge.layout()->textOption().wrapMode(), QTextOption::WrapAnywhere);
            QVERIFY(huge.layout()->lineCount() > 10);
            QCOMPARE(huge.text(), run + typed);
            QCOMPARE(box->document()->defaultTextOption().wrapMode(),
                     QTextOption::WrapAtWordBoundaryOrAnywhere);
        }
        box->clear();
    }
}

void TestWindow::tabOrder()
{
    const QStringList expected{
            u"txtaim"_s,      u"txtyim"_s,   u"txtmsn"_s,   u"txtemail"_s, u"txtclan"_s,
            u"txtwebsite"_s,  u"txtxbl"_s,   u"txtxbc"_s,   u"txtxfire"_s, u"txtgames"_s,
            u"txtcomments"_s, u"cmd1"_s,     u"txtsname"_s, u"txtip"_s,    u"txtpass"_s,
            u"optyes"_s,      u"txtnotes"_s, u"Command1"_s, u"SSTab1"_s,   u"txtfriends"_s,
            u"txtname"_s,
    };
    QStringList visited;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        // The tab control takes the focus through its tab bar.
        if (focus == w->find<QTabWidget>("SSTab1")->tabBar())
            focus = focus->parentWidget();
        visited << (focus ? focus->objectName() : u"(none)"_s);
    }
    QCOMPARE(visited, expected);

    // The option buttons are one stop, at the selected one, as on every desktop.
    w->click("optno");
    w->find("txtpass")->setFocus();
    QTest::keyClick(w->find("txtpass"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w->find("optno"));
    QTest::keyClick(w->find("optno"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w->find("txtnotes"));
    QVERIFY(!w->find("txt1")->hasFocus());
}

void TestWindow::keys()
{
    // Enter in a multi-line box is a line break there and presses no button.
    w->type("txtgames", u"Halo\nDoom"_s);
    QCOMPARE(w->find<QPlainTextEdit>("txtgames")->blockCount(), 2);
    QTest::keyClick(w->find("txtnotes"), Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(w->find<QPlainTextEdit>("txtnotes")->blockCount(), 2);
    QVERIFY(!w->find<QPlainTextEdit>("txtnotes")
                     ->document()
                     ->toRawText()
                     .contains(QChar::LineSeparator));
    // Enter in a single-line field triggers nothing either.
    QTest::keyClick(w->find("txtname"), Qt::Key_Return);
    QVERIFY(w->find<QPlainTextEdit>("txtfriends")->document()->isEmpty());
    QVERIFY(w->find<QPlainTextEdit>("txtserver")->document()->isEmpty());

    // Enter, keypad Enter and Space on a focused button each click it once.
    const QList<QPair<Qt::Key, Qt::KeyboardModifiers>> presses{{Qt::Key_Return, Qt::NoModifier},
                                                               {Qt::Key_Enter, Qt::KeypadModifier},
                                                               {Qt::Key_Space, Qt::NoModifier}};
    for (const auto &[button, list] :
         {std::pair{"cmd1", "txtfriends"}, {"Command1", "txtserver"}}) {
        for (qsizetype i = 0; i < presses.size(); ++i) {
            w->find(button)->setFocus();
            QTest::keyClick(w->find(button), presses[i].first, presses[i].second);
            QCOMPARE(w->list(list).count(u"------"_s), i + 1);
        }
    }
    // Once focus moves on, Enter in a field clicks neither button.
    w->find("txtname")->setFocus();
    QTest::keyClick(w->find("txtname"), Qt::Key_Return);
    QTest::keyClick(w->find("txtsname"), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(w->list("txtfriends").count(u"------"_s), presses.size());
    QCOMPARE(w->list("txtserver").count(u"------"_s), presses.size());
    QVERIFY(!w->find<QPushButton>("cmd1")->isDefault());
    QVERIFY(!w->find<QPushButton>("Command1")->isDefault());
}

void TestWindow::optionButtonsAreOneGroup()
{
    auto *yes = w->find<QRadioButton>("optyes");
    auto *no = w->find<QRadioButton>("optno");
    // A click in the middle of a button selects it, though the middle lies past its caption.
    w->click("optyes");
    QVERIFY(yes->isChecked() && !no->isChecked());
    w->click("optno");
    QVERIFY(!yes->isChecked() && no->isChecked());
    // Where the two overlap, "No" lies on top.
    QCOMPARE(w->find("Frame2")->childAt(QPoint(60, 160)), no);
    QCOMPARE(w->find("Frame2")->childAt(QPoint(30, 160)), yes);
}

void TestWindow::menus()
{
    QMenuBar *bar = w->window->menuBar();
    const QList<QAction *> top = bar->actions();
    QCOMPARE(top.size(), 2);
    QCOMPARE(top[0]->text(), u"&File"_s);
    QCOMPARE(top[0]->objectName(), u"mnufile"_s);
    QCOMPARE(top[1]->text(), u"Options"_s);
    QCOMPARE(top[1]->objectName(), u"mnuoptions"_s);

    const QList<QPair<QString, QString>> file{{u"mnunew"_s, u"New"_s},
                                              {u"mnuopen"_s, u"Open"_s},
                                              {u"mnusave"_s, u"Save"_s},
                                              {u"mnuexit"_s, u"Exit"_s}};
    const QList<QPair<QString, QString>> options{{u"mnucreate"_s, u"Create Nesacary Items"_s},
                                                 {u"mnuabout"_s, u"About"_s}};
    const auto check = [](QMenu *menu, const QList<QPair<QString, QString>> &items) {
        const QList<QAction *> actions = menu->actions();
        QCOMPARE(actions.size(), items.size());
        for (qsizetype i = 0; i < items.size(); ++i) {
            QCOMPARE(actions[i]->objectName(), items[i].first);
            QCOMPARE(actions[i]->text(), items[i].second);
            QVERIFY(actions[i]->shortcut().isEmpty());
            QVERIFY(!actions[i]->isSeparator() && !actions[i]->isCheckable());
            QVERIFY(actions[i]->isEnabled() && actions[i]->isVisible());
        }
    };
    check(top[0]->menu(), file);
    check(top[1]->menu(), options);
}

void TestWindow::screenReadersHearTheLabels()
{
    // Each field is its label's buddy, and both are announced by the label's words without a
    // colon; the Server panel's "Name" and "Comments" by words of their own.
    const QHash<QString, QString> renamed{{u"Label13"_s, u"Server name"_s},
                                          {u"Label17"_s, u"Server comments"_s}};
    const auto spoken = [](QWidget *widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    };
    int labelled = 0;
    for (const Row &row : FormTable) {
        auto *label = qobject_cast<QLabel *>(w->find(row.name));
        if (!label || !label->buddy())
            continue;
        ++labelled;
        QString expected = renamed.value(label->objectName(), label->text());
        if (expected.endsWith(u':'))
            expected.chop(1);
        QCOMPARE(spoken(label->buddy()), expected);
        QCOMPARE(spoken(label), expected);
    }
    QCOMPARE(labelled, 16);
    QCOMPARE(w->find<QLabel>("Label11")->buddy(), w->find("txtgames"));
    QCOMPARE(w->find<QLabel>("Label17")->buddy(), w->find("txtnotes"));
    QCOMPARE(spoken(w->find("txtgames")), u"Games player has"_s);
    QCOMPARE(spoken(w->find("txtsname")), u"Server name"_s);
    QCOMPARE(spoken(w->find("txtfriends")), u"Friends"_s);
    QCOMPARE(spoken(w->find("txtserver")), u"Servers"_s);
    // The option buttons are read by their captions within a grouping named for their question.
    QCOMPARE(spoken(w->find("optyes")), u"Yes"_s);
    QCOMPARE(spoken(w->find("optno")), u"No"_s);
    QAccessibleInterface *group = QAccessible::queryAccessibleInterface(w->find("optno"))->parent();
    QCOMPARE(group->role(), QAccessible::Grouping);
    QCOMPARE(group->text(QAccessible::Name), u"Dedicated"_s);
}

void TestWindow::oneLineFieldsAnswerEveryTextQuery_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("one word") << u"Ann"_s;
    QTest::newRow("words and punctuation") << u"Ann Example, [VB]. Plays... on Fridays!"_s;
    QTest::newRow("trailing spaces") << u"Ann Example   "_s;
    QTest::newRow("non-ASCII") << u"Zo\u00eb \u00dcnal \U0001F600 e\u0301t\u00e9"_s;
}

void TestWindow::oneLineFieldsAnswerEveryTextQuery()
{
    // Qt's own answer loops for ever at the end of the text; the test's time limit catches that.
    QFETCH(QString, text);
    auto *field = w->find<QLineEdit>("txtname");
    field->setText(text);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(field);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QAccessibleTextInterface *reader = accessible->textInterface();
    QVERIFY(reader);
    const int length = int(text.size());
    QCOMPARE(reader->characterCount(), length);
    QCOMPARE(reader->text(0, length), text);

    for (const auto boundary :
         {QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
          QAccessible::ParagraphBoundary, QAccessible::LineBoundary, QAccessible::NoBoundary}) {
        for (int offset = 0; offset <= length; ++offset) {
            const QByteArray where =
                    QByteArray::number(boundary) + " at " + QByteArray::number(offset);
            int atStart = -1, atEnd = -1;
            const QString at = reader->textAtOffset(offset, boundary, &atStart, &atEnd);
            QVERIFY2(0 <= atStart && atStart <= offset && offset <= atEnd && atEnd <= length,
                     where);
            QVERIFY2(offset < atEnd || offset == length, where);
            QCOMPARE(at, text.mid(atStart, atEnd - atStart));

            int start = -1, end = -1;
            const QString before = reader->textBeforeOffset(offset, boundary, &start, &end);
            QVERIFY2(0 <= start && start <= end && end <= atStart, where);
            QVERIFY2(atStart == 0 || (end == atStart && start < end), where);
            QCOMPARE(before, text.mid(start, end - start));

            const QString after = reader->textAfterOffset(offset, boundary, &start, &end);
            QVERIFY2(atEnd <= start && start <= end && end <= length, where);
            QVERIFY2(atEnd == length || (start == atEnd && start < end), where);
            QCOMPARE(after, text.mid(start, end - start));

            // One run of attributes covers the whole value, so a reader reads all of it.
            reader->attributes(offset, &start, &end);
            QCOMPARE(start, 0);
            QCOMPARE(end, length);
        }
    }
}

void TestWindow::oneLineFieldsReadWordsAndValues()
{
    auto *field = w->find<QLineEdit>("txtname");
    field->setFocus();
    QTest::keyClicks(field, u"Ann Example"_s);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(field);
    QAccessibleTextInterface *reader = accessible->textInterface();
    const auto segment = [reader](QString (QAccessibleTextInterface::*query)(
                                          int, QAccessible::TextBoundaryType, int *, int *) const,
                                  int offset, QAccessible::TextBoundaryType boundary) {
        int start = -1, end = -1;
        const QString text = (reader->*query)(offset, boundary, &start, &end);
        return u"%1 %2-%3"_s.arg(text).arg(start).arg(end);
    };
    const auto at = &QAccessibleTextInterface::textAtOffset;
    // At the end, as a reader asks on Ctrl+Left: the word just typed.
    QCOMPARE(segment(at, 11, QAccessible::WordBoundary), u"Example 4-11"_s);
    QCOMPARE(segment(at, -2, QAccessible::WordBoundary), u"Example 4-11"_s);
    QCOMPARE(segment(at, 1, QAccessible::WordBoundary), u"Ann 0-3"_s);
    QCOMPARE(segment(at, 3, QAccessible::WordBoundary), u"  3-4"_s);
    QCOMPARE(segment(&QAccessibleTextInterface::textAfterOffset, 1, QAccessible::WordBoundary),
             u"  3-4"_s);
    QCOMPARE(segment(&QAccessibleTextInterface::textBeforeOffset, 5, QAccessible::WordBoundary),
             u"  3-4"_s);
    QCOMPARE(segment(at, 11, QAccessible::CharBoundary), u" 11-11"_s);
    QCOMPARE(segment(&QAccessibleTextInterface::textBeforeOffset, 11, QAccessible::CharBoundary),
             u"e 10-11"_s);
    QCOMPARE(segment(at, 11, QAccessible::SentenceBoundary), u"Ann Example 0-11"_s);
    QCOMPARE(segment(at, 12, QAccessible::WordBoundary), u" -1--1"_s);

    QCOMPARE(accessible->text(QAccessible::Value), u"Ann Example"_s);
    QCOMPARE(reader->cursorPosition(), 11);
    QVERIFY(accessible->state().editable && !accessible->state().passwordEdit);
    // A password field would say how long its text is, never what it is.
    field->setEchoMode(QLineEdit::Password);
    QCOMPARE(accessible->text(QAccessible::Value), u"***********"_s);
    QCOMPARE(reader->text(0, 11), u"***********"_s);
    QVERIFY(accessible->state().passwordEdit);
    field->setEchoMode(QLineEdit::Normal);

    // Edits from the reader go through the field as typing does.
    accessible->editableTextInterface()->replaceText(4, 11, u"Sample"_s);
    QCOMPARE(field->text(), u"Ann Sample"_s);
    field->undo();
    QCOMPARE(field->text(), u"Ann Example"_s);
    reader->setSelection(0, 4, 7);
    QCOMPARE(field->selectedText(), u"Exa"_s);
    int start = -1, end = -1;
    reader->selection(0, &start, &end);
    QCOMPARE(QPair(start, end), QPair(4, 7));

    // Words are separated by what lies between them, punctuation and spaces together.
    field->setText(u"Ann, Example"_s);
    QCOMPARE(segment(at, 3, QAccessible::WordBoundary), u",  3-5"_s);

    // Scrolled to the end of a long value, the rectangles follow what is drawn: a click just
    // inside a character's left edge puts the cursor before it.
    field->setText(u"Ann Example "_s.repeated(10));
    field->repaint();
    const int e = int(field->text().size()) - 8;
    const QRect onField(field->mapToGlobal(QPoint()), field->size());
    QVERIFY(onField.contains(reader->characterRect(e)));
    QVERIFY(!onField.intersects(reader->characterRect(0)));
    QCOMPARE(reader->characterRect(e).right() + 1, reader->characterRect(e + 1).left());
    QCOMPARE(reader->offsetAtPoint(reader->characterRect(e).center()), e);
    const QPoint inside = reader->characterRect(e).topLeft() + QPoint(1, 2);
    QTest::mouseClick(field, Qt::LeftButton, {}, field->mapFromGlobal(inside));
    QCOMPARE(field->cursorPosition(), e);
}

void TestWindow::scaledWindowKeepsItsLayout()
{
    // Run at QT_SCALE_FACTOR=2 as well: twice the device pixels, the same layout.
    const qreal scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
            ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
            : 1.0;
    QMainWindow *window = w->window.get();
    QCOMPARE(window->devicePixelRatio(), scale);
    QCOMPARE(window->grab().size(), window->size() * scale);
    QCOMPARE(window->centralWidget()->size(), QSize(428, 613));

    // Only what overlaps in the form's own table overlaps on screen: each label's last pixel
    // row and its field's first, and the two option buttons.
    QStringList expected, actual;
    for (const Row &a : FormTable) {
        for (const Row &b : FormTable) {
            if (qstrcmp(a.name, b.name) >= 0 || qstrcmp(a.container, b.container) != 0)
                continue;
            const QString pair = QString::fromLatin1(a.name) + u'/' + QString::fromLatin1(b.name);
            if (a.pixels().intersects(b.pixels()))
                expected << pair;
            QWidget *first = w->find(a.name);
            QWidget *second = w->find(b.name);
            const QRect placed(first->mapToGlobal(QPoint()), first->size());
            if (first->isVisible() && second->isVisible()
                && placed.intersects(QRect(second->mapToGlobal(QPoint()), second->size())))
                actual << pair;
        }
    }
    expected.removeAll(u"txtfriends/txtserver"_s); // never shown together
    QVERIFY(expected.contains(u"optno/optyes"_s));
    QCOMPARE(actual, expected);

    // The list box lies below the tab bar, whatever the tab bar's height at this scale.
    auto *tabs = w->find<QTabWidget>("SSTab1");
    QVERIFY(w->find("txtfriends")->mapTo(tabs, QPoint()).y() > tabs->tabBar()->geometry().bottom());
}

void TestWindow::largerFontScalesTheLayout_data()
{
    QTest::addColumn<QFont>("font");
    const auto sans = [](qreal points) {
        QFont font(u"DejaVu Sans"_s);
        font.setPointSizeF(points);
        return font;
    };
    // What common desktops ship, and far beyond.
    QTest::newRow("10 pt") << sans(10);
    QTest::newRow("11 pt") << sans(11);
    QTest::newRow("12 pt") << sans(12);
    QFont huge = sans(9);
    huge.setPixelSize(40);
    QTest::newRow("40 px") << huge;
}

void TestWindow::largerFontScalesTheLayout()
{
    QFETCH(QFont, font);
    const QFont testFont = QApplication::font();
    const auto restore = qScopeGuard([&] { QApplication::setFont(testFont); });
    QApplication::setFont(font);
    // A window made with the font, and one that was open when its font changed.
    w->window->setFont(font);
    WindowFixture made;
    made.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(made.window.get()));
    for (WindowFixture *fixture : {&made, w.get()}) {
        QWidget *client = fixture->window->centralWidget();
        const double scale = client->height() / 613.0;
        QVERIFY2(scale > 1.05, qPrintable(QString::number(scale)));
        QCOMPARE(client->width(), qRound(428 * scale));

        const QFontMetrics metrics(font);
        for (const Row &row : FormTable) {
            QWidget *control = fixture->find(row.name);
            QWidget *container =
                    row.container == "Form1"_L1 ? client : fixture->find(row.container);
            const QRect actual(control->mapTo(container, QPoint()), control->size());
            const QRect twips = row.pixels();
            const QRect expected(qRound(twips.x() * scale), qRound(twips.y() * scale),
                                 qRound(twips.width() * scale), qRound(twips.height() * scale));
            // One factor for all, rounded: within a pixel of the table times the factor.
            for (const auto &[a, e] : {std::pair{actual.left(), expected.left()},
                                       {actual.top(), expected.top()},
                                       {actual.width(), expected.width()},
                                       {actual.height(), expected.height()}})
                QVERIFY2(qAbs(a - e) <= 1, row.name);

            // No caption or text is clipped.
            QSize room = control->size();
            if (qstrcmp(row.name, "optyes") == 0)
                room.setWidth(fixture->find("optno")->x() - control->x());
            if (qobject_cast<QLabel *>(control) || qobject_cast<QPushButton *>(control))
                QVERIFY2(control->sizeHint().boundedTo(room) == control->sizeHint(), row.name);
            if (qobject_cast<QRadioButton *>(control))
                QVERIFY2(control->sizeHint().width() <= room.width()
                                 && metrics.height() <= room.height(),
                         row.name);
            if (qobject_cast<QLineEdit *>(control))
                QVERIFY2(metrics.height()
                                         + 2
                                                 * control->style()->pixelMetric(
                                                         QStyle::PM_DefaultFrameWidth)
                                 <= room.height(),
                         row.name);
        }
    }
    QTRY_COMPARE(w->window->size(), made.window->size());

    // Back at the font the table was drawn for, every control is at its twips again.
    QApplication::setFont(testFont);
    w->window->setFont(QFont());
    QCOMPARE(w->window->centralWidget()->size(), QSize(428, 613));
    QCOMPARE(w->find("Frame1")->geometry(), QRect(8, 8, 193, 593));
    QCOMPARE(w->find("optno")->mapTo(w->find("Frame2"), QPoint()), QPoint(56, 152));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
