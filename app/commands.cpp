#include "commands.h"

#include "busypointer.h"
#include "form.h"
#include "listdocument.h"
#include "listfiles.h"
#include "memory.h"
#include "records.h"

#include <QDir>

#include <array>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString FriendsList = u"txtfriends"_s;
const QString ServerList = u"txtserver"_s;

} // namespace

Commands::Commands(Form &form)
    : m_form(form)
{ }

void Commands::addFriend()
{
    Records::Friend entry;
    entry.name = m_form.text(u"txtname"_s);
    entry.aim = m_form.text(u"txtaim"_s);
    entry.yim = m_form.text(u"txtyim"_s);
    entry.msn = m_form.text(u"txtmsn"_s);
    entry.email = m_form.text(u"txtemail"_s);
    entry.clan = m_form.text(u"txtclan"_s);
    entry.website = m_form.text(u"txtwebsite"_s);
    entry.xbl = m_form.text(u"txtxbl"_s);
    entry.xbc = m_form.text(u"txtxbc"_s);
    entry.xfire = m_form.text(u"txtxfire"_s);
    entry.games = m_form.text(u"txtgames"_s);
    entry.comments = m_form.text(u"txtcomments"_s);
    m_form.appendText(FriendsList, Records::appendedText(Records::friendLines(entry)));
}

void Commands::addServer()
{
    Records::Server entry;
    entry.name = m_form.text(u"txtsname"_s);
    entry.ip = m_form.text(u"txtip"_s);
    entry.password = m_form.text(u"txtpass"_s);
    entry.dedicatedYes = m_form.value(u"optyes"_s);
    entry.dedicatedNo = m_form.value(u"optno"_s);
    entry.comments = m_form.text(u"txtnotes"_s);
    m_form.appendText(ServerList, Records::appendedText(Records::serverLines(entry)));
}

void Commands::clearFields()
{
    for (const QString &field :
         {u"txtname"_s, u"txtaim"_s, u"txtyim"_s, u"txtmsn"_s, u"txtemail"_s, u"txtclan"_s,
          u"txtwebsite"_s, u"txtxbl"_s, u"txtxbc"_s, u"txtxfire"_s, u"txtgames"_s, u"txtcomments"_s,
          u"txtsname"_s, u"txtip"_s, u"txtpass"_s})
        m_form.setText(field, QString());
    m_form.setValue(u"optyes"_s, false);
    m_form.setValue(u"optno"_s, false);
    m_form.setText(u"txtnotes"_s, QString());
}

void Commands::open()
{
    // A first run: nothing to open yet, which is not an error.
    if (ListFiles::isMissing(ListFiles::List::Servers)
        && ListFiles::isMissing(ListFiles::List::Friends)) {
        m_form.showInformation(tr("There are no saved lists yet. They are kept in the folder\n%1"
                                  "\n\nFile, Save (or Options, Create Nesacary Items) creates the "
                                  "list files.")
                                       .arg(QDir::toNativeSeparators(ListFiles::folder())),
                               tr("Open"));
        return;
    }
    if (const QString unsaved = unsavedLists(); !unsaved.isEmpty()) {
        const Question replace{
                tr("Open"),
                tr("%1\n\nOpening the list files replaces what is on screen.").arg(unsaved),
                {Choice::Replace, Choice::Cancel},
                Choice::Cancel,
                Choice::Cancel,
        };
        if (m_form.ask(replace) != Choice::Replace)
            return;
    }
    const BusyPointer busy;
    if (!roomToOpen())
        return;
    if (!openList(ListFiles::List::Servers, ServerList, m_savedServers))
        return;
    openList(ListFiles::List::Friends, FriendsList, m_savedFriends);
}

bool Commands::save()
{
    // Both files are looked at before either is written, so that a Cancel writes nothing.
    if (!mayOverwrite())
        return false;
    const BusyPointer busy;
    if (!saveList(ListFiles::List::Servers, ServerList, m_savedServers))
        return false;
    if (!saveList(ListFiles::List::Friends, FriendsList, m_savedFriends))
        return false;
    m_form.showInformation(tr("File Saved!"), tr("Saved"));
    return true;
}

