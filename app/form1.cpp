#include "form1.h"

#include "accesskeys.h"
#include "caption.h"
#include "clickablelabel.h"
#include "commandcatalogue.h"
#include "commandframes.h"
#include "commandwrites.h"
#include "designfonts.h"
#include "form0.h"
#include "module1.h"
#include "pacedwait.h"
#include "programicon.h"
#include "receiveconsole.h"
#include "twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <limits>
#include <utility>

// The design's names, for holding this window against its design. Every widget carries its
// design name as its objectName; a command's control and box run its row of the catalogue.
//
//   design      member                     command
//   Label3      cardFrameHeading           CardFrame (its box: Text1)
//   Command17   accessButton               Access
//   Command19   resetButton                Reset
//   Command10   informationButton          Information
//   Command11   counterReadButton          CounterRead
//   Command5    counterZeroButton          CounterZero
//   Text11      counterBox                 CounterAssign
//   Command14   counterAssignButton        CounterAssign
//   Text1       cardNumberBox              CardRead, CardFrame
//   Command4    cardReadButton             CardRead
//   Text2       dateBox                    Date
//   Command2    dateButton                 Date
//   Text7       timeBox                    Time
//   Command3    timeButton                 Time
//   Text6       companyBox                 Company
//   Command1    companyButton              Company
//   Text4       messageBox                 Message
//   Command6    messageButton              Message
//   Text3       commandBox                 FreeCommand
//   Command9    commandButton              FreeCommand
//   Text10      phoneNumberBox             Dial
//   Command18   dialButton                 Dial
//   Label1      receivedHeading
//   Command15   clearButton                (clearConsole)
//   Text8       console
//   Label2      makerLabel
//   Timer1      link().setReceiving()      (PortLink::received)
//   Timer2      returnTimer()              (returnToPortSelection)
//   MSComm1     link().port()
//   Form0's Label1, Combo1, Command1: portLabel, portList (choosePort), okButton (openMainWindow).

using commandcatalogue::caption;
using commandcatalogue::failureText;
using commandcatalogue::Id;

namespace {

const QString tahoma = QStringLiteral("Tahoma");
constexpr QColor receivedHeadingColour(224, 224, 224);
constexpr QColor lineDownColour(255, 176, 176);

QFont buttonFont()
{
    return designfonts::font(tahoma, designfonts::smallPixels, true);
}

// What a click does in this window beside its command's writes: a box, the console and the
// receive poll are the window's alone, and the card read draws from the run's sequence
// (Module1), where the command line draws afresh. So these stay here, not in the catalogue.
struct WindowSide
{
    Id id;
    // What the box shows once the first `shownAfter` writes are out; the writes are planned from it.
    QString (*shown)(Module1 &module, const QString &typed) = nullptr;
    qsizetype shownAfter = 0;
    bool listensAfter = false; // the receive poll goes on once the writes are out
    bool echoesOk = false;     // "OK." in the console once the writes are out
    // A refused write shows the words for bad input, not "PORT Hatası N".
    bool refusalShowsFailureText = false;
};

QString padded(Module1 &, const QString &typed)
{
    return commandframes::zeroPadded(typed);
}

QString cardReadShown(Module1 &module, const QString &typed)
{
    return commandwrites::cardReadText(typed, module.randomCards);
}

constexpr WindowSide windowSides[] = {
    {.id = Id::Information, .listensAfter = true},
    {.id = Id::CounterRead, .listensAfter = true},
    // "@I" leaves before the box changes, so a refused write leaves the box as typed.
    {.id = Id::CounterAssign, .shown = padded, .shownAfter = 1},
    {.id = Id::CardRead, .shown = cardReadShown},
    {.id = Id::Date, .refusalShowsFailureText = true},
    {.id = Id::Time, .refusalShowsFailureText = true},
    {.id = Id::CardFrame, .echoesOk = true},
};

WindowSide windowSide(Id id)
{
    const auto side = std::ranges::find(windowSides, id, &WindowSide::id);
    return side == std::end(windowSides) ? WindowSide{id} : *side;
}

} // namespace

