#include "copyformat.h"

#include <QtEndian>

#include <algorithm>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace Recovery {

namespace {

constexpr QByteArrayView Magic = "VonnerbyRecovery";
constexpr quint32 Version = 1;
enum class FileKind : quint32 { State = 1, Journal = 2 };
constexpr qsizetype HeaderSize = 16 + 4 + 4;

enum class Record : quint32 {
    Kept = 1,
    List = 2,
    TextField = 3,
    OptionField = 4,
    End = 5,
    Begin = 16,
    Base = 17,
    Edit = 18,
    Checkpoint = 19,
};

// No list holds more; a larger number is damage, not a list.
constexpr qint64 MaxLength = ListFiles::MaxFileSize;
constexpr QStringView RecordSeparator = u"------";

constexpr std::array<quint32, 256> crcTable()
{
    std::array<quint32, 256> table = {};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<quint32, 256> CrcTable = crcTable();

template<typename T>
void put(QByteArray &out, T value)
{
    const auto le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), sizeof le);
}

void putText(QByteArray &out, QStringView text)
{
    put(out, quint32(text.size()));
    if (text.isEmpty())
        return;
    const qsizetype at = out.size();
    out.resize(at + text.size() * 2);
    qToLittleEndian<quint16>(text.utf16(), text.size(), out.data() + at);
}

void putStamp(QByteArray &out, const ListFiles::Stamp &stamp)
{
    // A field added to the stamp must be kept here too, or a recovered Save would ask for nothing.
    static_assert(sizeof(ListFiles::Stamp) == 48);
    put(out, quint8(stamp.exists));
    put(out, stamp.size);
    put(out, stamp.modified);
    put(out, stamp.device);
    put(out, stamp.inode);
    put(out, stamp.changed);
}

QByteArray header(FileKind kind)
{
    QByteArray out = Magic.toByteArray();
    put(out, Version);
    put(out, quint32(kind));
    return out;
}

QByteArray record(Record type, const QByteArray &payload)
{
    QByteArray out;
    out.reserve(payload.size() + 12);
    put(out, quint32(type));
    put(out, quint32(payload.size()));
    out += payload;
    put(out, crc32(out));
    return out;
}

// Reads little-endian values from bytes; every read past the end fails and leaves ok() false.
class Reader
{
public:
    explicit Reader(QByteArrayView bytes)
        : m_bytes(bytes)
    { }

    template<typename T>
    T take()
    {
        if (!has(sizeof(T)))
            return T();
        const T value = qFromLittleEndian<T>(m_bytes.data() + m_at);
        m_at += sizeof(T);
        return value;
    }
    QString text()
    {
        const qint64 size = take<quint32>();
        if (!has(size * 2) || size == 0)
            return {};
        QString text(size, Qt::Uninitialized);
        qFromLittleEndian<quint16>(m_bytes.data() + m_at, size, text.data());
        m_at += size * 2;
        return text;
    }
    ListFiles::Stamp stamp()
    {
        ListFiles::Stamp stamp;
        stamp.exists = take<quint8>() != 0;
        stamp.size = take<qint64>();
        stamp.modified = take<qint64>();
        stamp.device = take<quint64>();
        stamp.inode = take<quint64>();
        stamp.changed = take<qint64>();
        return stamp;
    }
    QByteArrayView rest() const { return m_bytes.sliced(std::min(m_at, m_bytes.size())); }
    bool ok() const { return m_ok; }
    bool done() const { return m_ok && m_at == m_bytes.size(); }

private:
    bool has(qint64 size)
    {
        m_ok = m_ok && size >= 0 && size <= m_bytes.size() - m_at;
        return m_ok;
    }

    QByteArrayView m_bytes;
    qsizetype m_at = 0;
    bool m_ok = true;
};

// The records of a file, one at a time, up to the first that is not whole.
class Records
{
public:
    enum class Stop { AtEnd, Cut, Damaged };

