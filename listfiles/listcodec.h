#pragma once

// Bytes of a list file to text and back. The single-byte windows-1252 form is kept wherever it
// holds the text exactly, so older files read as they always did; anything else is UTF-8.
// Lists run to hundreds of megabytes, so both ways also work a piece at a time.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <QStringView>

#include <functional>

namespace ListFiles {

// A text handed out a piece at a time, each piece valid only during the call. A receiver that
// returns false stops the rest, and the giver then returns false too.
using Piece = std::function<bool(QStringView)>;
using Pieces = std::function<bool(const Piece &)>;
using Write = std::function<bool(QByteArrayView)>;

// A text already in memory, handed out as pieces.
Pieces pieces(QStringView text);

// Valid UTF-8 is UTF-8, without its byte-order mark if it has one; so is UTF-16 that starts with
// its byte-order mark (it saves back as windows-1252 or UTF-8, by the rule of encode). Anything
// else is windows-1252, which maps every byte, so such a file saves back byte for byte.
QString decode(QByteArrayView bytes);

// The windows-1252 bytes when decode() reads them back as exactly this text, else UTF-8, with a
// byte-order mark only when the text itself starts with U+FEFF (or decode would drop it).
// Unpaired surrogates are not Unicode and no encoding stores them; they become U+FFFD.
QByteArray encode(QStringView text);

// The same bytes, handed to \a write piece by piece so that a large list needs no second copy
// in memory. Stops and returns false as soon as \a write does.
bool encode(QStringView text, const Write &write);
// The same for a text too large to copy, gone through twice: once to choose the encoding,
// then to write it.
bool encode(const Pieces &text, const Write &write);

// Every byte as its windows-1252 character.
QString decodeWindows1252(QByteArrayView bytes);

// Reads bytes as decode() does, a piece at a time. The bytes must stay while it reads them.
class Decoder
{
public:
    // Looks at every byte once, to choose the encoding and count the characters.
    explicit Decoder(QByteArrayView bytes = {});

    // The characters of the whole text.
    qsizetype size() const { return m_size; }
    // Whether every character is below U+0080.
    bool isAscii() const { return m_ascii; }
    // Leaves out the one CR LF that ends a list file, if the text ends in one: in UTF-16 that is
    // four bytes, and two bytes that look like it may be a character.
    void dropFinalLineEnd();
    // The next piece of text, valid until the next call; empty at the end.
    QStringView next();
    // The bytes read so far; those before it are not looked at again.
    qsizetype consumed() const { return m_position; }
    void rewind();
    // Pieces are at most this many characters; small ones are for tests.
    void setPieceSize(qsizetype chars);

private:
    enum class Encoding { Utf8, Utf16Little, Utf16Big, Windows1252 };

    QByteArrayView m_bytes;
    Encoding m_encoding = Encoding::Utf8;
    qsizetype m_size = 0;
    bool m_ascii = false;
    qsizetype m_position = 0;
    qsizetype m_pieceSize = 64 * 1024;
    QStringDecoder m_utf8;
    QString m_piece;
};

} // namespace ListFiles
