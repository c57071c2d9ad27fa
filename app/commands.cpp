#include "commands.h"

#include "busypointer.h"
#include "copies.h"
#include "form.h"
#include "keeper.h"
#include "listdocument.h"
#include "listfiles.h"
#include "memory.h"
#include "records.h"

#include <QDir>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString FriendsList = u"txtfriends"_s;
const QString ServerList = u"txtserver"_s;

// Reading a byte from the disk takes about a tenth of the time that building a character of the
// list in its box does; the progress bar counts in characters built.
constexpr qint64 ReadCost = 10;

} // namespace

class Commands::Steps
{
public:
    Steps(Commands &commands, const QString &text, qint64 total)
        : m_commands(commands)
        , m_progress(commands.m_form.progress(text))
        , m_total(total)
    {
        // One at a time: the window lets no other command start while the progress is up.
        Q_ASSERT(!commands.m_steps);
        commands.m_steps = this;
    }
    ~Steps() { close(); }
    Q_DISABLE_COPY_MOVE(Steps)

    void setText(const QString &text)
    {
        if (m_progress)
            m_progress->setText(text);
    }
    // The work to do turned out to be \a more than expected (or less).
    void expect(qint64 more) { m_total = std::max(qint64(0), m_total + more); }
    // \a count more done; false once the command is to stop.
    bool advance(qint64 count)
    {
        m_done = std::min(m_done + count, m_total);
        if (!m_stopped && m_progress)
            m_stopped = !m_progress->advance(m_done, m_total);
        return !stopped();
    }
    bool stopped() const { return m_stopped || m_interrupted; }
    bool interrupted() const { return m_interrupted; }
    void interrupt() { m_interrupted = true; }
    // Gone before the command says anything more, which nothing interrupts.
    void close()
    {
        m_progress.reset();
        if (m_commands.m_steps == this)
            m_commands.m_steps = nullptr;
    }

private:
    Commands &m_commands;
    std::unique_ptr<Progress> m_progress;
    qint64 m_total = 0;
    qint64 m_done = 0;
    bool m_stopped = false;
    bool m_interrupted = false;
};

struct Commands::Opening
{
    ListFiles::List file;
    const QString &box;
    Fingerprint &saved;
    std::unique_ptr<ListBox::Replacement> list = {}; // built, not yet shown
    Fingerprint held = {};
    qsizetype records = 0;
    ListFiles::Stamp stamp = {};
};

struct Commands::Saving
{
    ListFiles::List file;
    const QString &box;
    Fingerprint &saved;
    ListFiles::Staged staged = {};
    Fingerprint written = {};
};

Commands::Commands(Form &form)
    : m_form(form)
{ }

void Commands::takeStamps()
{
    m_serverStamp = ListFiles::stamp(ListFiles::List::Servers);
    m_friendsStamp = ListFiles::stamp(ListFiles::List::Friends);
}

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
    const QString name = entry.name.trimmed();
    m_form.announce(name.isEmpty() ? tr("Added a friend with no name to the friends list.")
                                   : tr("Added %1 to the friends list.").arg(name));
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
    const QString name = entry.name.trimmed();
    m_form.announce(name.isEmpty() ? tr("Added a server with no name to the server list.")
                                   : tr("Added %1 to the server list.").arg(name));
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
    m_form.announce(tr("Cleared every entry field. The lists are unchanged."));
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
    if (m_steps)
        return;
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
    qint64 bytes = 0;
    if (!roomToOpen(bytes))
        return;
    // Both lists are built while the old ones stay on screen, and shown only once both are
    // there: stopped half-way, Open leaves everything as it was.
    Steps steps(*this, tr("Opening the server list…"), bytes / ReadCost + bytes);
    std::array<Opening, 2> lists{{{ListFiles::List::Servers, ServerList, m_savedServers},
                                  {ListFiles::List::Friends, FriendsList, m_savedFriends}}};
    QString failed;
    for (Opening &list : lists) {
        if (list.file == ListFiles::List::Friends)
            steps.setText(tr("Opening the friends list…"));
        failed = openList(list, steps);
        if (!failed.isEmpty() || steps.stopped())
            break;
    }
    steps.close();
    if (steps.stopped()) {
        if (!steps.interrupted())
            m_form.announce(tr("Open was cancelled. The lists are as they were."));
        return;
    }
    // A list file that failed leaves its list as it was; the server list, read first, is shown.
    for (Opening &list : lists) {
        if (list.list)
            showList(list);
    }
    if (!failed.isEmpty()) {
        m_form.reportError(failed);
        return;
    }
    const QLocale locale;
    const qsizetype servers = lists[0].records;
    const qsizetype friends = lists[1].records;
    m_form.announce(tr("Opened the lists: %1 and %2.")
                            .arg(friends == 1 ? tr("1 friend")
                                              : tr("%1 friends").arg(locale.toString(friends)),
                                 servers == 1 ? tr("1 server")
                                              : tr("%1 servers").arg(locale.toString(servers))));
}