    Records(QByteArrayView bytes, FileKind kind)
        : m_bytes(bytes)
        , m_at(HeaderSize)
    {
        Reader start(bytes.sliced(std::min(bytes.size(), Magic.size())));
        const quint32 version = start.take<quint32>();
        const quint32 fileKind = start.take<quint32>();
        if (!bytes.startsWith(Magic) || !start.ok() || version != Version
            || fileKind != quint32(kind))
            m_stop = Stop::Damaged;
    }

    // The next whole record, or nothing once they end; stop() says why.
    std::optional<std::pair<Record, QByteArrayView>> next()
    {
        if (m_stop)
            return std::nullopt;
        Reader frame(m_bytes.sliced(m_at));
        const auto type = Record(frame.take<quint32>());
        const qint64 size = frame.take<quint32>();
        if (m_at == m_bytes.size())
            m_stop = Stop::AtEnd;
        else if (!frame.ok() || size + 12 > m_bytes.size() - m_at)
            m_stop = Stop::Cut; // runs past the end: a write the crash cut short
        else if (crc32(m_bytes.sliced(m_at, size + 8))
                 != qFromLittleEndian<quint32>(m_bytes.data() + m_at + 8 + size))
            m_stop = isTail(size + 12) ? Stop::Cut : Stop::Damaged;
        if (m_stop)
            return std::nullopt;
        const QByteArrayView payload = m_bytes.sliced(m_at + 8, size);
        m_at += size + 12;
        return std::pair{type, payload};
    }
    Stop stop() const { return m_stop.value_or(Stop::AtEnd); }
    qsizetype at() const { return m_at; }

private:
    // The last record, written only in part, or blocks the system allocated but never wrote,
    // which read as zeros.
    bool isTail(qsizetype recordSize) const
    {
        const QByteArrayView rest = m_bytes.sliced(m_at);
        return recordSize == rest.size()
                || std::all_of(rest.begin(), rest.end(), [](char c) { return c == 0; });
    }

    QByteArrayView m_bytes;
    qsizetype m_at;
    std::optional<Stop> m_stop;
};

// A long text edited at many places, kept in chunks so that no edit moves all of it.
class ChunkedText
{
public:
    explicit ChunkedText(QStringView text)
    {
        for (qsizetype at = 0; at < text.size(); at += ChunkSize)
            m_chunks.push_back(text.sliced(at, std::min(ChunkSize, text.size() - at)).toString());
    }

    // \a position and \a removed lie within the text.
    void replace(qsizetype position, qsizetype removed, QStringView added)
    {
        size_t first = 0;
        while (first < m_chunks.size() && position > m_chunks[first].size())
            position -= m_chunks[first++].size();
        if (first == m_chunks.size())
            m_chunks.emplace_back();
        size_t last = first;
        for (qsizetype at = position; removed > 0; at = 0, ++last) {
            const qsizetype n = std::min(removed, m_chunks[last].size() - at);
            m_chunks[last].remove(at, n);
            removed -= n;
        }
        const size_t touched = std::max(first + 1, last);
        QString &chunk = m_chunks[first];
        chunk.insert(position, added);
        std::vector<QString> pieces;
        if (chunk.size() > 2 * ChunkSize) {
            for (qsizetype at = ChunkSize; at < chunk.size(); at += ChunkSize)
                pieces.push_back(chunk.sliced(at, std::min(ChunkSize, chunk.size() - at)));
            chunk.truncate(ChunkSize);
        }
        const auto from = m_chunks.begin() + qsizetype(first);
        m_chunks.insert(from + 1, pieces.begin(), pieces.end());
        const auto begin = m_chunks.begin() + qsizetype(first);
        const auto end = m_chunks.begin() + qsizetype(touched + pieces.size());
        m_chunks.erase(std::remove_if(begin, end, [](const QString &c) { return c.isEmpty(); }),
                       end);
    }

    QString text() const
    {
        QString all;
        for (const QString &chunk : m_chunks)
            all += chunk;
        return all;
    }

private:
    static constexpr qsizetype ChunkSize = 16 * 1024;
    std::vector<QString> m_chunks;
};

struct Edit
{
    qint64 position = 0;
    qint64 removed = 0;
    QString added;
};

