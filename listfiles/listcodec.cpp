#include "listcodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace ListFiles {

namespace {

constexpr QByteArrayView Utf8Bom = "\xEF\xBB\xBF";

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

std::optional<QByteArray> encodeWindows1252(QStringView text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (const QChar c : text) {
        const auto byte = toWindows1252(c.unicode());
        if (!byte)
            return std::nullopt;
        *out++ = *byte;
    }
    return bytes;
}

// UTF-16 with its byte-order mark, as some editors save "Unicode" text. Bytes that do not pair up
// into whole characters are not taken for UTF-16: read as single bytes, they save back unchanged.
std::optional<QString> decodeUtf16(QByteArrayView bytes)
{
    const bool little = bytes.startsWith("\xFF\xFE");
    if ((!little && !bytes.startsWith("\xFE\xFF")) || bytes.size() % 2 != 0)
        return std::nullopt;
    QString text(bytes.size() / 2 - 1, Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 2; i < bytes.size(); i += 2) {
        const auto first = uchar(bytes[i]);
        const auto second = uchar(bytes[i + 1]);
        *out++ = QChar(little ? char16_t(first | second << 8) : char16_t(first << 8 | second));
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return std::nullopt;
    }
    return text;
}

// Eight bytes at a time in four independent words, which keeps up with memory as Qt's own
// vector scan does; a piece at a time so that an early non-ASCII character ends the scan early.
bool isAscii(QStringView text)
{
    constexpr qsizetype Piece = 4096;
    constexpr quint64 HighBits = 0xFF80FF80FF80FF80ULL;
    const char16_t *chars = text.utf16();
    for (qsizetype left = text.size(); left > 0;) {
        const qsizetype count = std::min(Piece, left);
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

bool isUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

QByteArray encodeUtf8(QStringView text)
{
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    QByteArray bytes;
    if (text.startsWith(QChar::ByteOrderMark))
        bytes = Utf8Bom.toByteArray();
    return bytes.append(encoder.encode(text));
}

} // namespace

QString decodeWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const auto b = uchar(byte);
        *out++ = (b >= 0x80 && b < 0xA0) ? QChar(HighControls[b - 0x80]) : QChar(char16_t(b));
    }
    return text;
}

QString decode(QByteArrayView bytes)
{
    // Only valid UTF-8 is read as UTF-8, mark or no mark: a mark before invalid bytes would
    // otherwise turn them into U+FFFD, and the next save would lose them.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError())
        return text;
    if (auto utf16 = decodeUtf16(bytes))
        return *utf16;
    return decodeWindows1252(bytes);
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

bool encode(QStringView text, const std::function<bool(QByteArrayView)> &write)
{
    // Most lists are plain ASCII, scanned and narrowed with vector instructions, a cache's worth
    // at a time.
    if (isAscii(text)) {
        constexpr qsizetype Piece = 64 * 1024;
        for (qsizetype from = 0; from < text.size(); from += Piece) {
            if (!write(text.sliced(from, std::min(Piece, text.size() - from)).toLatin1()))
                return false;
        }
        return true;
    }
    // Beyond ASCII, single bytes that happen to form UTF-8 (such as "Ã©") or UTF-16 after its
    // mark (such as "ÿþ") would read back as other characters; only bytes that are neither come
    // back as windows-1252.
    const auto single = encodeWindows1252(text);
    if (single && !isUtf8(*single) && !decodeUtf16(*single))
        return write(*single);
    return write(encodeUtf8(text));
}

} // namespace ListFiles
