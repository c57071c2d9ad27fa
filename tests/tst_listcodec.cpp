#include "listcodec.h"
#include "listfiles.h"

#include <QStringDecoder>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// Whether the bytes are UTF-8; a byte-order mark counts as a character here.
bool isUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}
} // namespace

class TestListCodec : public QObject
{
    Q_OBJECT

private slots:
    void windows1252TableMatchesIcu();
    void existingSingleByteFilesReadAsBefore_data();
    void existingSingleByteFilesReadAsBefore();
    void textRoundTrips_data();
    void textRoundTrips();
    void utf16WithMarkReadsAsText_data();
    void utf16WithMarkReadsAsText();
    void anyBytesDecodeStably();
    void fileFormat();
};

void TestListCodec::windows1252TableMatchesIcu()
{
    QStringDecoder icu("windows-1252");
    if (!icu.isValid())
        QSKIP("This Qt has no ICU converters");
    QByteArray every;
    for (int b = 0; b < 256; ++b)
        every.append(char(b));
    QCOMPARE(ListFiles::decodeWindows1252(every), icu.decode(every));
}

void TestListCodec::existingSingleByteFilesReadAsBefore_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QByteArray("------\r\nName: x") << u"------\r\nName: x"_s;
    QTest::newRow("euro, nbsp, e-acute") << QByteArray("\x80\xA0\xE9") << u"€\u00a0é"_s;
    QTest::newRow("undefined byte") << QByteArray("a\x81z") << u"a\u0081z"_s;
    // A byte-order mark does not make damaged bytes UTF-8.
    QTest::newRow("mark before invalid bytes") << QByteArray("\xEF\xBB\xBF"
                                                             "caf\xE9 \x80"
                                                             "5")
                                               << u"ï»¿café €5"_s;
    QTest::newRow("trailing blank lines")
            << QByteArray("Clan: \xC4\r\n\r\n\r\n") << u"Clan: Ä\r\n\r\n\r\n"_s;
}

void TestListCodec::existingSingleByteFilesReadAsBefore()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(ListFiles::decode(bytes), text);
    // And they are written back byte for byte.
    QCOMPARE(ListFiles::encode(text), bytes);
}

void TestListCodec::textRoundTrips_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("windows-1252") << u"Zoë €5"_s
                                  << QByteArray("Zo\xEB \x80"
                                                "5");
    QTest::newRow("cyrillic") << u"Ж"_s << QByteArray("\xD0\x96");
    QTest::newRow("emoji") << u"😀"_s << QByteArray("\xF0\x9F\x98\x80");
    QTest::newRow("nul") << u"a\0b"_s << QByteArray("a\0b", 3);
    // Single bytes that would read back as UTF-8 go out as UTF-8.
    QTest::newRow("looks like utf-8") << u"Ã©"_s << QByteArray("\xC3\x83\xC2\xA9");
    QTest::newRow("looks like a mark") << u"ï»¿x"_s << QByteArray("\xC3\xAF\xC2\xBB\xC2\xBFx");
    QTest::newRow("looks like a UTF-16 mark") << u"ÿþ"_s << QByteArray("\xC3\xBF\xC3\xBE");
    QTest::newRow("text's own U+FEFF") << u"\ufeffx"_s << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx");
    QTest::newRow("mixed") << u"é and Ж"_s << QByteArray("\xC3\xA9 and \xD0\x96");
    // Past the first piece of the ASCII scan, and in the middle of a word of it.
    QTest::newRow("late non-ASCII")
            << QString(4096 + 21, u'a') + u"Ж"_s + QString(30, u'a')
            << QByteArray(4096 + 21, 'a') + "\xD0\x96" + QByteArray(30, 'a');
}

void TestListCodec::textRoundTrips()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ListFiles::encode(text), bytes);
    QCOMPARE(ListFiles::decode(bytes), text);
}

