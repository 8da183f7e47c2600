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
    Label3 = new ClickableLabel(caption(Id::CardFrame), this);
    heading(Label3, "Label3", twipsRect(120, 120, 2535, 375), QColor(255, 255, 192));
    Command17 = button("Command17", caption(Id::Access), twipsRect(120, 720, 1215, 375));
    Command19 = button("Command19", caption(Id::Reset), twipsRect(1440, 720, 1215, 375));
    Command10 = button("Command10", caption(Id::Information), twipsRect(120, 1200, 2535, 375));
    Command11 = button("Command11", caption(Id::CounterRead), twipsRect(120, 1680, 2535, 375));
    Command5 = button("Command5", caption(Id::CounterZero), twipsRect(120, 2160, 2535, 375));
    Text11 = textBox("Text11", twipsRect(120, 2640, 615, 375), Id::CounterAssign);
    Command14 = button("Command14", caption(Id::CounterAssign), twipsRect(720, 2640, 1935, 375));
    Text1 = textBox("Text1", twipsRect(120, 3120, 1215, 375), Id::CardRead);
    Command4 = button("Command4", caption(Id::CardRead), twipsRect(1440, 3120, 1215, 375));
    Text2 = textBox("Text2", twipsRect(120, 3600, 1215, 375), Id::Date);
    Command2 = button("Command2", caption(Id::Date), twipsRect(1440, 3600, 1215, 375));
    Text7 = textBox("Text7", twipsRect(120, 4080, 1215, 375), Id::Time);
    Command3 = button("Command3", caption(Id::Time), twipsRect(1440, 4080, 1215, 375));
    Text6 = textBox("Text6", twipsRect(120, 4560, 1215, 375), Id::Company);
    Command1 = button("Command1", caption(Id::Company), twipsRect(1440, 4560, 1215, 375));
    Text4 = textBox("Text4", twipsRect(120, 5040, 1215, 375), Id::Message);
    Command6 = button("Command6", caption(Id::Message), twipsRect(1440, 5040, 1215, 375));
    Text3 = textBox("Text3", twipsRect(120, 5520, 1215, 375), Id::FreeCommand);
    Command9 = button("Command9", caption(Id::FreeCommand), twipsRect(1440, 5520, 1215, 375));
    Text10 = textBox("Text10", twipsRect(120, 6000, 1215, 375), Id::Dial);
    Text10->setFont(font());
    Command18 = button("Command18", caption(Id::Dial), twipsRect(1440, 6000, 1215, 375));

    Label1 = new QLabel(QStringLiteral("Alınan Mesajlar"), this);
    heading(Label1, "Label1", twipsRect(3120, 120, 3375, 375), receivedHeadingColour);
    Command15 = button("Command15", QStringLiteral("Si&l"), twipsRect(5880, 120, 615, 375));
    Command15->raise();
    Text8 = new ReceiveConsole(this);
    Text8->setObjectName(QStringLiteral("Text8"));
    Text8->setGeometry(twipsRect(3120, 720, 3375, 5655));
    Text8->setFont(designfonts::font(tahoma, designfonts::smallPixels, false));
    Text8->setClock([stamp = TimeOfDayStamp([this] { return m_module.clock(); })]() mutable { return stamp.now(); });

    Label2 = new QLabel(QStringLiteral("Kurvi"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(twipsRect(6050, 6405, 465, 195));
    Label2->setFont(designfonts::font(QStringLiteral("Verdana"), designfonts::smallPixels, true));
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette grey = Label2->palette();
    grey.setColor(QPalette::WindowText, QColor(128, 128, 128));
    Label2->setPalette(grey);

    const QList<QWidget *> tabOrder = {Command17, Command19, Command10, Command11, Command5, Text11,
                                       Command14, Text2, Command2, Text7, Command3, Text6,
                                       Command1, Text4, Command6, Text3, Command9, Text10,
                                       Command18, Command15, Text8, Text1, Command4};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    Command17->setFocus();
}

void Form1::bindEvents()
{
    connect(&m_timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(&m_link, &PortLink::received, this,
            [this](const QByteArray &bytes) { Text8->appendBytes(bytes); });
    connect(Text8, &ReceiveConsole::saveRequested, this, &Form1::saveReceived);
    // Bytes that never reached the line are a frame the terminal did not get whole.
    connect(&m_link.port(), &CommPort::deviceLost, this, [this](qint64 unsentBytes) {
        if (unsentBytes > 0 && !m_unloaded)
            showPortFailure(CommError(commerror::PortNotOpen));
    }, Qt::QueuedConnection);
    connect(&m_link.port(), &CommPort::deviceLost, this, [this] { showLineDown(true); });
    // A device server answers after the load: its failure takes the load's own way back.
    connect(&m_link.port(), &CommPort::openFailed, this, [this](int number) {
        showPortFailure(CommError(number));
        m_timer2.start(1);
    });
    connect(&m_link.port(), &CommPort::deviceBack, this, [this] { showLineDown(false); });

    connect(Label3, &ClickableLabel::clicked, this, &Form1::Label3_Click);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Command9, &QPushButton::clicked, this, &Form1::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &Form1::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &Form1::Command11_Click);
    connect(Command14, &QPushButton::clicked, this, &Form1::Command14_Click);
    connect(Command15, &QPushButton::clicked, this, &Form1::Command15_Click);
    connect(Command17, &QPushButton::clicked, this, &Form1::Command17_Click);
    connect(Command18, &QPushButton::clicked, this, &Form1::Command18_Click);
    connect(Command19, &QPushButton::clicked, this, &Form1::Command19_Click);
}

void Form1::load()
{
    setWindowTitle(WindowCaption());
    const QString baudRateText = m_link.readBaudRateText();
    Text8->setText(QStringLiteral("Baud Rate : ") + baudRateText + QStringLiteral("\r\n"));
    try {
        m_link.open(baudRateText, m_module.SelectedPort);
    } catch (const CommError &failure) {
        showPortFailure(failure);
        m_timer2.start(1);
    }
}

void Form1::Timer2_Timer()
{
    m_timer2.stop();
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
    m_timer2.stop();
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
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::Window, down ? lineDownColour : receivedHeadingColour);
    Label1->setPalette(palette);
    // The same words for an unplugged adapter and a device server that went away.
    Label1->setToolTip(down ? QStringLiteral("COM%1 bağlantısı koptu: aygıt ya da sunucu yok. Geri gelince aynı "
                                             "ayarlarla kendiliğinden açılır; o zamana kadar komutlar "
                                             "\"PORT Hatası 8018\" verir.")
                                  .arg(m_module.SelectedPort)
                            : QString());
}

