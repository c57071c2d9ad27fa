#include "mainwindow.h"

#include "commands.h"
#include "dialogmessages.h"
#include "form.h"
#include "listbox.h"
#include "listtabs.h"
#include "optionbutton.h"
#include "optiongroup.h"
#include "recoverylink.h"
#include "terminationsignals.h"
#include "textbox.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

// The layout is drawn in twips, 15 to a pixel at 96 DPI; Qt's pixels are device-independent,
// so the window scales on high-DPI screens.
constexpr int TwipsPerPixel = 15;

constexpr QRect twips(int left, int top, int width, int height)
{
    return {left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
            height / TwipsPerPixel};
}

constexpr QSize ClientSize = twips(0, 0, 6420, 9195).size();
constexpr QRect ListGeometry = twips(120, 480, 2775, 2775);

// The table leaves room for a font up to 14 pixels high: a label's text clears its frame's title
// above and its field below, and a text box's frame holds the text's descenders.
constexpr int RoomyFontHeight = 14;

QRect scaled(const QRect &rect, double scale)
{
    return {qRound(rect.x() * scale), qRound(rect.y() * scale), qRound(rect.width() * scale),
            qRound(rect.height() * scale)};
}

template<typename Widget>
Widget *place(Widget *widget, const QString &name, const QRect &geometry)
{
    widget->setObjectName(name);
    widget->setGeometry(geometry);
    return widget;
}

// A single-line text box. Qt's default cuts text at 32,767 characters; a text box here takes
// whatever is typed or pasted.
QLineEdit *singleLine(const QString &text = {}, QWidget *parent = nullptr)
{
    auto *box = new QLineEdit(text, parent);
    box->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

// Enter and keypad Enter on a focused command button click it, as Space does. Outside a dialog
// this makes no button the default one: Enter elsewhere still clicks nothing.
QPushButton *commandButton(const QString &caption, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setAutoDefault(true);
    return button;
}

// A caption and the field it names. Screen readers announce the field by its label's name, so
// both carry the spoken name: the caption without its colon ("Games player has"), or \a spoken
// where the caption alone is ambiguous.
void addField(QWidget *panel, const QString &labelName, const QString &caption,
              const QRect &labelGeometry, QWidget *field, const QString &fieldName,
              const QRect &fieldGeometry, QString spoken = {})
{
    auto *label = place(new QLabel(caption, panel), labelName, labelGeometry);
    field->setParent(panel);
    place(field, fieldName, fieldGeometry);
    label->setBuddy(field);
    if (spoken.isEmpty()) {
        spoken = caption;
        if (spoken.endsWith(u':'))
            spoken.chop(1);
    }
    field->setAccessibleName(spoken);
    if (spoken != caption)
        label->setAccessibleName(spoken);
}

} // namespace

MainWindow::MainWindow(std::unique_ptr<Messages> messages, QWidget *parent)
    : QMainWindow(parent)
    , m_messages(messages ? std::move(messages) : std::make_unique<DialogMessages>(this))
    , m_form(std::make_unique<Form>(*this, *m_messages))
    , m_commands(std::make_unique<Commands>(*m_form))
{
    setObjectName(u"Form1"_s);
    // The desktop's mark of unsaved changes stands for "[*]" while either list is modified.
    setWindowTitle(tr("Vonnerby") + u"[*]"_s);
    setWindowIcon(QIcon(u":/icons/vonnerby.png"_s));

    auto *client = new QWidget;
    client->setFixedSize(ClientSize);
    setCentralWidget(client);
    // Children in the form's order, so later ones lie above earlier ones.
    createHiddenBox(client);
    createListTabs(client);
    createServerPanel(client);
    createPlayerPanel(client);
    createMenus();
    setTabOrder();
    rememberTwipsLayout();
    fitToFont();

    // Nothing moves or resizes: the window is exactly as large as its content.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    findChild<QWidget *>(u"txtname"_s)->setFocus();
    m_commands->takeStamps();
}

MainWindow::~MainWindow() = default;

void MainWindow::createHiddenBox(QWidget *client)
{
    // Holds the text the list files are created with, so it is file content and never translated;
    // never shown, never focused.
    auto *box = place(singleLine(u"Text1"_s, client), u"txt1"_s, twips(3240, 9240, 855, 285));
    box->setFocusPolicy(Qt::NoFocus);
    box->hide();
}