void TestListCodec::utf16WithMarkReadsAsText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("little-endian") << QByteArray("\xFF\xFEZ\0\xEB\0\r\0\n\0", 10) << u"Zë\r\n"_s
                                   << QByteArray("Z\xEB\r\n");
    // A 0x0A byte inside a character is not a line feed.
    QTest::newRow("big-endian, LF byte") << QByteArray("\xFE\xFF\x01\x0A\xD8\x3D\xDE\x00", 8)
                                         << u"Ċ😀"_s << QByteArray("\xC4\x8A\xF0\x9F\x98\x80");
    // Nor are CR and LF bytes that make up one character.
    QTest::newRow("CR LF bytes") << QByteArray("\xFF\xFEZ\0\r\n", 6) << u"Z\u0a0d"_s
                                 << QByteArray("Z\xE0\xA8\x8D");
    QTest::newRow("mark only") << QByteArray("\xFF\xFE") << QString() << QByteArray();
    // Not whole UTF-16 characters: single bytes, saved back as they were.
    QTest::newRow("odd length") << QByteArray("\xFF\xFE"
                                              "a")
                                << u"ÿþa"_s
                                << QByteArray("\xFF\xFE"
                                              "a");
    QTest::newRow("lone surrogate")
            << QByteArray("\xFF\xFE\0\xD8", 4) << u"ÿþ\0Ø"_s << QByteArray("\xFF\xFE\0\xD8", 4);
}

void TestListCodec::utf16WithMarkReadsAsText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(QByteArray, saved);
    QCOMPARE(ListFiles::decode(bytes), text);
    QCOMPARE(ListFiles::encode(text), saved);
    // A list file that editor saved ends in its own line break, which Open takes off.
    const bool little = bytes.startsWith("\xFF\xFE");
    if (text != ListFiles::decodeWindows1252(bytes))
        QCOMPARE(ListFiles::listText(bytes + QByteArray(little ? "\r\0\n\0" : "\0\r\0\n", 4)),
                 text);
}

void TestListCodec::anyBytesDecodeStably()
{
    // Invalid UTF-8, lone surrogates' bytes, a mark before junk, random bytes.
    QList<QByteArray> samples{"\xC3", "\xED\xA0\x80", "\xEF\xBB\xBF\xFF", "\xFF\xFE", "\x81\x8D"};
    quint32 seed = 12345;
    for (int n = 0; n < 200; ++n) {
        QByteArray random;
        for (int i = 0; i < n; ++i) {
            seed = seed * 1103515245 + 12345;
            random.append(char(seed >> 16));
        }
        samples << random;
    }
    for (const QByteArray &bytes : std::as_const(samples)) {
        const QString text = ListFiles::decode(bytes);
        QCOMPARE(ListFiles::decode(ListFiles::encode(text)), text);
        // Read as single bytes, they save back byte for byte.
        if (!isUtf8(bytes) && text == ListFiles::decodeWindows1252(bytes))
            QCOMPARE(ListFiles::encode(text), bytes);
    }
}

void TestListCodec::fileFormat()
{
    QCOMPARE(ListFiles::fileBytes(u""), QByteArray("\r\n"));
    QCOMPARE(ListFiles::fileBytes(u"------\r\nName: x"), QByteArray("------\r\nName: x\r\n"));
    QCOMPARE(ListFiles::fileBytes(u"------\r\nName: x").size(), 17);
    QCOMPARE(ListFiles::fileBytes(u"Text1"), QByteArray("Text1\r\n"));
    // Only the one line end that saving adds comes off again.
    QCOMPARE(ListFiles::listText("Text1\r\n"), u"Text1"_s);
    QCOMPARE(ListFiles::listText("a\r\n\r\n"), u"a\r\n"_s);
    QCOMPARE(ListFiles::listText("a\n"), u"a\n"_s);
    QCOMPARE(ListFiles::listText(""), QString());
    QCOMPARE(ListFiles::listText("\r\n"), QString());
    for (const QString &text : {u""_s, u"x\r\n"_s, u"\r\n\r\n"_s, u"Ж\r\n"_s})
        QCOMPARE(ListFiles::listText(ListFiles::fileBytes(text)), text);
}

QTEST_GUILESS_MAIN(TestListCodec)
#include "tst_listcodec.moc"
