#include "form1.h"

#include "accesskeys.h"
#include "caption.h"
#include "clickablelabel.h"
#include "clockframes.h"
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

#include <limits>

// The design's names, for holding this window against its design. Every widget carries its
// design name as its objectName; the routine is what its click (or tick) runs.
//
//   design      member                     routine
//   Label3      cardFrameHeading           sendCardFrame
//   Command17   accessButton               sendAccess
//   Command19   resetButton                sendReset
//   Command10   informationButton          readInformation
//   Command11   counterReadButton          readCounter
//   Command5    counterZeroButton          zeroCounter
//   Text11      counterBox
//   Command14   counterAssignButton        assignCounter
//   Text1       cardNumberBox
//   Command4    cardReadButton             readCard
//   Text2       dateBox
//   Command2    dateButton                 setDate
//   Text7       timeBox
//   Command3    timeButton                 setTime
//   Text6       companyBox
//   Command1    companyButton              sendCompanyName
//   Text4       messageBox
//   Command6    messageButton              writeMessage
//   Text3       commandBox
//   Command9    commandButton              sendFreeCommand
//   Text10      phoneNumberBox
//   Command18   dialButton                 dial
//   Label1      receivedHeading
//   Command15   clearButton                clearConsole
//   Text8       console
//   Label2      makerLabel
//   Timer1      link().receivePoll()       (PortLink::received)
//   Timer2      returnTimer()              returnToPortSelection
//   MSComm1     link().port()
//   Form0's Label1, Combo1, Command1: portLabel, portList (choosePort), okButton (openMainWindow).

using commandcatalogue::caption;
using commandcatalogue::Failure;
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

} // namespace

