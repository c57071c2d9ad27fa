// The program as bench/kill-test.sh drives it: offers back what an earlier run kept (always
// answering Recover), then types, adds records and edits the lists at random until it is killed.
// It prints, as it goes, each state of the window with the moment it was reached:
//   Q <question, base64>   or   Q -       what the start asked
//   S <ms since the epoch> <digest>       the window's state, first as started, then after each
//   step

#include "form.h"
#include "mainwindow.h"
#include "messages.h"
#include "progresswindow.h"

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

class AnsweringMessages final : public Messages
{
public:
    void information(const QString &, const QString &) override { }
    void error(const QString &text) override
    {
        std::printf("E %s\n", text.toUtf8().toBase64().constData());
    }
    Choice ask(const Question &question) override
    {
        if (question.choices.contains(Choice::Recover)) {
            asked = question.text;
            return Choice::Recover;
        }
        return Choice::Cancel;
    }
    void announce(const QString &) override { }
    std::unique_ptr<Progress> progress(const QString &text) override
    {
        return std::make_unique<ProgressWindow>(nullptr, text);
    }
    QString asked;
};

const char *const TextFields[] = {"txtname",  "txtaim",  "txtemail", "txtgames",
                                  "txtsname", "txtpass", "txtnotes"};

QByteArray digest(MainWindow &window, Messages &messages)
{
    Form form(window, messages);
    QString all = form.text(QStringLiteral("txtfriends")) + QChar(0)
            + form.text(QStringLiteral("txtserver"));
    for (const char *name : TextFields)
        all += QChar(0) + form.text(QString::fromLatin1(name));
    all += QChar(form.value(QStringLiteral("optyes")) ? u'y' : u'n');
    all += QChar(form.value(QStringLiteral("optno")) ? u'y' : u'n');
    return QCryptographicHash::hash(all.toUtf8(), QCryptographicHash::Sha1).toHex();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QRandomGenerator random(args.size() > 1 ? args[1].toUInt() : 1);

    auto *messages = new AnsweringMessages;
    MainWindow window{std::unique_ptr<Messages>(messages)};
    window.show();
    window.keepUnsavedWork();
    const auto state = [&] {
        std::printf("S %lld %s\n", QDateTime::currentMSecsSinceEpoch(),
                    digest(window, *messages).constData());
        std::fflush(stdout);
    };
    std::printf("Q %s\n",
                messages->asked.isEmpty() ? "-" : messages->asked.toUtf8().toBase64().constData());
    state();

    const auto find = [&window](const char *name) {
        return window.findChild<QWidget *>(QString::fromLatin1(name));
    };
    const QString letters = QStringLiteral("abcdefghij XYZ\u00e9\u00a0-");
    QTimer step;
    QObject::connect(&step, &QTimer::timeout, &window, [&] {
        const int what = int(random.bounded(100));
        if (what < 45) {
            // A few letters in a field.
            QWidget *field = find(TextFields[random.bounded(int(std::size(TextFields)))]);
            for (int i = int(random.bounded(1, 4)); i > 0; --i)
                QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown,
                                    QString(letters[random.bounded(int(letters.size()))]),
                                    Qt::NoModifier);
        } else if (what < 55) {
            QTest::mouseClick(find(random.bounded(2) ? "cmd1" : "Command1"), Qt::LeftButton);
        } else if (what < 85) {
            // Typing, deleting, a new line or an undo in a list, anywhere in it.
            auto *list = static_cast<QPlainTextEdit *>(
                    find(random.bounded(3) ? "txtfriends" : "txtserver"));
            QTextCursor cursor = list->textCursor();
            cursor.setPosition(int(random.bounded(list->document()->characterCount())));
            list->setTextCursor(cursor);
            const int key = int(random.bounded(10));
            if (key < 6)
                QTest::keyClicks(list, QStringLiteral("typed"));
            else if (key < 8)
                QTest::keyClick(list, Qt::Key_Backspace);
            else if (key < 9)
                QTest::keyClick(list, Qt::Key_Return);
            else
                QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier);
        } else if (what < 95) {
            QTest::mouseClick(find(random.bounded(2) ? "optyes" : "optno"), Qt::LeftButton);
        } else {
            window.findChild<QAction *>(QStringLiteral("mnunew"))->trigger();
        }
        state();
    });
    step.start(25);
    return QApplication::exec();
}