void MainWindow::createListTabs(QWidget *client)
{
    auto *tabs = place(new ListTabs(client), u"SSTab1"_s, twips(3240, 5520, 3015, 3495));
    auto *friends = new ListBox;
    friends->setObjectName(u"txtfriends"_s);
    friends->setAccessibleName(tr("Friends"));
    tabs->addListTab(friends, tr("Friends"), ListGeometry);
    auto *servers = new ListBox;
    servers->setObjectName(u"txtserver"_s);
    servers->setAccessibleName(tr("Servers"));
    tabs->addListTab(servers, tr("Servers"), ListGeometry);
    tabs->setCurrentIndex(0);
    for (ListBox *list : {friends, servers})
        connect(list, &QPlainTextEdit::modificationChanged, this, &MainWindow::markUnsavedLists);
}

void MainWindow::createServerPanel(QWidget *client)
{
    auto *panel =
            place(new QGroupBox(tr("Server"), client), u"Frame2"_s, twips(3240, 120, 3015, 5295));
    // The Player panel has a "Name" and a "Comments" too; by ear the two would be one.
    addField(panel, u"Label13"_s, tr("Name"), twips(120, 240, 2655, 255), singleLine(),
             u"txtsname"_s, twips(120, 480, 2775, 285), tr("Server name"));
    addField(panel, u"Label14"_s, tr("IP"), twips(120, 840, 2775, 255), singleLine(), u"txtip"_s,
             twips(120, 1080, 2775, 285));
    addField(panel, u"Label15"_s, tr("Password"), twips(120, 1440, 2775, 255), singleLine(),
             u"txtpass"_s, twips(120, 1680, 2775, 285));
    place(new QLabel(tr("Dedicated"), panel), u"Label16"_s, twips(120, 2040, 2775, 255));
    // Readers hear "Yes" and "No" within a grouping named for the question, which covers the
    // two buttons exactly and leaves them where they are. One exclusive group through their
    // shared parent; "No" is created last and lies on top where the two overlap.
    const QRect yes = twips(120, 2280, 1455, 255);
    const QRect no = twips(840, 2280, 1335, 255);
    auto *dedicated = place(new OptionGroup(panel), u"grpdedicated"_s, yes.united(no));
    dedicated->setAccessibleName(tr("Dedicated"));
    place(new OptionButton(tr("Yes"), dedicated), u"optyes"_s, yes.translated(-dedicated->pos()));
    place(new OptionButton(tr("No"), dedicated), u"optno"_s, no.translated(-dedicated->pos()));
    addField(panel, u"Label17"_s, tr("Comments"), twips(120, 2640, 2775, 255), new TextBox,
             u"txtnotes"_s, twips(120, 2880, 2775, 1455), tr("Server comments"));
    auto *add = place(commandButton(tr("Add Server"), panel), u"Command1"_s,
                      twips(480, 4560, 2055, 495));
    connect(add, &QPushButton::clicked, this,
            [this] { addRecord(&Commands::addServer, u"txtserver"_s); });
}

void MainWindow::createPlayerPanel(QWidget *client)
{
    auto *panel =
            place(new QGroupBox(tr("Player"), client), u"Frame1"_s, twips(120, 120, 2895, 8895));
    struct Field
    {
        const char *caption;
        const char16_t *name;
    };
    static constexpr Field lineFields[] = {
            {QT_TR_NOOP("Name"), u"txtname"},        {QT_TR_NOOP("AIM"), u"txtaim"},
            {QT_TR_NOOP("YIM"), u"txtyim"},          {QT_TR_NOOP("MSN"), u"txtmsn"},
            {QT_TR_NOOP("Email"), u"txtemail"},      {QT_TR_NOOP("Clan"), u"txtclan"},
            {QT_TR_NOOP("Website"), u"txtwebsite"},  {QT_TR_NOOP("XBL Gamertag"), u"txtxbl"},
            {QT_TR_NOOP("XBC Gamertag"), u"txtxbc"}, {QT_TR_NOOP("Xfire"), u"txtxfire"},
    };
    // Label-and-field pairs every 600 twips down the panel.
    int top = 240;
    int labelNumber = 1;
    for (const Field &field : lineFields) {
        addField(panel, u"Label%1"_s.arg(labelNumber++), tr(field.caption),
                 twips(120, top, 2655, 255), singleLine(), QString::fromUtf16(field.name),
                 twips(120, top + 240, 2655, 285));
        top += 600;
    }
    addField(panel, u"Label11"_s, tr("Games player has:"), twips(120, 6240, 2655, 255), new TextBox,
             u"txtgames"_s, twips(120, 6480, 2655, 615));
    addField(panel, u"Label12"_s, tr("Comments:"), twips(120, 7200, 2655, 255), new TextBox,
             u"txtcomments"_s, twips(120, 7440, 2655, 615));
    auto *add =
            place(commandButton(tr("Add friend"), panel), u"cmd1"_s, twips(480, 8160, 1935, 495));
    connect(add, &QPushButton::clicked, this,
            [this] { addRecord(&Commands::addFriend, u"txtfriends"_s); });
}