Form1::Form1(Module1 &module, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint),
      m_module(module), m_link(module.programDir)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(programIcon());
    setFixedSize(pixels(6660), pixels(6645));
    setFont(designfonts::font(QStringLiteral("MS Sans Serif"), designfonts::smallPixels, false));
    buildControls();
    bindEvents();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Form1::buildControls()
{
    const auto button = [this](const char *name, const QString &caption, QRect geometry) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(geometry);
        b->setFont(buttonFont());
        b->setAutoDefault(false);
        accesskeys::clickAtOnce(b);
        return b;
    };
    const auto catalogueButton = [this, &button](const char *name, Id command, QRect geometry) {
        QPushButton *b = button(name, caption(command), geometry);
        m_commands[command].control = b;
        return b;
    };
    const auto textBox = [this](const char *name, QRect geometry, Id command) {
        auto *t = new QLineEdit(this);
        t->setObjectName(QLatin1String(name));
        t->setGeometry(geometry);
        t->setFont(buttonFont());
        const qsizetype limit = commandcatalogue::command(command).maxLength;
        t->setMaxLength(limit > 0 ? int(limit) : std::numeric_limits<int>::max());
        m_commands[command].box = t;
        return t;
    };
    const auto heading = [](QLabel *label, const char *name, QRect geometry, QColor background) {
        label->setObjectName(QLatin1String(name));
        label->setGeometry(geometry);
        label->setFont(designfonts::font(tahoma, designfonts::largePixels, true));
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setAutoFillBackground(true);
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window, background);
        label->setPalette(palette);
    };

    cardFrameHeading = new ClickableLabel(caption(Id::CardFrame), this);
    heading(cardFrameHeading, "Label3", twipsRect(120, 120, 2535, 375), QColor(255, 255, 192));
    accessButton = catalogueButton("Command17", Id::Access, twipsRect(120, 720, 1215, 375));
    resetButton = catalogueButton("Command19", Id::Reset, twipsRect(1440, 720, 1215, 375));
    informationButton = catalogueButton("Command10", Id::Information, twipsRect(120, 1200, 2535, 375));
    counterReadButton = catalogueButton("Command11", Id::CounterRead, twipsRect(120, 1680, 2535, 375));
    counterZeroButton = catalogueButton("Command5", Id::CounterZero, twipsRect(120, 2160, 2535, 375));
    counterBox = textBox("Text11", twipsRect(120, 2640, 615, 375), Id::CounterAssign);
    counterAssignButton = catalogueButton("Command14", Id::CounterAssign, twipsRect(720, 2640, 1935, 375));
    cardNumberBox = textBox("Text1", twipsRect(120, 3120, 1215, 375), Id::CardRead);
    m_commands[Id::CardFrame] = {cardFrameHeading, cardNumberBox};
    cardReadButton = catalogueButton("Command4", Id::CardRead, twipsRect(1440, 3120, 1215, 375));
    dateBox = textBox("Text2", twipsRect(120, 3600, 1215, 375), Id::Date);
    dateButton = catalogueButton("Command2", Id::Date, twipsRect(1440, 3600, 1215, 375));
    timeBox = textBox("Text7", twipsRect(120, 4080, 1215, 375), Id::Time);
    timeButton = catalogueButton("Command3", Id::Time, twipsRect(1440, 4080, 1215, 375));
    companyBox = textBox("Text6", twipsRect(120, 4560, 1215, 375), Id::Company);
    companyButton = catalogueButton("Command1", Id::Company, twipsRect(1440, 4560, 1215, 375));
    messageBox = textBox("Text4", twipsRect(120, 5040, 1215, 375), Id::Message);
    messageButton = catalogueButton("Command6", Id::Message, twipsRect(1440, 5040, 1215, 375));
    commandBox = textBox("Text3", twipsRect(120, 5520, 1215, 375), Id::FreeCommand);
    commandButton = catalogueButton("Command9", Id::FreeCommand, twipsRect(1440, 5520, 1215, 375));
    phoneNumberBox = textBox("Text10", twipsRect(120, 6000, 1215, 375), Id::Dial);
    phoneNumberBox->setFont(font());
    dialButton = catalogueButton("Command18", Id::Dial, twipsRect(1440, 6000, 1215, 375));

    receivedHeading = new QLabel(QStringLiteral("Alınan Mesajlar"), this);
    heading(receivedHeading, "Label1", twipsRect(3120, 120, 3375, 375), receivedHeadingColour);
    clearButton = button("Command15", QStringLiteral("Si&l"), twipsRect(5880, 120, 615, 375));
    clearButton->raise();
    console = new ReceiveConsole(this);
    console->setObjectName(QStringLiteral("Text8"));
    console->setGeometry(twipsRect(3120, 720, 3375, 5655));
    console->setFont(designfonts::font(tahoma, designfonts::smallPixels, false));
    console->setClock([stamp = TimeOfDayStamp([this] { return m_module.clock(); })]() mutable { return stamp.now(); });

    makerLabel = new QLabel(QStringLiteral("Kurvi"), this);
    makerLabel->setObjectName(QStringLiteral("Label2"));
    makerLabel->setGeometry(twipsRect(6050, 6405, 465, 195));
    makerLabel->setFont(designfonts::font(QStringLiteral("Verdana"), designfonts::smallPixels, true));
    makerLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette grey = makerLabel->palette();
    grey.setColor(QPalette::WindowText, QColor(128, 128, 128));
    makerLabel->setPalette(grey);

    const QList<QWidget *> tabOrder = {
        accessButton,        resetButton, informationButton, counterReadButton, counterZeroButton, counterBox,
        counterAssignButton, dateBox,     dateButton,        timeBox,           timeButton,        companyBox,
        companyButton,       messageBox,  messageButton,     commandBox,        commandButton,     phoneNumberBox,
        dialButton,          clearButton, console,           cardNumberBox,     cardReadButton};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    accessButton->setFocus();
}