std::optional<Edit> readEdit(QByteArrayView payload, qint64 length)
{
    Reader in(payload);
    Edit edit{in.take<qint64>(), in.take<qint64>(), in.text()};
    const bool fits = edit.position >= 0 && edit.removed >= 0 && edit.position <= length
            && edit.removed <= length - edit.position
            && length - edit.removed + edit.added.size() <= MaxLength;
    if (!in.done() || !fits)
        return std::nullopt;
    return edit;
}

qsizetype countRecords(QStringView text)
{
    qsizetype count = 0;
    for (qsizetype start = 0; start <= text.size();) {
        qsizetype end = text.indexOf(u"\r\n", start);
        if (end < 0)
            end = text.size();
        count += text.sliced(start, end - start) == RecordSeparator;
        start = end + 2;
    }
    return count;
}

} // namespace

bool Fields::isEmpty() const
{
    return std::all_of(texts.begin(), texts.end(), [](const auto &f) { return f.second.isEmpty(); })
            && std::none_of(options.begin(), options.end(), [](const auto &f) { return f.second; });
}

quint32 crc32(QByteArrayView bytes, quint32 crc)
{
    crc = ~crc;
    for (const char byte : bytes)
        crc = CrcTable[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

QByteArray stateFile(const State &state)
{
    QByteArray out = header(FileKind::State);
    QByteArray payload;
    put(payload, state.kept);
    out += record(Record::Kept, payload);
    for (const auto list : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        payload.clear();
        put(payload, quint8(list));
        put(payload, state.generations[size_t(list)]);
        put(payload, state.journalSizes[size_t(list)]);
        putStamp(payload, state.stamps[size_t(list)]);
        out += record(Record::List, payload);
    }
    for (const auto &[name, text] : state.fields.texts) {
        payload.clear();
        putText(payload, name);
        putText(payload, text);
        out += record(Record::TextField, payload);
    }
    for (const auto &[name, checked] : state.fields.options) {
        payload.clear();
        putText(payload, name);
        put(payload, quint8(checked));
        out += record(Record::OptionField, payload);
    }
    return out + record(Record::End, {});
}

std::optional<State> readState(QByteArrayView bytes)
{
    State state;
    Records records(bytes, FileKind::State);
    bool kept = false;
    std::array<bool, 2> lists = {};
    while (const auto next = records.next()) {
        Reader in(next->second);
        switch (next->first) {
        case Record::Kept:
            state.kept = in.take<qint64>();
            kept = true;
            break;
        case Record::List: {
            const quint8 list = in.take<quint8>();
            if (list > 1)
                return std::nullopt;
            state.generations[list] = in.take<quint32>();
            state.journalSizes[list] = in.take<qint64>();
            state.stamps[list] = in.stamp();
            lists[list] = true;
            break;
        }
        case Record::TextField: {
            QString name = in.text();
            state.fields.texts.append({name, in.text()});
            break;
        }
        case Record::OptionField: {
            QString name = in.text();
            state.fields.options.append({name, in.take<quint8>() != 0});
            break;
        }
        case Record::End:
            // Written in one piece and put in place whole: anything short of this is damage.
            if (kept && lists[0] && lists[1] && records.at() == bytes.size())
                return state;
            return std::nullopt;
        default:
            return std::nullopt;
        }
        if (!in.done())
            return std::nullopt;
    }
    return std::nullopt;
}

QByteArray journalStart(ListFiles::List list, quint32 generation, Baseline baseline,
                        bool separatorsAreBreaks)
{
    QByteArray payload;
    put(payload, quint8(list));
    put(payload, generation);
    put(payload, quint8(baseline));
    put(payload, quint8(separatorsAreBreaks));
    return header(FileKind::Journal) + record(Record::Begin, payload);
}

QByteArray baseHeader(qint64 size)
{
    QByteArray out;
    put(out, quint32(Record::Base));
    put(out, quint32(size));
    return out;
}

QByteArray checksum(quint32 crc)
{
    QByteArray out;
    put(out, crc);
    return out;
}

QByteArray edit(qint64 position, qint64 removed, QStringView added)
{
    QByteArray payload;
    payload.reserve(20 + added.size() * 2);
    put(payload, position);
    put(payload, removed);
    putText(payload, added);
    return record(Record::Edit, payload);
}

QByteArray checkpoint(qint64 length, bool separatorsAreBreaks, qint64 kept)
{
    QByteArray payload;
    put(payload, length);
    put(payload, quint8(separatorsAreBreaks));
    put(payload, kept);
    return record(Record::Checkpoint, payload);
}

KeptList readJournal(QByteArrayView bytes, ListFiles::List list, quint32 generation)
{
    KeptList kept;
    kept.generation = generation;
    Records records(bytes, FileKind::Journal);
    const auto begin = records.next();
    if (!begin || begin->first != Record::Begin)
        return kept;
    Reader start(begin->second);
    const quint8 ofList = start.take<quint8>();
    const quint32 ofGeneration = start.take<quint32>();
    const auto baseline = Baseline(start.take<quint8>());
    bool separatorsAreBreaks = start.take<quint8>() != 0;
    if (!start.done() || ofList != quint8(list) || ofGeneration != generation
        || baseline > Baseline::Unknown)
        return kept;
    QString base;
    if (baseline == Baseline::File) {
        const auto file = records.next();
        if (!file || file->first != Record::Base || file->second.size() > MaxLength)
            return kept;
        base = ListFiles::listText(file->second);
    }
    const QString raw = rawText(base);
    if (baseline != Baseline::Unknown)
        kept.saved = listText(raw, false);
    kept.journalSize = records.at();

    // Lengths alone tell which edits fit; only those up to the last checkpoint are applied.
    std::vector<Edit> edits;
    qint64 length = raw.size();
    size_t applied = 0;
    bool damaged = false;
    while (const auto next = records.next()) {
        Reader in(next->second);
        if (next->first == Record::Edit) {
            const auto change = readEdit(next->second, length);
            if (!change) {
                damaged = true;
                break;
            }
            length += change->added.size() - change->removed;
            edits.push_back(*change);
        } else if (next->first == Record::Checkpoint) {
            const qint64 atCheckpoint = in.take<qint64>();
            const bool breaks = in.take<quint8>() != 0;
            const qint64 time = in.take<qint64>();
            if (!in.done() || atCheckpoint != length) {
                damaged = true;
                break;
            }
            separatorsAreBreaks = breaks;
            kept.kept = time;
            kept.journalSize = records.at();
            applied = edits.size();
        } else {
            damaged = true;
            break;
        }
    }
    // Edits after the last checkpoint are a flush the crash cut short, younger than any promise.
    damaged = damaged || records.stop() == Records::Stop::Damaged;
    kept.whole = damaged ? KeptList::Whole::LatestLost : KeptList::Whole::Yes;

    ChunkedText text(raw);
    for (size_t i = 0; i < applied; ++i)
        text.replace(qsizetype(edits[i].position), qsizetype(edits[i].removed), edits[i].added);
    const QString rebuilt = text.text();
    kept.rawLength = rebuilt.size();
    kept.text = listText(rebuilt, separatorsAreBreaks);
    kept.records = countRecords(kept.text);
    return kept;
}

QString rawText(QStringView text)
{
    QString raw(text.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(raw.data());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        // As a text document reads plain text: CR LF, CR, LF and its own break characters each
        // end a paragraph; a line separator stays one.
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        const bool isBreak = c == u'\r' || c == u'\n' || c == QChar::ParagraphSeparator
                || c == 0xFDD0 || c == 0xFDD1;
        *out++ = isBreak ? char16_t(QChar::ParagraphSeparator) : c;
    }
    raw.truncate(out - reinterpret_cast<const char16_t *>(raw.constData()));
    return raw;
}

QString listText(QStringView raw, bool separatorsAreBreaks)
{
    const auto isBreak = [separatorsAreBreaks](QChar c) {
        return c == QChar::ParagraphSeparator || (separatorsAreBreaks && c == QChar::LineSeparator);
    };
    QString text(raw.size() + std::count_if(raw.begin(), raw.end(), isBreak), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (const QChar c : raw) {
        if (isBreak(c)) {
            *out++ = u'\r';
            *out++ = u'\n';
        } else {
            *out++ = c.unicode();
        }
    }
    return text;
}

} // namespace Recovery
