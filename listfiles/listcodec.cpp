#include "listcodec.h"

#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace ListFiles {

namespace {

constexpr QByteArrayView Utf8Bom = "\xEF\xBB\xBF";
// A cache's worth: pieces this size stay in the processor's cache between the steps.
constexpr qsizetype PieceSize = 64 * 1024;

// Bytes 0x80 to 0x9F; the five bytes windows-1252 leaves undefined map to the C1 controls of the
// same value, as the WHATWG and ICU tables do, so every byte has a character.
constexpr std::array<char16_t, 32> HighControls{
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::optional<char> toWindows1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    const auto *found = std::find(HighControls.begin(), HighControls.end(), c);
    if (found == HighControls.end())
        return std::nullopt;
    return char(0x80 + (found - HighControls.begin()));
}

QChar fromWindows1252(char byte)
{
    const auto b = uchar(byte);
    return (b >= 0x80 && b < 0xA0) ? QChar(HighControls[b - 0x80]) : QChar(char16_t(b));
}

// Replaces \a bytes with the windows-1252 form of \a text, or says there is none.
bool encodeWindows1252(QStringView text, QByteArray &bytes)
{
    bytes.resize(text.size());
    char *out = bytes.data();
    for (const QChar c : text) {
        const auto byte = toWindows1252(c.unicode());
        if (!byte)
            return false;
        *out++ = *byte;
    }
    return true;
}

// Eight bytes at a time in four independent words, which keeps up with memory as Qt's own
// vector scan does; a piece at a time so that an early non-ASCII character ends the scan early.
bool isAscii(QStringView text)
{
    constexpr qsizetype Run = 4096;
    constexpr quint64 HighBits = 0xFF80FF80FF80FF80ULL;
    const char16_t *chars = text.utf16();
    for (qsizetype left = text.size(); left > 0;) {
        const qsizetype count = std::min(Run, left);
        std::array<quint64, 4> words{};
        qsizetype i = 0;
        for (; i + 16 <= count; i += 16) {
            for (size_t k = 0; k < words.size(); ++k) {
                quint64 word;
                std::memcpy(&word, chars + i + 4 * k, sizeof word);
                words[k] |= word;
            }
        }
        quint64 bits = words[0] | words[1] | words[2] | words[3];
        for (; i < count; ++i)
            bits |= chars[i];
        if (bits & HighBits)
            return false;
        chars += count;
        left -= count;
    }
    return true;
}

bool isAscii(QByteArrayView bytes)
{
    quint64 bits = 0;
    qsizetype i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        quint64 word;
        std::memcpy(&word, bytes.data() + i, sizeof word);
        bits |= word;
    }
    for (; i < bytes.size(); ++i)
        bits |= uchar(bytes[i]);
    return (bits & 0x8080808080808080ULL) == 0;
}

// Whether bytes given a piece at a time are UTF-8, and how many characters they hold.
class Utf8Check
{
public:
    // \a start: whether the first piece is the start of the text, whose mark is no character.
    explicit Utf8Check(bool start = true)
        : m_decoder(QStringDecoder::Utf8,
                    start ? QStringDecoder::Flag::Default : QStringDecoder::Flag::ConvertInitialBom)
    { }

    void add(QByteArrayView bytes)
    {
        for (qsizetype from = 0; from < bytes.size() && !m_decoder.hasError(); from += PieceSize) {
            const QByteArrayView piece =
                    bytes.sliced(from, std::min(PieceSize, bytes.size() - from));
            m_scratch.resize(m_decoder.requiredSpace(piece.size()));
            m_size += m_decoder.appendToBuffer(m_scratch.data(), piece) - m_scratch.data();
        }
    }

    // The character count, or nothing when the bytes are not UTF-8. Ends the check.
    std::optional<qsizetype> finish()
    {
        // A sequence cut off at the end shows as an error only once something follows it.
        add("a");
        if (m_decoder.hasError())
            return std::nullopt;
        return m_size - 1;
    }

private:
    QStringDecoder m_decoder;
    QString m_scratch;
    qsizetype m_size = 0;
};

// Whether bytes given a piece at a time are UTF-16 after its byte-order mark, in whole
// characters. Bytes that do not pair up are not taken for UTF-16: read as single bytes, they
// save back unchanged.
class Utf16Check
{
public:
    void add(QByteArrayView bytes)
    {
        for (const char byte : bytes) {
            if (m_failed)
                return;
            if (m_count < 2) {
                m_mark[m_count++] = uchar(byte);
                m_failed = m_count == 2 && !isMark();
                continue;
            }
            if (m_count++ % 2 == 0) {
                m_first = uchar(byte);
                continue;
            }
            const auto second = uchar(byte);
            const char16_t unit =
                    little() ? char16_t(m_first | second << 8) : char16_t(m_first << 8 | second);
            if (m_highPending) {
                m_failed = !QChar::isLowSurrogate(unit);
                m_highPending = false;
            } else if (QChar::isHighSurrogate(unit)) {
                m_highPending = true;
            } else {
                m_failed = QChar::isLowSurrogate(unit);
            }
        }
    }

