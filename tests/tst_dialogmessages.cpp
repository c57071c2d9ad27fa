#include "announcer.h"
#include "dialogmessages.h"
#include "progresswindow.h"

#include <QAccessible>

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace Qt::Literals::StringLiterals;

class TestDialogMessages : public QObject
{
    Q_OBJECT

private slots:
    void informationIsPlainWithOkOnly();
    void errorIsCriticalWithMnemonic();
    void questionButtonsHaveMnemonicsAndEscapeCancels_data();
    void questionButtonsHaveMnemonicsAndEscapeCancels();
    void questionAnswersWithTheButtonPressed();
    void boxesWaitWithTheNormalPointer();
    void announcementsAppearToScreenReadersOnly();
    void progressAppearsOnceWorkTakesAWhileAndStops_data();
    void progressAppearsOnceWorkTakesAWhileAndStops();

private:
    // Runs \a inspect on the message box once it is up; it must close the box.
    static void whenShown(const std::function<void(QMessageBox *)> &inspect)
    {
        QTimer::singleShot(0, qApp, [inspect] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                qFatal("no message box is showing");
            inspect(box);
        });
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        m_shows += event->type() == QEvent::Show;
        return false;
    }
    QWidget m_parent;
    int m_shows = 0;
};

void TestDialogMessages::informationIsPlainWithOkOnly()
{
    DialogMessages messages(&m_parent);
    bool seen = false;
    whenShown([&](QMessageBox *box) {
        seen = box->windowTitle() == u"Saved"_s && box->text() == u"<b>File Saved!</b>"_s
                && box->textFormat() == Qt::PlainText && box->icon() == QMessageBox::Information
                && box->standardButtons() == QMessageBox::Ok && box->buttons().size() == 1;
        QTest::keyClick(box, Qt::Key_Return);
    });
    messages.information(u"<b>File Saved!</b>"_s, u"Saved"_s);
    QVERIFY(seen);
}

void TestDialogMessages::errorIsCriticalWithMnemonic()
{
    DialogMessages messages(&m_parent);
    bool seen = false;
    whenShown([&](QMessageBox *box) {
        seen = box->icon() == QMessageBox::Critical && box->textFormat() == Qt::PlainText
                && box->text() == u"Could not save"_s && box->buttons().size() == 1
                && box->buttons().first()->text() == u"&OK"_s;
        QTest::keyClick(box, Qt::Key_Escape);
    });
    messages.error(u"Could not save"_s);
    QVERIFY(seen);
}

void TestDialogMessages::questionButtonsHaveMnemonicsAndEscapeCancels_data()
{
    QTest::addColumn<QList<Choice>>("choices");
    QTest::addColumn<bool>("closeButton"); // the window's close button rather than Escape
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("Escape") << QList{Choice::Save, Choice::Discard, Choice::Cancel} << false
                            << QStringList{u"&Cancel"_s, u"&Discard"_s, u"&Save"_s};
    // No Cancel button: closing the box still decides nothing.
    QTest::newRow("Escape, no Cancel button") << QList{Choice::Save, Choice::Discard} << false
                                              << QStringList{u"&Discard"_s, u"&Save"_s};
    QTest::newRow("close button, no Cancel button") << QList{Choice::Save, Choice::Discard} << true
                                                    << QStringList{u"&Discard"_s, u"&Save"_s};
}

void TestDialogMessages::questionButtonsHaveMnemonicsAndEscapeCancels()
{
    QFETCH(QList<Choice>, choices);
    QFETCH(bool, closeButton);
    QFETCH(QStringList, labels);
    DialogMessages messages(&m_parent);
    QStringList shown;
    QString defaultLabel;
    bool closed = false;
    whenShown([&](QMessageBox *box) {
        for (QAbstractButton *button : box->buttons()) {
            if (button->isVisibleTo(box))
                shown << button->text();
        }
        defaultLabel = box->defaultButton() ? box->defaultButton()->text() : QString();
        if (closeButton)
            box->close();
        else
            QTest::keyClick(box, Qt::Key_Escape);
        // Should the box stay up, fail rather than hang.
        closed = !box->isVisible();
        if (!closed)
            box->done(0);
    });
    const Choice answer =
            messages.ask({u"Exit"_s, u"Unsaved"_s, choices, Choice::Save, Choice::Cancel});
    QVERIFY(closed);
    QCOMPARE(answer, Choice::Cancel);
    shown.sort();
    QCOMPARE(shown, labels);
    QCOMPARE(defaultLabel, u"&Save"_s);
}