void MainWindow::createMenus()
{
    const auto addMenu = [this](const QString &title, const QString &name) {
        QMenu *menu = menuBar()->addMenu(title);
        menu->setObjectName(name);
        menu->menuAction()->setObjectName(name);
        return menu;
    };
    const auto addItem = [this](QMenu *menu, const QString &text, const QString &name,
                                auto command) {
        QAction *action = menu->addAction(text);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [this, command] {
            (m_commands.get()->*command)();
            // Emptying a document clears its modified state without saying so.
            markUnsavedLists();
            endIfAsked();
        });
    };

    QMenu *file = addMenu(tr("&File"), u"mnufile"_s);
    addItem(file, tr("New"), u"mnunew"_s, &Commands::clearFields);
    addItem(file, tr("Open"), u"mnuopen"_s, &Commands::open);
    addItem(file, tr("Save"), u"mnusave"_s, &Commands::save);
    addItem(file, tr("Exit"), u"mnuexit"_s, &Commands::exit);

    QMenu *options = addMenu(tr("Options"), u"mnuoptions"_s);
    addItem(options, tr("Create Nesacary Items"), u"mnucreate"_s, &Commands::create);
    addItem(options, tr("About"), u"mnuabout"_s, &Commands::about);
}

void MainWindow::setTabOrder()
{
    // The order of the form's tab indexes; labels and frames take no focus.
    static constexpr const char16_t *order[] = {
            u"txtname",    u"txtaim",   u"txtyim", u"txtmsn",   u"txtemail", u"txtclan",
            u"txtwebsite", u"txtxbl",   u"txtxbc", u"txtxfire", u"txtgames", u"txtcomments",
            u"cmd1",       u"txtsname", u"txtip",  u"txtpass",  u"optyes",   u"optno",
            u"txtnotes",   u"Command1", u"SSTab1",
    };
    QWidget *previous = nullptr;
    for (const char16_t *name : order) {
        auto *next = findChild<QWidget *>(QString::fromUtf16(name));
        if (previous)
            QWidget::setTabOrder(previous, next);
        previous = next;
    }
}

void MainWindow::addRecord(void (Commands::*add)(), const QString &list)
{
    // The record begins where the list ends now, with the line break that starts its first line.
    auto *box = findChild<QPlainTextEdit *>(list);
    const int start = box->document()->characterCount();
    (m_commands.get()->*add)();
    showRecord(box, start);
}

void MainWindow::showRecord(QPlainTextEdit *box, int start)
{
    // The record just added comes into view, whole if it fits and from its first line if not;
    // the user's cursor and selection stay where they are. The box lays out only the lines it
    // shows at the end, however long the list, and the lines before the record are counted, not
    // laid out.
    auto *tabs = findChild<QTabWidget *>(u"SSTab1"_s);
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->widget(i)->isAncestorOf(box))
            tabs->setCurrentIndex(i);
    }
    QScrollBar *bar = box->verticalScrollBar();
    // A record may go on in the block of the one before it, which is laid out for the view at
    // the end anyway; the lines of the blocks above are counted, not laid out.
    const QTextBlock block = box->document()->findBlock(start);
    box->document()->documentLayout()->blockBoundingRect(block);
    const QTextLine line = block.layout()->lineForTextPosition(start - block.position());
    const int firstLine = block.firstLineNumber() + (line.isValid() ? line.lineNumber() : 0);
    bar->setValue(std::min(bar->maximum(), firstLine));
}

void MainWindow::markUnsavedLists()
{
    // The documents keep their own modification state, undo included: no list is read here.
    bool modified = false;
    for (const QString &list : {u"txtfriends"_s, u"txtserver"_s})
        modified = modified || findChild<QPlainTextEdit *>(list)->document()->isModified();
    setWindowModified(modified);
}