void Form1::bindEvents()
{
    connect(&m_returnTimer, &QTimer::timeout, this, &Form1::returnToPortSelection);
    connect(&m_link, &PortLink::received, this, [this](const QByteArray &bytes) { console->appendBytes(bytes); });
    connect(console, &ReceiveConsole::saveRequested, this, &Form1::saveReceived);
    // Bytes that never reached the line are a frame the terminal did not get whole.
    connect(
        &m_link.port(), &CommPort::deviceLost, this,
        [this](qint64 unsentBytes) {
            if (unsentBytes > 0 && !m_unloaded)
                showPortFailure(CommError(commerror::PortNotOpen));
        },
        Qt::QueuedConnection);
    connect(&m_link.port(), &CommPort::deviceLost, this, [this] { showLineDown(true); });
    // A device server answers after the load: its failure takes the load's own way back.
    connect(&m_link.port(), &CommPort::openFailed, this, [this](int number) {
        showPortFailure(CommError(number));
        m_returnTimer.start(1);
    });
    connect(&m_link.port(), &CommPort::deviceBack, this, [this] { showLineDown(false); });

    for (const commandcatalogue::Command &command : commandcatalogue::all()) {
        const auto run = [this, id = command.id] { runCommand(id); };
        const auto controls = m_commands.find(command.id);
        QWidget *control = controls == m_commands.end() ? nullptr : controls->second.control;
        if (auto *button = qobject_cast<QPushButton *>(control))
            connect(button, &QPushButton::clicked, this, run);
        else if (auto *label = qobject_cast<ClickableLabel *>(control))
            connect(label, &ClickableLabel::clicked, this, run);
    }
    connect(clearButton, &QPushButton::clicked, this, &Form1::clearConsole);
}

void Form1::load()
{
    setWindowTitle(WindowCaption());
    const QString baudRateText = m_link.readBaudRateText();
    console->setText(QStringLiteral("Baud Rate : ") + baudRateText + QStringLiteral("\r\n"));
    try {
        m_link.open(baudRateText, m_module.SelectedPort);
    } catch (const CommError &failure) {
        showPortFailure(failure);
        m_returnTimer.start(1);
    }
}

void Form1::returnToPortSelection()
{
    // A box still open (a command refused while connecting, say) runs inside this window's
    // routine: the window goes only once the operator has answered it.
    if (QApplication::activeModalWidget()) {
        m_returnTimer.start(50);
        return;
    }
    m_returnTimer.stop();
    (new Form0(m_module))->show();
    close();
}