    bool isUtf16() const { return !m_failed && m_count >= 2 && m_count % 2 == 0 && !m_highPending; }
    bool little() const { return m_mark[0] == 0xFF; }

private:
    bool isMark() const
    {
        return (m_mark[0] == 0xFF && m_mark[1] == 0xFE) || (m_mark[0] == 0xFE && m_mark[1] == 0xFF);
    }

    std::array<uchar, 2> m_mark{};
    qsizetype m_count = 0;
    uchar m_first = 0;
    bool m_highPending = false;
    bool m_failed = false;
};

// Characters of valid UTF-8, or nothing. Plain ASCII, the most common list, is only looked at.
std::optional<qsizetype> utf8Size(QByteArrayView bytes)
{
    qsizetype ascii = 0;
    while (ascii < bytes.size()) {
        const qsizetype count = std::min(PieceSize, bytes.size() - ascii);
        if (!isAscii(bytes.sliced(ascii, count)))
            break;
        ascii += count;
    }
    Utf8Check check(ascii == 0);
    check.add(bytes.sliced(ascii));
    const auto rest = check.finish();
    if (!rest)
        return std::nullopt;
    return ascii + *rest;
}

enum class Form { Ascii, Windows1252, Utf8 };

// The first pass of encode: the form its bytes take.
std::optional<Form> chooseForm(const Pieces &text)
{
    bool ascii = true;
    bool single = true;
    bool first = true;
    bool mayBeUtf16 = false;
    Utf8Check utf8(true);
    Utf16Check utf16;
    QByteArray bytes;
    const bool whole = text([&](QStringView piece) {
        if (piece.isEmpty())
            return true;
        // Beyond ASCII, single bytes that happen to form UTF-8 (such as "Ã©") or UTF-16 after
        // its mark (such as "ÿþ") would read back as other characters.
        if (first)
            mayBeUtf16 = piece[0] == u'ÿ' || piece[0] == u'þ';
        first = false;
        if (ascii && isAscii(piece))
            return true;
        ascii = false;
        single = encodeWindows1252(piece, bytes);
        if (!single)
            return false; // UTF-8, whatever follows
        utf8.add(bytes);
        if (mayBeUtf16)
            utf16.add(bytes);
        return true;
    });
    if (!whole && single)
        return std::nullopt;
    if (ascii)
        return Form::Ascii;
    if (single && !utf8.finish() && !(mayBeUtf16 && utf16.isUtf16()))
        return Form::Windows1252;
    return Form::Utf8;
}

// UTF-8 a piece at a time, with a character cut in two by the pieces' edge kept whole.
class Utf8Writer
{
public:
    explicit Utf8Writer(const Write &write)
        : m_write(write)
    { }

    bool add(QStringView piece)
    {
        if (piece.isEmpty())
            return true;
        if (m_first && piece[0] == QChar::ByteOrderMark && !m_write(Utf8Bom))
            return false;
        m_first = false;
        if (m_high) {
            const char16_t pair[2]{m_high, piece[0].unicode()};
            m_high = 0;
            if (QChar::isLowSurrogate(pair[1])) {
                if (!put(QStringView(pair, 2)))
                    return false;
                piece = piece.sliced(1);
            } else if (!put(QStringView(pair, 1))) {
                return false;
            }
        }
        if (!piece.isEmpty() && piece.back().isHighSurrogate()) {
            m_high = piece.back().unicode();
            piece.chop(1);
        }
        return put(piece);
    }

    bool finish()
    {
        const char16_t high[1]{m_high};
        return m_high == 0 || put(QStringView(high, 1));
    }

private:
    bool put(QStringView text)
    {
        if (text.isEmpty())
            return true;
        QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
        m_bytes.resize(encoder.requiredSpace(text.size()));
        const char *end = encoder.appendToBuffer(m_bytes.data(), text);
        return m_write(QByteArrayView(m_bytes.constData(), end));
    }

    const Write &m_write;
    QByteArray m_bytes;
    char16_t m_high = 0;
    bool m_first = true;
};

} // namespace

Pieces pieces(QStringView text)
{
    return [text](const Piece &piece) {
        for (qsizetype from = 0; from < text.size(); from += PieceSize) {
            if (!piece(text.sliced(from, std::min(PieceSize, text.size() - from))))
                return false;
        }
        return true;
    };
}

QString decodeWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    std::transform(bytes.begin(), bytes.end(), text.begin(), fromWindows1252);
    return text;
}