bool Commands::save()
{
    // Both files are looked at before either is written, so that a Cancel writes nothing.
    if (m_steps || !mayOverwrite())
        return false;
    const BusyPointer busy;
    // Each list is gone through twice: to choose its encoding, and to write it.
    Steps steps(*this, tr("Saving the server list…"),
                2 * (m_form.listSize(ServerList) + m_form.listSize(FriendsList)));
    // Both lists are written next to their files before either takes its file's place, so that
    // a Save stopped half-way changes no file.
    std::array<Saving, 2> lists{{{ListFiles::List::Servers, ServerList, m_savedServers},
                                 {ListFiles::List::Friends, FriendsList, m_savedFriends}}};
    for (Saving &list : lists) {
        if (list.file == ListFiles::List::Friends)
            steps.setText(tr("Saving the friends list…"));
        stageList(list, steps);
        if (list.staged.failure() || steps.stopped())
            break;
    }
    steps.close();
    if (steps.stopped()) {
        if (!steps.interrupted())
            m_form.showInformation(tr("Save was cancelled before either list file was "
                                      "replaced. Neither list was saved; the list files keep "
                                      "what they held."),
                                   tr("Save"));
        return false;
    }
    bool confirmed = true;
    // A list that could not be written stops Save there; the server list, written first, takes
    // its place all the same.
    for (Saving &list : lists) {
        if (const auto &failure = list.staged.failure()) {
            m_form.reportError(describe(*failure));
            return false;
        }
        if (!commitList(list, confirmed))
            return false;
    }
    // Not "File Saved!" without the system's word, nor a close that waits on this Save.
    if (!confirmed)
        return false;
    m_form.showInformation(tr("File Saved!"), tr("Saved"));
    return true;
}

