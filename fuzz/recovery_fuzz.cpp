// Whatever bytes stand in a recovery copy's files, reading them neither crashes nor hangs; what
// reads back whole writes out and reads back the same.

#include "copyformat.h"

#include <QtEndian>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool holds)
{
    if (!holds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    if (const auto state = Recovery::readState(bytes)) {
        const auto again = Recovery::readState(Recovery::stateFile(*state));
        require(again && again->generations == state->generations
                && again->journalSizes == state->journalSizes && again->stamps == state->stamps
                && again->fields == state->fields);
    }
    // A journal names its list and generation in its first record.
    const quint32 generation = size >= 37 ? qFromLittleEndian<quint32>(data + 33) : 0;
    for (const auto list : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        const Recovery::KeptList kept = Recovery::readJournal(bytes, list, generation);
        if (kept.whole != Recovery::KeptList::Whole::Yes)
            continue;
        // The same list as one edit from nothing reads back as the same text.
        const QString raw = Recovery::rawText(kept.text);
        const QByteArray rewritten =
                Recovery::journalStart(list, 7, Recovery::Baseline::Unknown, false)
                + Recovery::edit(0, 0, raw) + Recovery::checkpoint(raw.size(), false, kept.kept);
        const Recovery::KeptList again = Recovery::readJournal(rewritten, list, 7);
        require(again.whole == Recovery::KeptList::Whole::Yes);
        require(Recovery::rawText(again.text) == raw);
    }
    return 0;
}
