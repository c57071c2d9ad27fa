#include "windowfixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

class TestAboutExit : public QObject
{
    Q_OBJECT

private slots:
    void aboutShowsThreeLines();
    void aboutBoxIsPlainInformation();
    void exitAndCloseEndTheEventLoop_data();
    void exitAndCloseEndTheEventLoop();
};

void TestAboutExit::aboutShowsThreeLines()
{
    WindowFixture w;
    w.trigger("mnuabout");
    QCOMPARE(w.messages->shown.size(), 1);
    const auto &about = w.messages->shown.first();
    QCOMPARE(about.kind, RecordingMessages::Kind::Information);
    QCOMPARE(about.title, u"About"_s);
    QCOMPARE(about.text,
             u"Too lazy to make another form for an About page.\r\n\r\nVonnerby is freeware"_s);
}

void TestAboutExit::aboutBoxIsPlainInformation()
{
    // The real box: information icon, OK only, the prompt as plain text.
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Record what the box shows and always close it, so a mismatch fails instead of hanging.
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::StandardButtons buttons;
    qsizetype buttonCount = 0;
    bool checked = false;
    QTimer::singleShot(0, &window, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        format = box->textFormat();
        buttons = box->standardButtons();
        buttonCount = box->buttons().size();
        checked = true;
        QTest::keyClick(box, Qt::Key_Return);
    });
    window.findChild<QAction *>(u"mnuabout"_s)->trigger();
    QVERIFY(checked);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(title, u"About"_s);
    QCOMPARE(text,
             u"Too lazy to make another form for an About page.\r\n\r\nVonnerby is freeware"_s);
    QCOMPARE(icon, QMessageBox::Information);
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(buttons, QMessageBox::Ok);
    QCOMPARE(buttonCount, 1);
}

void TestAboutExit::exitAndCloseEndTheEventLoop_data()
{
    QTest::addColumn<bool>("useMenu");
    QTest::newRow("File, Exit") << true;
    QTest::newRow("window closed") << false;
}

void TestAboutExit::exitAndCloseEndTheEventLoop()
{
    QFETCH(bool, useMenu);
    WindowFixture w;
    w.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    QTimer::singleShot(0, w.window.get(), [&] {
        if (useMenu)
            w.trigger("mnuexit");
        else
            w.window->close();
    });
    // A backstop, should the window refuse to close.
    QTimer backstop;
    backstop.setSingleShot(true);
    connect(&backstop, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    backstop.start(5000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!w.window->isVisible());
    QVERIFY(w.messages->shown.isEmpty());
}

QTEST_MAIN(TestAboutExit)
#include "tst_aboutexit.moc"
