#include "records.h"

#include <algorithm>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace Records {

namespace {

// The first LF from \a p on, or \a end; eight characters at a time. A list's lines are short,
// and a search through QStringView costs more to start than to run.
const char16_t *findLineFeed(const char16_t *p, const char16_t *end)
{
#ifdef __SSE2__
    const __m128i lineFeed = _mm_set1_epi16(u'\n');
    for (; end - p >= 8; p += 8) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        if (const int found = _mm_movemask_epi8(_mm_cmpeq_epi16(chars, lineFeed)))
            return p + __builtin_ctz(unsigned(found)) / 2;
    }
#endif
    return std::find(p, end, u'\n');
}

} // namespace

QStringList friendLines(const Friend &entry)
{
    // The prefixes are the list's own wording, not the panel's labels.
    return {
            Separator.toString(),
            u"Name: "_s + entry.name,
            u"Aim: "_s + entry.aim,
            u"YIM: "_s + entry.yim,
            u"MSN: "_s + entry.msn,
            u"Email: "_s + entry.email,
            u"Clan: "_s + entry.clan,
            u"Website: "_s + entry.website,
            u"Xbl: "_s + entry.xbl,
            u"Xbc: "_s + entry.xbc,
            u"Xfire: "_s + entry.xfire,
            u"Games Friend has: "_s + entry.games,
            u"Comments: "_s + entry.comments,
    };
}

QStringList serverLines(const Server &entry)
{
    QStringList lines{
            Separator.toString(),
            u"Name: "_s + entry.name,
            u"IP: "_s + entry.ip,
            u"Password: "_s + entry.password,
    };
    if (entry.dedicatedYes)
        lines << u"Dedicated: Yes"_s;
    if (entry.dedicatedNo)
        lines << u"Dedicated: No"_s;
    lines << u"Comments: "_s + entry.comments;
    return lines;
}

QString appendedText(const QStringList &lines)
{
    qsizetype size = 0;
    for (const QString &line : lines)
        size += LineBreak.size() + line.size();
    QString text;
    text.reserve(size);
    for (const QString &line : lines)
        text.append(LineBreak).append(line);
    return text;
}

void Counter::add(QStringView piece)
{
    const char16_t *p = piece.utf16();
    const char16_t *const end = p + piece.size();
    while (p != end) {
        const char16_t c = *p;
        if (c == u'\r' || c == u'\n') {
            m_records += m_dashes == Separator.size();
            m_dashes = 0;
            ++p;
        } else if (c == u'-' && m_dashes >= 0 && m_dashes < Separator.size()) {
            ++m_dashes;
            ++p;
        } else {
            // Dashes are rare but in separators: the rest of any other line is skipped unread.
            m_dashes = -1;
            p = findLineFeed(p, end);
        }
    }
}

qsizetype Counter::records() const
{
    return m_records + (m_dashes == Separator.size());
}

} // namespace Records
