#include "records.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void friendRecordTakesEveryFieldVerbatim();
    void emptyFriendStillHasThirteenLines();
    void serverRecord_data();
    void serverRecord();
    void appendedTextEqualsAppendingEachLine();
};

void TestRecords::friendRecordTakesEveryFieldVerbatim()
{
    Records::Friend f{u" Ann "_s, u"aim"_s,   u"yim"_s,          u"msn"_s,
                      u"a@b.c"_s, u"[CLN]"_s, u"http://x"_s,     u"xbl"_s,
                      u"xbc"_s,   u"fire"_s,  u"Halo\r\nDoom"_s, u"<b>&amp;</b>\u00a0"_s};
    const QStringList expected{
            u"------"_s,
            u"Name:  Ann "_s,
            u"Aim: aim"_s,
            u"YIM: yim"_s,
            u"MSN: msn"_s,
            u"Email: a@b.c"_s,
            u"Clan: [CLN]"_s,
            u"Website: http://x"_s,
            u"Xbl: xbl"_s,
            u"Xbc: xbc"_s,
            u"Xfire: fire"_s,
            u"Games Friend has: Halo\r\nDoom"_s,
            u"Comments: <b>&amp;</b>\u00a0"_s,
    };
    QCOMPARE(Records::friendLines(f), expected);
}

void TestRecords::emptyFriendStillHasThirteenLines()
{
    const QStringList lines = Records::friendLines({});
    QCOMPARE(lines.size(), 13);
    QCOMPARE(lines[1], u"Name: "_s);
    QCOMPARE(lines[12], u"Comments: "_s);
}

void TestRecords::serverRecord_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("no");
    QTest::addColumn<QStringList>("dedicated");
    QTest::newRow("neither") << false << false << QStringList();
    QTest::newRow("yes") << true << false << QStringList{u"Dedicated: Yes"_s};
    QTest::newRow("no") << false << true << QStringList{u"Dedicated: No"_s};
    // Two separate tests in a fixed order, should both ever be set.
    QTest::newRow("both") << true << true << QStringList{u"Dedicated: Yes"_s, u"Dedicated: No"_s};
}

void TestRecords::serverRecord()
{
    QFETCH(bool, yes);
    QFETCH(bool, no);
    QFETCH(QStringList, dedicated);
    const Records::Server s{u"Box"_s, u"10.0.0.1:27015"_s, u"p w"_s, yes, no, u"a\r\nb"_s};
    const QStringList expected =
            QStringList{u"------"_s, u"Name: Box"_s, u"IP: 10.0.0.1:27015"_s, u"Password: p w"_s}
            + dedicated + QStringList{u"Comments: a\r\nb"_s};
    QCOMPARE(Records::serverLines(s), expected);
}

void TestRecords::appendedTextEqualsAppendingEachLine()
{
    // The line append: the old text, CR LF, the line; never a CR LF after it.
    QCOMPARE(Records::appendedText({u"------"_s}), u"\r\n------"_s);
    QCOMPARE(Records::appendedText({u"a"_s, QString(), u"b"_s}), u"\r\na\r\n\r\nb"_s);
    QCOMPARE(Records::appendedText({}), QString());
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