void Form1::closeEvent(QCloseEvent *event)
{
    unload();
    event->accept();
}

void Form1::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_link.setReceiving(false);
    m_returnTimer.stop();
    m_link.close();
}

QString Form1::boxText(Id id) const
{
    const auto controls = m_commands.find(id);
    return controls == m_commands.end() || !controls->second.box ? QString() : controls->second.box->text();
}

void Form1::runCommand(Id id)
{
    const commandcatalogue::Command &command = commandcatalogue::command(id);
    const auto planOf = [this](Id which, const QString &typed) {
        return commandcatalogue::command(which).plan({typed, m_module.clock(), QLocale()});
    };
    const WindowSide side = windowSide(id);
    QString typed = boxText(id);
    if (side.shown)
        typed = side.shown(m_module, typed);
    // Every write is worked out before the first, so bad input sends nothing.
    const std::optional<commandcatalogue::Plan> plan = planOf(id, typed);
    if (!plan) {
        showMessage(failureText(command.failure));
        return;
    }
    // A pause runs the window's events: this window may close, and even be deleted, inside it.
    const QPointer<Form1> self(this);
    try {
        const qsizetype beforeShown = std::min(side.shownAfter, plan->writes.size());
        m_link.sendAll(plan->writes.first(beforeShown));
        if (side.shown)
            m_commands.at(id).box->setText(typed);
        m_link.sendAll(plan->writes.sliced(beforeShown));
        if (plan->pause) {
            m_messagesWaiting.append(id);
            // A click during the wait joins it rather than nesting a wait of its own: its second
            // half goes out at the same change of the seconds, and a storm of clicks keeps the
            // stack one wait deep.
            if (m_messageWaitRunning)
                return;
            m_messageWaitRunning = true;
            PacedWait(1, m_module.clock);
            if (!self || m_unloaded)
                return;
            m_messageWaitRunning = false;
            // Each second half from its box as it is now: text typed during the wait counts.
            for (const Id due : std::exchange(m_messagesWaiting, {})) {
                if (const auto later = planOf(due, boxText(due)))
                    m_link.sendAll(later->afterPause);
            }
        }
        if (side.listensAfter)
            m_link.setReceiving(true);
        if (side.echoesOk)
            console->appendText(u"\r\nOK.\r\n");
    } catch (const CommError &failure) {
        if (!self || (plan->pause && m_unloaded))
            return;
        if (side.refusalShowsFailureText)
            showMessage(failureText(command.failure));
        else
            showPortFailure(failure);
    }
}

void Form1::showLineDown(bool down)
{
    // Colour and tooltip only: the design's texts stay as they are.
    QPalette palette = receivedHeading->palette();
    palette.setColor(QPalette::Window, down ? lineDownColour : receivedHeadingColour);
    receivedHeading->setPalette(palette);
    // The same words for an unplugged adapter and a device server that went away.
    receivedHeading->setToolTip(down ? QStringLiteral("COM%1 bağlantısı koptu: aygıt ya da sunucu yok. Geri gelince "
                                                      "aynı ayarlarla kendiliğinden açılır; o zamana kadar komutlar "
                                                      "\"%2\" verir.")
                                           .arg(m_module.SelectedPort)
                                           .arg(commandcatalogue::portFailureText(commerror::PortNotOpen))
                                     : QString());
}

void Form1::showPortFailure(const CommError &failure)
{
    showMessage(commandcatalogue::portFailureText(failure.number()));
}

void Form1::showMessage(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, ProgramTitle(), text, QMessageBox::Ok, this);
    // Styles that decorate standard buttons (Fusion under X11) would add an icon the box never had.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}

void Form1::saveReceived()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Kaydet"));
    if (path.isEmpty())
        return;
    if (const auto failure = console->saveTo(path))
        QMessageBox::warning(this, QStringLiteral("Kaydet"), QStringLiteral("Kaydedilemedi: %1").arg(*failure));
}

void Form1::clearConsole()
{
    console->setText(QString());
}