void Commands::create()
{
    m_form.showInformation(tr("This will create all the files you need to run this program. "
                              "Make sure you have a c:/"),
                           tr("Setting Up"));
    bool written = false;
    for (const auto file : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        // Only missing files are made: a list the user saved is never overwritten here.
        const ListFiles::Created created = ListFiles::create(file, m_form.text(u"txt1"_s));
        if (created.failure) {
            m_form.reportError(describe(*created.failure));
            return;
        }
        if (created.written)
            stamp(file) = created.stamp;
        written = written || created.written;
    }
    if (written)
        m_form.showInformation(tr("File Saved!"), tr("Saved"));
    else
        m_form.showInformation(tr("The list files already exist. Nothing was changed."),
                               tr("Setting Up"));
}

void Commands::about()
{
    m_form.showInformation(tr("Too lazy to make another form for an About page.") + u"\r\n\r\n"_s
                                   + tr("Vonnerby is freeware"),
                           tr("About"));
}

void Commands::exit()
{
    m_form.unload();
}

bool Commands::mayClose()
{
    const QString unsaved = unsavedLists();
    if (unsaved.isEmpty())
        return true;
    const Question close{
            tr("Exit"),
            tr("%1\n\nSave the lists before closing?").arg(unsaved),
            {Choice::Save, Choice::Discard, Choice::Cancel},
            Choice::Save,
            Choice::Cancel,
    };
    switch (m_form.ask(close)) {
    case Choice::Save:
        return save();
    case Choice::Discard:
        return true;
    default:
        return false;
    }
}

namespace {

quint64 mixed(quint64 hash, quint64 word)
{
    hash = (hash ^ word) * 0x9E3779B97F4A7C15ULL;
    return hash ^ (hash >> 29);
}

quint64 word(const char16_t *c)
{
    return quint64(c[0]) | quint64(c[1]) << 16 | quint64(c[2]) << 32 | quint64(c[3]) << 48;
}

} // namespace

bool Commands::Fingerprinter::add(QStringView text)
{
    m_size += text.size();
    const char16_t *c = text.utf16();
    const char16_t *const end = c + text.size();
    // Eight characters at a time in two independent words, wherever the pieces begin and end.
    while (m_held != 0 && c != end) {
        m_pending[m_held++] = *c++;
        if (m_held == 8) {
            m_hash[0] = mixed(m_hash[0], word(m_pending));
            m_hash[1] = mixed(m_hash[1], word(m_pending + 4));
            m_held = 0;
        }
    }
    quint64 even = m_hash[0];
    quint64 odd = m_hash[1];
    for (; end - c >= 8; c += 8) {
        even = mixed(even, word(c));
        odd = mixed(odd, word(c + 4));
    }
    m_hash[0] = even;
    m_hash[1] = odd;
    while (c != end)
        m_pending[m_held++] = *c++;
    return true;
}

Commands::Fingerprint Commands::Fingerprinter::result() const
{
    quint64 hash = mixed(m_hash[0], m_hash[1]);
    for (int i = 0; i < m_held; ++i)
        hash = mixed(hash, m_pending[i]);
    return {m_size, hash};
}

Commands::Fingerprint Commands::fingerprint(const QString &list) const
{
    Fingerprinter text;
    m_form.readList(list, [&text](QStringView piece) { return text.add(piece); });
    return text.result();
}

bool Commands::isUnsaved(const QString &list, const Fingerprint &saved) const
{
    // An unmodified document cannot differ; only an edited one is read and compared, so that
    // typing a record and deleting it again leaves nothing to ask about.
    return m_form.isModified(list) && fingerprint(list) != saved;
}

QString Commands::unsavedLists() const
{
    const bool servers = isUnsaved(ServerList, m_savedServers);
    const bool friends = isUnsaved(FriendsList, m_savedFriends);
    if (servers && friends)
        return tr("The friends list and the server list have changes that are not saved.");
    if (friends)
        return tr("The friends list has changes that are not saved.");
    if (servers)
        return tr("The server list has changes that are not saved.");
    return {};
}

void Commands::markSaved(const QString &list, Fingerprint &saved, const Fingerprint &now)
{
    saved = now;
    m_form.setUnmodified(list);
}