Decoder::Decoder(QByteArrayView bytes)
    : m_bytes(bytes)
{
    // Only valid UTF-8 is read as UTF-8, mark or no mark: a mark before invalid bytes would
    // otherwise turn them into U+FFFD, and the next save would lose them.
    Utf16Check utf16;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        utf16.add(bytes);
        m_encoding = Encoding::Windows1252;
        m_size = bytes.size();
        if (utf16.isUtf16()) {
            m_encoding = utf16.little() ? Encoding::Utf16Little : Encoding::Utf16Big;
            m_size = bytes.size() / 2 - 1;
        }
    } else if (const auto chars = utf8Size(bytes)) {
        m_size = *chars;
        m_ascii = m_size == bytes.size() && ListFiles::isAscii(bytes);
    } else {
        m_encoding = Encoding::Windows1252;
        m_size = bytes.size();
    }
    rewind();
}

void Decoder::dropFinalLineEnd()
{
    const bool utf16 = m_encoding == Encoding::Utf16Little || m_encoding == Encoding::Utf16Big;
    const QByteArrayView lineEnd = m_encoding == Encoding::Utf16Little
            ? QByteArrayView("\r\0\n\0", 4)
            : m_encoding == Encoding::Utf16Big ? QByteArrayView("\0\r\0\n", 4)
                                               : QByteArrayView("\r\n", 2);
    // Not into a UTF-16 byte-order mark, which is no part of the text.
    const qsizetype start = utf16 ? 2 : 0;
    if (m_bytes.size() - start >= lineEnd.size() && m_bytes.endsWith(lineEnd)) {
        m_bytes.chop(lineEnd.size());
        m_size -= 2;
    }
}

void Decoder::rewind()
{
    m_position = m_encoding == Encoding::Utf16Little || m_encoding == Encoding::Utf16Big ? 2 : 0;
    m_utf8 = QStringDecoder(QStringDecoder::Utf8);
}

void Decoder::setPieceSize(qsizetype chars)
{
    m_pieceSize = std::max(qsizetype(1), chars);
}

QStringView Decoder::next()
{
    while (m_position < m_bytes.size()) {
        const qsizetype left = m_bytes.size() - m_position;
        switch (m_encoding) {
        case Encoding::Utf8: {
            const QByteArrayView bytes = m_bytes.sliced(m_position, std::min(m_pieceSize, left));
            m_piece.resize(m_utf8.requiredSpace(bytes.size()));
            const QChar *end = m_utf8.appendToBuffer(m_piece.data(), bytes);
            m_position += bytes.size();
            // A piece that ends inside a character gives that character with the next one.
            if (end != m_piece.constData())
                return QStringView(m_piece.constData(), end);
            break;
        }
        case Encoding::Windows1252: {
            const QByteArrayView bytes = m_bytes.sliced(m_position, std::min(m_pieceSize, left));
            m_piece.resize(bytes.size());
            std::transform(bytes.begin(), bytes.end(), m_piece.begin(), fromWindows1252);
            m_position += bytes.size();
            return m_piece;
        }
        case Encoding::Utf16Little:
        case Encoding::Utf16Big: {
            const qsizetype count = std::min(m_pieceSize, left / 2);
            const auto *bytes = reinterpret_cast<const uchar *>(m_bytes.data() + m_position);
            m_piece.resize(count);
            const bool little = m_encoding == Encoding::Utf16Little;
            for (qsizetype i = 0; i < count; ++i) {
                const uchar first = bytes[2 * i];
                const uchar second = bytes[2 * i + 1];
                m_piece[i] = QChar(little ? char16_t(first | second << 8)
                                          : char16_t(first << 8 | second));
            }
            m_position += 2 * count;
            return m_piece;
        }
        }
    }
    return {};
}

QString decode(QByteArrayView bytes)
{
    Decoder decoder(bytes);
    QString text;
    text.reserve(decoder.size());
    for (QStringView piece = decoder.next(); !piece.isEmpty(); piece = decoder.next())
        text += piece;
    return text;
}

QByteArray encode(QStringView text)
{
    QByteArray bytes;
    encode(text, [&bytes](QByteArrayView piece) {
        bytes.append(piece);
        return true;
    });
    return bytes;
}

bool encode(QStringView text, const Write &write)
{
    return encode(pieces(text), write);
}

bool encode(const Pieces &text, const Write &write)
{
    const auto form = chooseForm(text);
    if (!form)
        return false;
    switch (*form) {
    case Form::Ascii:
        // Most lists are plain ASCII, narrowed with vector instructions.
        return text([&write](QStringView piece) { return write(piece.toLatin1()); });
    case Form::Windows1252: {
        QByteArray bytes;
        return text([&write, &bytes](QStringView piece) {
            return encodeWindows1252(piece, bytes) && write(bytes);
        });
    }
    case Form::Utf8: {
        Utf8Writer utf8(write);
        return text([&utf8](QStringView piece) { return utf8.add(piece); }) && utf8.finish();
    }
    }
    return false;
}

} // namespace ListFiles