void Form1::showPortFailure(const CommError &failure)
{
    showMessage(QStringLiteral("PORT Hatası %1").arg(failure.number()));
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
    if (const auto failure = Text8->saveTo(path))
        QMessageBox::warning(this, QStringLiteral("Kaydet"), QStringLiteral("Kaydedilemedi: %1").arg(*failure));
}

void Form1::Command1_Click()
{
    runCommand([this] { m_link.sendAll(commandwrites::companyName(Text6->text())); });
}

void Form1::Command2_Click()
{
    // Every value is worked out before the first write, so a bad date sends nothing.
    const QString failure = failureText(Failure::BadDate);
    if (const auto writes = clockframes::dateWrites(Text2->text(), m_module.clock(), QLocale()))
        sendOrReport(*writes, failure);
    else
        showMessage(failure);
}

void Form1::Command3_Click()
{
    const QString failure = failureText(Failure::BadTime);
    if (const auto write = clockframes::timeWrite(Text7->text(), m_module.clock(), QLocale()))
        sendOrReport({*write}, failure);
    else
        showMessage(failure);
}

void Form1::Command4_Click()
{
    runCommand([this] {
        Text1->setText(commandwrites::cardReadText(Text1->text(), m_module.randomCards));
        m_link.sendAll(commandwrites::cardRead(Text1->text()));
    });
}

void Form1::Command5_Click()
{
    runCommand([this] { send(commandframes::zeroCardCounter); });
}

void Form1::Command6_Click()
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
            m_link.sendAll(commandwrites::messageAfterPause(Text4->text()));
    } catch (const CommError &failure) {
        if (self && !m_unloaded)
            showPortFailure(failure);
    }
}

void Form1::Command9_Click()
{
    runCommand([this] { m_link.sendAll(commandwrites::freeCommand(Text3->text())); });
}

void Form1::Command10_Click()
{
    runCommand([this] {
        send(commandframes::readInformation);
        m_link.receivePoll().setEnabled(true);
    });
}

void Form1::Command11_Click()
{
    runCommand([this] {
        send(commandframes::readCardCounter);
        m_link.receivePoll().setEnabled(true);
    });
}

void Form1::Command14_Click()
{
    runCommand([this] {
        // "@I" leaves before the box changes, so a refused write leaves the box as typed.
        const QList<QByteArray> writes = commandwrites::assignCardCounter(Text11->text());
        send(writes.first());
        Text11->setText(commandframes::zeroPadded(Text11->text()));
        m_link.sendAll(writes.sliced(1));
    });
}

void Form1::Command15_Click()
{
    Text8->setText(QString());
}

void Form1::Command17_Click()
{
    runCommand([this] { send(commandframes::access); });
}

void Form1::Command18_Click()
{
    runCommand([this] { m_link.sendAll(commandwrites::dial(Text10->text())); });
}

void Form1::Command19_Click()
{
    runCommand([this] { send(commandframes::reset); });
}

void Form1::Label3_Click()
{
    const std::optional<QList<QByteArray>> frame = commandwrites::cardFrame(Text1->text());
    // A value no two bytes can carry is refused here rather than sent cut down.
    if (!frame) {
        showMessage(failureText(Failure::BadCardNumber));
        return;
    }
    runCommand([this, &frame] {
        m_link.sendAll(*frame);
        Text8->appendText(u"\r\nOK.\r\n");
    });
}