bool Commands::roomToOpen()
{
    // From the files' sizes alone, before anything is read: the bytes, and the least the text
    // they hold takes in a box. A list that cannot fit is refused while the lists on screen
    // are as they were.
    Memory::Need need;
    for (const auto file : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        const qint64 size = ListFiles::stamp(file).size;
        need = need + Memory::Need{size, size} + ListDocument::need(size);
        if (const auto shortfall = Memory::shortfall(need)) {
            m_form.reportError(describe(noMemory(file, shortfall->needed, shortfall->left))
                               + u"\n\n"_s
                               + tr("Neither list was opened; the lists on screen are unchanged."));
            return false;
        }
    }
    return true;
}

bool Commands::openList(ListFiles::List file, const QString &list, Fingerprint &saved)
{
    ListFiles::Opened opened = ListFiles::open(file);
    if (opened.failure) {
        m_form.reportError(describe(*opened.failure));
        return false;
    }
    // Before the box is touched, the text is looked at once in full: how the box will hold it,
    // and whether there is room for that. Plain ASCII has no characters the box would hold
    // differently; where there is room even for the most blocks it could take, that will do.
    ListFiles::ListText &text = opened.text;
    ListDocument::Shape shape = ListDocument::widest(text.size());
    if (!text.isAscii() || Memory::shortfall(shape.need()))
        shape = ListDocument::shape(
                [&text](const ListDocument::Piece &piece) { return text.read(piece); });
    if (const auto shortfall = Memory::shortfall(shape.need())) {
        // Not kept while the message waits.
        text = {};
        const bool servers = file == ListFiles::List::Servers;
        m_form.reportError(
                describe(noMemory(file, shortfall->needed, shortfall->left)) + u"\n\n"_s
                + (servers ? tr("Neither list was opened; the lists on screen are unchanged.")
                           : tr("The server list was opened; the friends list on screen is "
                                "unchanged.")));
        return false;
    }
    // The box may change line breaks on the way in; what it then holds is the baseline.
    Fingerprinter held;
    m_form.setList(
            list, shape, [&text](const ListDocument::Piece &piece) { return text.take(piece); },
            [&held](QStringView piece) { return held.add(piece); });
    stamp(file) = opened.stamp;
    markSaved(list, saved, held.result());
    return true;
}

bool Commands::saveList(ListFiles::List file, const QString &list, Fingerprint &saved)
{
    // Straight from the box, a piece at a time: a huge list is never copied whole.
    const auto text = [this, &list](const ListFiles::Piece &piece) {
        return m_form.readList(list, piece);
    };
    ListFiles::Stamp written;
    if (const auto failure = ListFiles::save(file, text, &written)) {
        m_form.reportError(describe(*failure));
        return false;
    }
    stamp(file) = written;
    markSaved(list, saved, fingerprint(list));
    return true;
}

ListFiles::Failure Commands::noMemory(ListFiles::List file, qint64 needed, qint64 left) const
{
    constexpr qint64 MB = 1024 * 1024;
    ListFiles::Failure failure;
    failure.action = ListFiles::Failure::Action::Open;
    failure.list = file;
    failure.path = QDir::toNativeSeparators(ListFiles::path(file));
    failure.problem = ListFiles::Failure::Problem::NoMemory;
    failure.reason = tr("Opening it needs about %1 MB of memory, and this program can take only "
                        "about %2 MB more now")
                             .arg((needed + MB - 1) / MB)
                             .arg(left / MB);
    return failure;
}