void Commands::create()
{
    QString prompt = tr("This will create all the files you need to run this program.");
    // There is no drive C to check for: say where the files go instead.
    const QString folder = QDir::toNativeSeparators(ListFiles::folder());
    prompt += u' ' + tr("They are kept in the folder\n%1").arg(folder);
    m_form.showInformation(prompt, tr("Setting Up"));
    bool written = false;
    bool confirmed = true;
    for (const auto file : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        // Only missing files are made: a list the user saved is never overwritten here.
        const ListFiles::Created created = ListFiles::create(file, m_form.text(u"txt1"_s));
        if (created.written)
            stamp(file) = created.stamp;
        if (created.written && m_keeper)
            m_keeper->setStamp(file, created.stamp);
        written = written || created.written;
        if (created.failure) {
            m_form.reportError(describe(*created.failure));
            if (created.failure->problem != ListFiles::Failure::Problem::Unconfirmed)
                return;
            confirmed = false;
        }
    }
    if (!confirmed)
        return;
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

bool Commands::interrupt()
{
    if (!m_steps)
        return false;
    m_steps->interrupt();
    return true;
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

Commands::Fingerprint Commands::fingerprintOf(QStringView text)
{
    Fingerprinter fingerprinter;
    fingerprinter.add(text);
    return fingerprinter.result();
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

bool Commands::roomToOpen(qint64 &bytes)
{
    // From the files' sizes alone, before anything is read: the bytes, and the least the text
    // they hold takes in a box, beside the lists on screen. A list that cannot fit is refused
    // while the lists on screen are as they were.
    Memory::Need need;
    bytes = 0;
    for (const auto file : {ListFiles::List::Servers, ListFiles::List::Friends}) {
        const qint64 size = ListFiles::stamp(file).size;
        bytes += size;
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

QString Commands::openList(Opening &list, Steps &steps)
{
    // Reading counts for its part as it goes, and for what it found the list to hold.
    qint64 read = 0;
    const qint64 expected = ListFiles::stamp(list.file).size;
    ListFiles::Opened opened = ListFiles::open(list.file, [&steps, &read](qint64 bytes) {
        const qint64 more = bytes / ReadCost - read;
        read += more;
        return steps.advance(more);
    });
    if (steps.stopped())
        return {};
    if (opened.failure)
        return describe(*opened.failure);
    ListFiles::ListText &text = opened.text;
    steps.expect(text.size() - expected);
    const auto advancing = [&steps](const ListDocument::Piece &piece) {
        return [&steps, &piece](QStringView part) {
            return piece(part) && steps.advance(part.size());
        };
    };
    // Before the list is built, the text is looked at once in full: how the box will hold it,
    // and whether there is room for that. Plain ASCII has no characters the box would hold
    // differently; where there is room even for the most blocks it could take, that will do.
    ListDocument::Shape shape = ListDocument::widest(text.size());
    if (!text.isAscii() || Memory::shortfall(shape.need())) {
        steps.expect(text.size());
        shape = ListDocument::shape([&text, &advancing](const ListDocument::Piece &piece) {
            return text.read(advancing(piece));
        });
        if (steps.stopped())
            return {};
    }
    if (const auto shortfall = Memory::shortfall(shape.need())) {
        const bool servers = list.file == ListFiles::List::Servers;
        return describe(noMemory(list.file, shortfall->needed, shortfall->left)) + u"\n\n"_s
                + (servers ? tr("Neither list was opened; the lists on screen are unchanged.")
                           : tr("The server list was opened; the friends list on screen is "
                                "unchanged."));
    }
    // The box may change line breaks on the way in; what it then holds is the baseline.
    Fingerprinter held;
    Records::Counter counted;
    list.list = m_form.buildList(
            list.box, shape,
            [&text, &advancing](const ListDocument::Piece &piece) {
                return text.take(advancing(piece));
            },
            [&held, &counted](QStringView piece) {
                counted.add(piece);
                return held.add(piece);
            });
    list.held = held.result();
    list.records = counted.records();
    list.stamp = opened.stamp;
    return {};
}

void Commands::showList(Opening &list)
{
    m_form.showList(list.box, std::move(list.list));
    stamp(list.file) = list.stamp;
    markSaved(list.box, list.saved, list.held);
    // The keeper hears of no edit: the list it kept is gone with its document.
    if (m_keeper)
        m_keeper->setBaseline(list.file, list.stamp);
}

void Commands::stageList(Saving &list, Steps &steps)
{
    // Straight from the box, a piece at a time: a huge list is never copied whole. What is
    // written last is what the list file will hold.
    Fingerprinter written;
    const auto text = [this, &list, &steps, &written](const ListFiles::Piece &piece) {
        written = Fingerprinter();
        return m_form.readList(list.box, [&piece, &steps, &written](QStringView part) {
            written.add(part);
            return piece(part) && steps.advance(part.size());
        });
    };
    list.staged = ListFiles::stage(list.file, text);
    list.written = written.result();
}

bool Commands::commitList(Saving &list, bool &confirmed)
{
    ListFiles::Stamp written;
    if (const auto failure = list.staged.commit(&written)) {
        m_form.reportError(describe(*failure));
        // The file holds this list now, confirmed or not: Save goes on.
        if (failure->problem != ListFiles::Failure::Problem::Unconfirmed)
            return false;
        confirmed = false;
    }
    stamp(list.file) = written;
    markSaved(list.box, list.saved, list.written);
    if (m_keeper)
        m_keeper->setBaseline(list.file, written);
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
        if (failure.problem == Problem::Unconfirmed) {
            what = servers ? tr("The server list was written to")
                           : tr("The friends list was written to");
            hint = servers ? tr("Save goes on with the friends list.")
                           : tr("The server list was saved.");
            hint += u' ' + tr("Save again later to make sure that the lists are stored.");
        } else if (failure.problem == Problem::NotAFile)
            hint += u' ' + tr("What stands at that path was left as it was.");
        else if (failure.existed)
            hint += u' ' + tr("Its file keeps what it held before.");
        else if (failure.problem != Problem::NoFolder && failure.problem != Problem::RelativeHome)
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
        if (failure.problem == Problem::Unconfirmed) {
            what = servers ? tr("The server list file was created")
                           : tr("The friends list file was created");
            if (servers)
                hint = tr("Create goes on with the friends list file.");
        }
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
    case Problem::RelativeHome:
        reason = tr("HOME is not an absolute path, so there is no folder for the lists. Set HOME, "
                    "or XDG_DATA_HOME, to an absolute path");
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
        case Kind::UntrustedLink:
            reason = tr("A link that belongs to another user stands on the way to it:\n%1\n\nRun "
                        "as root, Vonnerby follows only links that belong to root")
                             .arg(failure.link);
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
        reason = tr("The system did not confirm that it is stored: %1").arg(failure.reason);
        break;
    case Problem::Stopped:
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
            // The stamp alone: a file another copy rewrote with this very list is named too, as
            // telling would mean reading it whole.
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

const QStringList &Commands::textFields()
{
    static const QStringList fields{
            u"txtname"_s,  u"txtaim"_s,   u"txtyim"_s,     u"txtmsn"_s,
            u"txtemail"_s, u"txtclan"_s,  u"txtwebsite"_s, u"txtxbl"_s,
            u"txtxbc"_s,   u"txtxfire"_s, u"txtgames"_s,   u"txtcomments"_s,
            u"txtsname"_s, u"txtip"_s,    u"txtpass"_s,    u"txtnotes"_s,
    };
    return fields;
}

const QStringList &Commands::optionFields()
{
    static const QStringList options{u"optyes"_s, u"optno"_s};
    return options;
}

void Commands::keepWorkWith(Recovery::Keeper &keeper)
{
    m_keeper = &keeper;
    for (const auto file : {ListFiles::List::Servers, ListFiles::List::Friends})
        keeper.setStamp(file, stamp(file));
    // Reading lists back takes their bytes, up to two bytes for each in the list rebuilt and in
    // the list as last saved, and the boxes' documents.
    const auto roomFor = [](qint64 bytes) {
        return !Memory::shortfall(Memory::Need{5 * bytes, 5 * bytes} + ListDocument::need(bytes));
    };
    // One that cannot be read is set aside, and the next is offered in its place.
    while (std::optional<Recovery::Copy> copy = Recovery::takeStaleCopy(roomFor)) {
        if (copy->tooLargeNow) {
            m_form.reportError(
                    tr("Work that Vonnerby kept aside when it last ended is larger than it has "
                       "the memory to read back now:\n%1\n\nIt stays there, and is offered "
                       "again at the next start.")
                            .arg(QDir::toNativeSeparators(copy->path)));
            return;
        }
        if (!copy->unreadable) {
            offerRecovery(*copy);
            return;
        }
        const QString path = QDir::toNativeSeparators(copy->path);
        const QString aside = QDir::toNativeSeparators(Recovery::setAside(*copy));
        m_form.reportError(
                tr("Work that Vonnerby kept aside when it last ended could not be read:\n%1\n\n%2.")
                        .arg(path, *copy->unreadable)
                + u"\n\n"_s
                + (aside.isEmpty()
                           ? tr("It could not be moved out of the way either; delete it to be "
                                "rid of this message.")
                           : tr("It was moved to\n%1\nand is not offered again; delete it when "
                                "you no longer need it.")
                                     .arg(aside)));
        if (aside.isEmpty())
            return;
    }
}

void Commands::reportKeepingFailure(const QString &path, int error)
{
    QString why;
    switch (error) {
    case Recovery::NotOwned:
        why = tr("That folder belongs to another user, who could read or change what is kept "
                 "there, so nothing is kept in it.");
        break;
    case Recovery::UntrustedLink:
        why = tr("That link belongs to another user. Run as root, Vonnerby follows only links "
                 "that belong to root.");
        break;
    default:
        why = QString::fromLocal8Bit(std::strerror(error)) + u'.';
    }
    const QString where = path.isEmpty()
            ? tr("Neither XDG_STATE_HOME nor HOME names a folder for it.")
            : path + u"\n\n"_s + why;
    m_form.reportError(tr("Unsaved work cannot be kept aside in case Vonnerby ends "
                          "unexpectedly:\n%1\n\nTyping goes on as usual, and Vonnerby keeps "
                          "trying; File, Save keeps the lists safe.")
                               .arg(where));
}

void Commands::offerRecovery(Recovery::Copy &copy)
{
    using Whole = Recovery::KeptList::Whole;
    QStringList held;
    for (const auto file : {ListFiles::List::Friends, ListFiles::List::Servers}) {
        const Recovery::KeptList &kept = copy.lists[size_t(file)];
        const bool friends = file == ListFiles::List::Friends;
        QString line = friends ? tr("Friends list: ") : tr("Server list: ");
        if (kept.whole == Whole::No)
            line += tr("could not be read, and stays as it is");
        else
            line += kept.records == 1 ? tr("1 record") : tr("%1 records").arg(kept.records);
        if (kept.whole == Whole::LatestLost)
            line += tr(" (its latest changes could not be read)");
        held << line;
    }
    held << (copy.fields.isEmpty() ? tr("Entry fields: empty") : tr("Entry fields: filled in"));
    const Question question{
            tr("Recover"),
            tr("Vonnerby did not close normally. It kept unsaved work aside, last on %1:\n\n%2"
               "\n\nRecover puts the lists and the fields back as they were; Discard deletes "
               "the work kept aside.")
                    .arg(QLocale().toString(copy.kept.toLocalTime(), QLocale::ShortFormat),
                         held.join(u'\n')),
            {Choice::Recover, Choice::Discard},
            Choice::Recover,
            Choice::Cancel,
    };
    switch (m_form.ask(question)) {
    case Choice::Recover:
        recover(copy);
        m_keeper->adopt(std::move(copy));
        break;
    case Choice::Discard:
        Recovery::discard(copy);
        break;
    default:
        // Nothing decided: it is offered again at the next start.
        break;
    }
}

void Commands::recover(const Recovery::Copy &copy)
{
    const struct
    {
        ListFiles::List file;
        const QString &box;
        Fingerprint &saved;
    } lists[] = {{ListFiles::List::Servers, ServerList, m_savedServers},
                 {ListFiles::List::Friends, FriendsList, m_savedFriends}};
    for (const auto &[file, box, saved] : lists) {
        const Recovery::KeptList &kept = copy.lists[size_t(file)];
        if (kept.whole == Recovery::KeptList::Whole::No)
            continue;
        m_form.setText(box, kept.text);
        stamp(file) = copy.stamps[size_t(file)];
        // Unsaved as before; typing it back to what was saved makes it saved again.
        saved = kept.saved ? fingerprintOf(*kept.saved) : Fingerprint{-1, 0};
        if (kept.saved != kept.text)
            m_form.setModified(box);
    }
    for (const auto &[name, text] : copy.fields.texts) {
        if (textFields().contains(name))
            m_form.setText(name, text);
    }
    for (const auto &[name, checked] : copy.fields.options) {
        if (optionFields().contains(name))
            m_form.setValue(name, checked);
    }
}