void TestDialogMessages::questionAnswersWithTheButtonPressed()
{
    DialogMessages messages(&m_parent);
    const QList<std::pair<Choice, QString>> buttons{
            {Choice::Replace, u"&Replace"_s},
            {Choice::Overwrite, u"&Overwrite"_s},
            {Choice::Cancel, u"&Cancel"_s},
    };
    for (const auto &[expected, label] : buttons) {
        whenShown([&label](QMessageBox *box) {
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == label) {
                    button->click();
                    return;
                }
            }
            box->reject(); // no such button: fail rather than hang
        });
        QCOMPARE(messages.ask({u"Open"_s,
                               u"Replace?"_s,
                               {Choice::Replace, Choice::Overwrite, Choice::Cancel},
                               Choice::Cancel,
                               Choice::Cancel}),
                 expected);
    }
}

void TestDialogMessages::boxesWaitWithTheNormalPointer()
{
    // A box shown while the program works waits for the user with the normal pointer.
    DialogMessages messages(&m_parent);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    QList<Qt::CursorShape> seen;
    const auto record = [&](QMessageBox *box) {
        seen << QGuiApplication::overrideCursor()->shape();
        QTest::keyClick(box, Qt::Key_Escape);
    };
    whenShown(record);
    messages.information(u"File Saved!"_s, u"Saved"_s);
    whenShown(record);
    messages.error(u"Could not save"_s);
    whenShown(record);
    messages.ask({u"Exit"_s, u"Unsaved"_s, {Choice::Save, Choice::Cancel}});
    QCOMPARE(seen, QList<Qt::CursorShape>(3, Qt::ArrowCursor));
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
}

void TestDialogMessages::announcementsAppearToScreenReadersOnly()
{
    m_parent.show();
    DialogMessages messages(&m_parent);
    messages.announce(u"Added Ann."_s);
    auto *announcer = m_parent.findChild<Announcer *>();
    // Readers speak a notification as it appears: the same words appear anew, and none show.
    announcer->installEventFilter(this);
    messages.announce(u"Added Ann."_s);
    QCOMPARE(m_shows, 1);
    QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(announcer);
    QCOMPARE(reader->role(), QAccessible::Notification);
    QCOMPARE(reader->text(QAccessible::Name), u"Added Ann."_s);
    QVERIFY(announcer->isVisible() && announcer->size().isEmpty());
}

void TestDialogMessages::progressAppearsOnceWorkTakesAWhileAndStops_data()
{
    QTest::addColumn<QString>("stop"); // how the user stops the work
    QTest::newRow("Cancel") << u"Cancel"_s;
    QTest::newRow("Escape") << u"Escape"_s;
    QTest::newRow("close button") << u"close"_s;
}

void TestDialogMessages::progressAppearsOnceWorkTakesAWhileAndStops()
{
    QFETCH(QString, stop);
    m_parent.show();
    DialogMessages messages(&m_parent);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    std::unique_ptr<Progress> progress = messages.progress(u"Opening the server list…"_s);
    QVERIFY(progress->advance(1, 100));
    // Once the work has gone on for half a second, its next step shows the window.
    QTest::qWait(ProgressWindow::ShowAfter + 100);
    progress->setText(u"Opening the friends list…"_s);
    QVERIFY(progress->advance(50, 100));
    auto *dialog = m_parent.findChild<QProgressDialog *>();
    QVERIFY(dialog && dialog->isVisible() && dialog->isModal());
    QCOMPARE(dialog->windowTitle(), u"Vonnerby"_s);
    QCOMPARE(dialog->labelText(), u"Opening the friends list…"_s);
    // Read out as it appears, as a message box is.
    QCOMPARE(QAccessible::queryAccessibleInterface(dialog)->role(), QAccessible::AlertMessage);
    QCOMPARE(double(dialog->value()) / dialog->maximum(), 0.5);
    // Busy, with a pointer that shows that Cancel can be pressed.
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
    auto *cancel = dialog->findChild<QPushButton *>();
    QCOMPARE(cancel->text(), u"&Cancel"_s);
    if (stop == u"Cancel"_s)
        cancel->click();
    else if (stop == u"Escape"_s)
        QTest::keyClick(dialog, Qt::Key_Escape);
    else
        dialog->close();
    QVERIFY(!progress->advance(60, 100));
    progress.reset();
    QVERIFY(!m_parent.findChild<QProgressDialog *>());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
}

QTEST_MAIN(TestDialogMessages)
#include "tst_dialogmessages.moc"