Form1::Form1(Module1 &module, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_module(module),
      m_link(module.programDir)
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
    const auto textBox = [this](const char *name, QRect geometry, Id command) {
        auto *t = new QLineEdit(this);
        t->setObjectName(QLatin1String(name));
        t->setGeometry(geometry);
        t->setFont(buttonFont());
        const qsizetype limit = commandcatalogue::command(command).maxLength;
        t->setMaxLength(limit > 0 ? int(limit) : std::numeric_limits<int>::max());
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
    accessButton = button("Command17", caption(Id::Access), twipsRect(120, 720, 1215, 375));
    resetButton = button("Command19", caption(Id::Reset), twipsRect(1440, 720, 1215, 375));
    informationButton = button("Command10", caption(Id::Information), twipsRect(120, 1200, 2535, 375));
    counterReadButton = button("Command11", caption(Id::CounterRead), twipsRect(120, 1680, 2535, 375));
    counterZeroButton = button("Command5", caption(Id::CounterZero), twipsRect(120, 2160, 2535, 375));
    counterBox = textBox("Text11", twipsRect(120, 2640, 615, 375), Id::CounterAssign);
    counterAssignButton = button("Command14", caption(Id::CounterAssign), twipsRect(720, 2640, 1935, 375));
    cardNumberBox = textBox("Text1", twipsRect(120, 3120, 1215, 375), Id::CardRead);
    cardReadButton = button("Command4", caption(Id::CardRead), twipsRect(1440, 3120, 1215, 375));
    dateBox = textBox("Text2", twipsRect(120, 3600, 1215, 375), Id::Date);
    dateButton = button("Command2", caption(Id::Date), twipsRect(1440, 3600, 1215, 375));
    timeBox = textBox("Text7", twipsRect(120, 4080, 1215, 375), Id::Time);
    timeButton = button("Command3", caption(Id::Time), twipsRect(1440, 4080, 1215, 375));
    companyBox = textBox("Text6", twipsRect(120, 4560, 1215, 375), Id::Company);
    companyButton = button("Command1", caption(Id::Company), twipsRect(1440, 4560, 1215, 375));
    messageBox = textBox("Text4", twipsRect(120, 5040, 1215, 375), Id::Message);
    messageButton = button("Command6", caption(Id::Message), twipsRect(1440, 5040, 1215, 375));
    commandBox = textBox("Text3", twipsRect(120, 5520, 1215, 375), Id::FreeCommand);
    commandButton = button("Command9", caption(Id::FreeCommand), twipsRect(1440, 5520, 1215, 375));
    phoneNumberBox = textBox("Text10", twipsRect(120, 6000, 1215, 375), Id::Dial);
    phoneNumberBox->setFont(font());
    dialButton = button("Command18", caption(Id::Dial), twipsRect(1440, 6000, 1215, 375));

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

    const QList<QWidget *> tabOrder = {accessButton, resetButton, informationButton, counterReadButton,
                                       counterZeroButton, counterBox, counterAssignButton, dateBox, dateButton,
                                       timeBox, timeButton, companyBox, companyButton, messageBox, messageButton,
                                       commandBox, commandButton, phoneNumberBox, dialButton, clearButton, console,
                                       cardNumberBox, cardReadButton};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    accessButton->setFocus();
}

void Form1::bindEvents()
{
    connect(&m_returnTimer, &QTimer::timeout, this, &Form1::returnToPortSelection);
    connect(&m_link, &PortLink::received, this,
            [this](const QByteArray &bytes) { console->appendBytes(bytes); });
    connect(console, &ReceiveConsole::saveRequested, this, &Form1::saveReceived);
    // Bytes that never reached the line are a frame the terminal did not get whole.
    connect(&m_link.port(), &CommPort::deviceLost, this, [this](qint64 unsentBytes) {
        if (unsentBytes > 0 && !m_unloaded)
            showPortFailure(CommError(commerror::PortNotOpen));
    }, Qt::QueuedConnection);
    connect(&m_link.port(), &CommPort::deviceLost, this, [this] { showLineDown(true); });
    // A device server answers after the load: its failure takes the load's own way back.
    connect(&m_link.port(), &CommPort::openFailed, this, [this](int number) {
        showPortFailure(CommError(number));
        m_returnTimer.start(1);
    });
    connect(&m_link.port(), &CommPort::deviceBack, this, [this] { showLineDown(false); });

    connect(accessButton, &QPushButton::clicked, this, &Form1::sendAccess);
    connect(resetButton, &QPushButton::clicked, this, &Form1::sendReset);
    connect(informationButton, &QPushButton::clicked, this, &Form1::readInformation);
    connect(counterReadButton, &QPushButton::clicked, this, &Form1::readCounter);
    connect(counterZeroButton, &QPushButton::clicked, this, &Form1::zeroCounter);
    connect(counterAssignButton, &QPushButton::clicked, this, &Form1::assignCounter);
    connect(cardReadButton, &QPushButton::clicked, this, &Form1::readCard);
    connect(dateButton, &QPushButton::clicked, this, &Form1::setDate);
    connect(timeButton, &QPushButton::clicked, this, &Form1::setTime);
    connect(companyButton, &QPushButton::clicked, this, &Form1::sendCompanyName);
    connect(messageButton, &QPushButton::clicked, this, &Form1::writeMessage);
    connect(commandButton, &QPushButton::clicked, this, &Form1::sendFreeCommand);
    connect(dialButton, &QPushButton::clicked, this, &Form1::dial);
    connect(cardFrameHeading, &ClickableLabel::clicked, this, &Form1::sendCardFrame);
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
    m_link.receivePoll().setEnabled(false);
    m_returnTimer.stop();
    m_link.close();
}

void Form1::send(QByteArrayView bytes)
{
    m_link.send(bytes);
}

template <typename Writes>
void Form1::runCommand(Writes writes)
{
    try {
        writes();
    } catch (const CommError &failure) {
        showPortFailure(failure);
    }
}

void Form1::sendOrReport(const QList<QByteArray> &writes, const QString &failure)
{
    try {
        m_link.sendAll(writes);
    } catch (const CommError &) {
        showMessage(failure);
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

void Form1::sendCompanyName()
{
    runCommand([this] { m_link.sendAll(commandwrites::companyName(companyBox->text())); });
}

void Form1::setDate()
{
    // Every value is worked out before the first write, so a bad date sends nothing.
    const QString failure = failureText(Failure::BadDate);
    if (const auto writes = clockframes::dateWrites(dateBox->text(), m_module.clock(), QLocale()))
        sendOrReport(*writes, failure);
    else
        showMessage(failure);
}

void Form1::setTime()
{
    const QString failure = failureText(Failure::BadTime);
    if (const auto write = clockframes::timeWrite(timeBox->text(), m_module.clock(), QLocale()))
        sendOrReport({*write}, failure);
    else
        showMessage(failure);
}

void Form1::readCard()
{
    runCommand([this] {
        cardNumberBox->setText(commandwrites::cardReadText(cardNumberBox->text(), m_module.randomCards));
        m_link.sendAll(commandwrites::cardRead(cardNumberBox->text()));
    });
}

void Form1::zeroCounter()
{
    runCommand([this] { send(commandframes::zeroCardCounter); });
}

void Form1::writeMessage()
{
    // The wait runs the window's events: this window may close, and even be deleted, inside it.
    const QPointer<Form1> self(this);
    try {
        m_link.sendAll(commandwrites::messageBeforePause());
        ++m_messagesWaiting;
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
        for (int due = std::exchange(m_messagesWaiting, 0); due > 0; --due)
            m_link.sendAll(commandwrites::messageAfterPause(messageBox->text()));
    } catch (const CommError &failure) {
        if (self && !m_unloaded)
            showPortFailure(failure);
    }
}

void Form1::sendFreeCommand()
{
    runCommand([this] { m_link.sendAll(commandwrites::freeCommand(commandBox->text())); });
}

void Form1::readInformation()
{
    runCommand([this] {
        send(commandframes::readInformation);
        m_link.receivePoll().setEnabled(true);
    });
}

void Form1::readCounter()
{
    runCommand([this] {
        send(commandframes::readCardCounter);
        m_link.receivePoll().setEnabled(true);
    });
}

void Form1::assignCounter()
{
    runCommand([this] {
        // "@I" leaves before the box changes, so a refused write leaves the box as typed.
        const QList<QByteArray> writes = commandwrites::assignCardCounter(counterBox->text());
        send(writes.first());
        counterBox->setText(commandframes::zeroPadded(counterBox->text()));
        m_link.sendAll(writes.sliced(1));
    });
}

void Form1::clearConsole()
{
    console->setText(QString());
}

void Form1::sendAccess()
{
    runCommand([this] { send(commandframes::access); });
}

void Form1::dial()
{
    runCommand([this] { m_link.sendAll(commandwrites::dial(phoneNumberBox->text())); });
}

void Form1::sendReset()
{
    runCommand([this] { send(commandframes::reset); });
}

void Form1::sendCardFrame()
{
    const std::optional<QList<QByteArray>> frame = commandwrites::cardFrame(cardNumberBox->text());
    // A value no two bytes can carry is refused here rather than sent cut down.
    if (!frame) {
        showMessage(failureText(Failure::BadCardNumber));
        return;
    }
    runCommand([this, &frame] {
        m_link.sendAll(*frame);
        console->appendText(u"\r\nOK.\r\n");
    });
}