void MainWindow::rememberTwipsLayout()
{
    // Frames, the option group and the client area hold only the controls placed from the table.
    for (const QString &name : {u"Frame1"_s, u"Frame2"_s, u"grpdedicated"_s}) {
        for (QWidget *control :
             findChild<QWidget *>(name)->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            m_twipsLayout.append({control, control->geometry()});
    }
    for (QWidget *control : centralWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        m_twipsLayout.append({control, control->geometry()});
}

double MainWindow::fontScale() const
{
    double scale = double(fontMetrics().height()) / RoomyFontHeight;
    for (qsizetype i = 0; i < m_twipsLayout.size(); ++i) {
        const Placed &placed = m_twipsLayout[i];
        const bool option = qobject_cast<QRadioButton *>(placed.control);
        if (!qobject_cast<QLabel *>(placed.control)
            && !qobject_cast<QAbstractButton *>(placed.control))
            continue;
        // A caption has the part of its rectangle that no later sibling covers: "No" lies
        // over the right part of "Yes".
        const QRect &own = placed.geometry;
        QSize room = own.size();
        for (qsizetype j = i + 1; j < m_twipsLayout.size(); ++j) {
            const QRect &other = m_twipsLayout[j].geometry;
            if (m_twipsLayout[j].control->parentWidget() == placed.control->parentWidget()
                && other.left() > own.left() && other.left() <= own.right()
                && other.top() <= own.center().y() && other.bottom() >= own.center().y())
                room.setWidth(std::min(room.width(), other.left() - own.left()));
        }
        const QSize needed = placed.control->sizeHint();
        scale = std::max(scale, double(needed.width()) / room.width());
        // An option button's hint counts a focus frame around its indicator that the row's
        // height never had; its text height is the font's, measured above.
        if (!option)
            scale = std::max(scale, double(needed.height()) / room.height());
    }
    return std::max(scale, 1.0);
}

void MainWindow::fitToFont()
{
    // Larger fonts scale the whole layout alike, so every proportion of the table holds.
    const double scale = fontScale();
    centralWidget()->setFixedSize(scaled(QRect(QPoint(), ClientSize), scale).size());
    for (const Placed &placed : std::as_const(m_twipsLayout))
        placed.control->setGeometry(scaled(placed.geometry, scale));
    // Right to left, each control takes its place mirrored within its container, as Qt's own
    // layouts do; every container has its size by now. A caption starts where its field starts,
    // whichever way its words run.
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    for (const Placed &placed : std::as_const(m_twipsLayout)) {
        QWidget *control = placed.control;
        if (rightToLeft)
            control->setGeometry(QStyle::visualRect(
                    Qt::RightToLeft, control->parentWidget()->rect(), control->geometry()));
        if (auto *label = qobject_cast<QLabel *>(control))
            label->setAlignment(Qt::AlignAbsolute | Qt::AlignVCenter
                                | (rightToLeft ? Qt::AlignRight : Qt::AlignLeft));
    }
    auto *tabs = findChild<ListTabs *>(u"SSTab1"_s);
    for (const QString &list : {u"txtfriends"_s, u"txtserver"_s})
        tabs->setListGeometry(findChild<QWidget *>(list), scaled(ListGeometry, scale));
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // The desktop's font may change while the program runs, and so may the direction.
    const bool relayout =
            event->type() == QEvent::FontChange || event->type() == QEvent::LayoutDirectionChange;
    if (relayout && !m_twipsLayout.isEmpty())
        fitToFont();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The session is ending: the work stays kept for the next start, and nobody is asked.
    if (m_ending)
        return;
    const bool closing = m_commands->mayClose();
    event->setAccepted(closing);
    // The user chose to leave, and what was not saved goes with the window.
    if (closing && m_keeper)
        m_keeper->discard();
    endIfAsked();
}

void MainWindow::keepUnsavedWork()
{
    m_link = std::make_unique<RecoveryLink>(*this, *m_form);
    m_keeper = std::make_unique<Recovery::Keeper>(*m_link);
    m_link->connectTo(*m_keeper);
    connect(m_keeper.get(), &Recovery::Keeper::failed, this,
            [this](const QString &path, int error) {
                m_commands->reportKeepingFailure(path, error);
            });
    m_commands->keepWorkWith(*m_keeper);
    markUnsavedLists();
    auto *terminations = new Recovery::TerminationSignals(this);
    connect(terminations, &Recovery::TerminationSignals::received, this,
            &MainWindow::endKeepingWork);
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { endKeepingWork(0); });
}

void MainWindow::endKeepingWork(int signal)
{
    // An Open or Save under way stops first, leaving the lists and the list files as they were,
    // and no half-written file behind; the end comes as soon as it has.
    if (m_commands->interrupt()) {
        m_endAsked = signal;
        return;
    }
    // Nobody may be there to answer a question: the work is kept instead, up to date.
    m_keeper->flush();
    if (signal != 0)
        Recovery::TerminationSignals::endBy(signal);
    m_ending = true;
    QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void MainWindow::endIfAsked()
{
    if (const std::optional<int> signal = std::exchange(m_endAsked, std::nullopt))
        endKeepingWork(*signal);
}
