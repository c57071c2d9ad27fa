// Whatever bytes a list file holds and whatever text a list holds, saving and opening again
// gives the same text; a file read as single bytes even keeps its bytes.

#include "listcodec.h"
#include "listfiles.h"

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Whether the bytes are UTF-8; a byte-order mark counts as a character here.
bool isUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

void require(bool holds)
{
    if (!holds)
        std::abort();
}

// The input as UTF-16 code units, with unpaired surrogates (not Unicode) made U+FFFD.
QString unicodeText(const uint8_t *data, size_t size)
{
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(char16_t(data[2 * i] | (data[2 * i + 1] << 8)));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

// Read and written a piece at a time, however small the pieces: the same text and bytes.
void requireSameInPieces(QByteArrayView bytes, const QString &text, qsizetype piece)
{
    ListFiles::Decoder decoder(bytes);
    decoder.setPieceSize(piece);
    QString decoded;
    for (QStringView part = decoder.next(); !part.isEmpty(); part = decoder.next())
        decoded += part;
    require(decoded == ListFiles::decode(bytes) && decoder.size() == decoded.size());
    QByteArray encoded;
    const auto pieces = [&text, piece](const ListFiles::Piece &give) {
        for (qsizetype from = 0; from < text.size(); from += piece) {
            if (!give(QStringView(text).sliced(from, std::min(piece, text.size() - from))))
                return false;
        }
        return true;
    };
    ListFiles::encode(pieces, [&encoded](QByteArrayView part) {
        encoded += part;
        return true;
    });
    require(encoded == ListFiles::encode(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const QString decoded = ListFiles::decode(bytes);
    const QByteArray encoded = ListFiles::encode(decoded);
    require(ListFiles::decode(encoded) == decoded);
    // Bytes read as single bytes (old lists, damaged files) save back unchanged; UTF-16 with a
    // byte-order mark is read as text and saved by the usual rule instead.
    if (!isUtf8(bytes) && decoded == ListFiles::decodeWindows1252(bytes))
        require(encoded == bytes);
    else if (!isUtf8(bytes))
        require(bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"));
    const QString opened = ListFiles::listText(bytes);
    require(ListFiles::listText(ListFiles::fileBytes(opened)) == opened);

    const QString text = unicodeText(data, size);
    require(ListFiles::decode(ListFiles::encode(text)) == text);
    require(ListFiles::listText(ListFiles::fileBytes(text)) == text);

    const qsizetype piece = size > 0 ? 1 + data[0] % 5 : 1;
    requireSameInPieces(bytes, decoded, piece);
    requireSameInPieces(ListFiles::encode(text), text, piece);
    return 0;
}