QString Commands::describe(const ListFiles::Failure &failure) const
{
    using Problem = ListFiles::Failure::Problem;
    using Kind = ListFiles::Failure::Kind;
    const bool servers = failure.list == ListFiles::List::Servers;
    QString what;
    QString hint;
    switch (failure.action) {
    case ListFiles::Failure::Action::Save:
        what = servers ? tr("Could not save the server list to")
                       : tr("Could not save the friends list to");
        // Save writes the server list first: by the friends list, that one is already saved.
        hint = servers ? tr("Neither list was saved; the lists on screen are unchanged.")
                       : tr("The server list was saved. The friends list was not; it is "
                            "unchanged on screen.");
        if (failure.problem == Problem::Unconfirmed)
            hint += u' ' + tr("Its file may hold the new list or the old one.");
        else if (failure.problem == Problem::NotAFile)
            hint += u' ' + tr("What stands at that path was left as it was.");
        else if (failure.existed)
            hint += u' ' + tr("Its file keeps what it held before.");
        else if (failure.problem != Problem::NoFolder)
            hint += u' ' + tr("Its file does not exist yet.");
        break;
    case ListFiles::Failure::Action::Open:
        what = servers ? tr("Could not open the server list file")
                       : tr("Could not open the friends list file");
        if (failure.problem == Problem::Missing)
            hint = tr("Options, Create Nesacary Items creates the list files for a first run.");
        break;
    case ListFiles::Failure::Action::Create:
        what = servers ? tr("Could not create the server list file")
                       : tr("Could not create the friends list file");
        break;
    }
    QString reason = failure.reason;
    switch (failure.problem) {
    case Problem::System:
        break;
    case Problem::Missing:
        reason = tr("The file does not exist");
        break;
    case Problem::NoFolder:
        reason = tr("HOME is not set, so there is no folder for the lists. Set HOME, or "
                    "XDG_DATA_HOME, to an absolute path");
        break;
    case Problem::NotAFile:
        switch (failure.kind) {
        case Kind::Directory:
            reason = tr("A folder stands where the list file should be");
            break;
        case Kind::Fifo:
            reason = tr("A named pipe (FIFO) stands there, not a list file");
            break;
        case Kind::Device:
            reason = tr("A device stands there, not a list file");
            break;
        case Kind::Socket:
            reason = tr("A socket stands there, not a list file");
            break;
        case Kind::DanglingLink:
            reason = tr("A link stands there, to a file that does not exist");
            break;
        case Kind::Other:
            reason = tr("Something other than a regular file stands there");
            break;
        }
        break;
    case Problem::TooLarge:
        reason = tr("The file is larger than %1 MiB, more than a list can be")
                         .arg(ListFiles::MaxFileSize / (1024 * 1024));
        break;
    case Problem::NoMemory:
        if (reason.isEmpty())
            reason = tr("There is not enough memory to read it");
        break;
    case Problem::PartWritten:
        reason = tr("Only part of the list was written, and the system gave no reason. The "
                    "disk may be full");
        break;
    case Problem::Unconfirmed:
        reason = tr("The list was written, but the system did not confirm that it is stored: %1")
                         .arg(failure.reason);
        break;
    }
    // The path on a line of its own, so that a long one does not break mid-sentence.
    QString text = what + u'\n' + failure.path + u"\n\n"_s + reason;
    if (!text.endsWith(u'.'))
        text += u'.';
    if (!hint.isEmpty())
        text += u"\n\n"_s + hint;
    return text;
}

ListFiles::Stamp &Commands::stamp(ListFiles::List file)
{
    return file == ListFiles::List::Servers ? m_serverStamp : m_friendsStamp;
}

bool Commands::mayOverwrite()
{
    using ListFiles::List;
    constexpr std::array files{List::Servers, List::Friends};
    // What the user agreed to overwrite: a file that changes again while the question is up is
    // asked about again.
    std::array agreed{m_serverStamp, m_friendsStamp};
    for (;;) {
        std::array<ListFiles::Stamp, files.size()> now;
        QStringList changes;
        for (size_t i = 0; i < files.size(); ++i) {
            now[i] = ListFiles::stamp(files[i]);
            if (now[i] == agreed[i])
                continue;
            const bool servers = files[i] == List::Servers;
            QString change;
            if (!now[i].exists)
                change = servers ? tr("The server list file was deleted outside this window:")
                                 : tr("The friends list file was deleted outside this window:");
            else if (!agreed[i].exists)
                change = servers ? tr("The server list file was created outside this window:")
                                 : tr("The friends list file was created outside this window:");
            else
                change = servers ? tr("The server list file was changed outside this window:")
                                 : tr("The friends list file was changed outside this window:");
            changes << change + u'\n' + QDir::toNativeSeparators(ListFiles::path(files[i]));
        }
        if (changes.isEmpty())
            return true;
        const Question overwrite{
                tr("Save"),
                changes.join(u"\n\n"_s) + u"\n\n"_s
                        + (changes.size() == 1 ? tr("Overwrite it with the list on screen?")
                                               : tr("Overwrite them with the lists on screen?")),
                {Choice::Overwrite, Choice::Cancel},
                Choice::Cancel,
                Choice::Cancel,
        };
        if (m_form.ask(overwrite) != Choice::Overwrite)
            return false;
        agreed = now;
    }
}
