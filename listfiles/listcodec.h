#pragma once

// Bytes of a list file to text and back. The single-byte windows-1252 form is kept wherever it
// holds the text exactly, so older files read as they always did; anything else is UTF-8.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>

namespace ListFiles {

// Valid UTF-8 is UTF-8, without its byte-order mark if it has one; so is UTF-16 that starts with
// its byte-order mark (it saves back as windows-1252 or UTF-8, by the rule of encode). Anything
// else is windows-1252, which maps every byte, so such a file saves back byte for byte.
QString decode(QByteArrayView bytes);

// The windows-1252 bytes when decode() reads them back as exactly this text, else UTF-8, with a
// byte-order mark only when the text itself starts with U+FEFF (or decode would drop it).
// Unpaired surrogates are not Unicode and no encoding stores them; they become "?".
QByteArray encode(QStringView text);

// The same bytes, handed to \a write piece by piece so that a large list needs no second copy
// in memory. Stops and returns false as soon as \a write does.
bool encode(QStringView text, const std::function<bool(QByteArrayView)> &write);

// Every byte as its windows-1252 character.
QString decodeWindows1252(QByteArrayView bytes);

} // namespace ListFiles
