#include "form0.h"

#include "accesskeys.h"
#include "caption.h"
#include "comname.h"
#include "designfonts.h"
#include "form1.h"
#include "module1.h"
#include "programicon.h"
#include "twips.h"

#include <QComboBox>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int portCount = 12;

// Tells each entry's device afresh whenever the operator looks: adapters come and go.
class PortComboBox : public QComboBox
{
public:
    PortComboBox(QString programDir, QWidget *parent) : QComboBox(parent), m_programDir(std::move(programDir)) {}

    // The system's list of ports takes tens of milliseconds to ask for: it is asked for when the
    // operator looks (a tooltip, the open list), and left out before the window first shows.
    void refreshToolTips(const QList<QSerialPortInfo> &available = QSerialPortInfo::availablePorts())
    {
        for (int i = 0; i < count(); ++i)
            setItemData(i, portToolTip(i + 1, portFacts(comDevicePath(i + 1, m_programDir), available)), Qt::ToolTipRole);
        setToolTip(itemData(currentIndex(), Qt::ToolTipRole).toString());
    }

    void showPopup() override
    {
        refreshToolTips();
        QComboBox::showPopup();
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::ToolTip)
            refreshToolTips();
        return QComboBox::event(event);
    }

private:
    QString m_programDir;
};

} // namespace

QString portToolTip(int portNumber, const PortFacts &facts)
{
    QStringList lines{QStringLiteral("COM%1: %2").arg(portNumber).arg(facts.device)};
    if (!facts.present)
        return lines.first() + QStringLiteral("\nŞu anda bu adda bir aygıt yok.");
    const auto add = [&lines](const char *label, const QString &value) {
        if (!value.isEmpty())
            lines << QString::fromUtf8(label) + value;
    };
    add("Açıklama: ", facts.description);
    add("Üretici: ", facts.manufacturer);
    add("USB kimliği: ", facts.usbId);
    add("Seri numarası: ", facts.serialNumber);
    return lines.join(QLatin1Char('\n'));
}

Form0::Form0(Module1 &module, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_module(module)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(WindowCaption());
    setWindowIcon(programIcon());
    resize(pixels(4755), pixels(600));

    const QFont font = designfonts::font(QStringLiteral("MS Sans Serif"), designfonts::largePixels, true);
    portLabel = new QLabel(QStringLiteral("COM PORT"), this);
    portLabel->setObjectName(QStringLiteral("Label1"));
    portLabel->setGeometry(twipsRect(240, 120, 1215, 375));
    portLabel->setFont(font);
    portLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto *combo = new PortComboBox(m_module.programDir, this);
    portList = combo;
    portList->setObjectName(QStringLiteral("Combo1"));
    portList->setGeometry(twipsRect(1560, 120, 1695, 360));
    portList->setFont(font);
    for (int port = 1; port <= portCount; ++port)
        portList->addItem(QStringLiteral("COM%1").arg(port));
    combo->refreshToolTips({});

    okButton = new QPushButton(QStringLiteral("&Tamam"), this);
    okButton->setObjectName(QStringLiteral("Command1"));
    okButton->setGeometry(twipsRect(3480, 120, 1095, 375));
    okButton->setFont(font);
    okButton->setAutoDefault(false);
    accesskeys::clickAtOnce(okButton);

    connect(portList, &QComboBox::currentIndexChanged, this, &Form0::choosePort);
    connect(okButton, &QPushButton::clicked, this, &Form0::openMainWindow);

    setTabOrder(portList, okButton);
    portList->setCurrentIndex(0);
    choosePort(0);
    portList->setFocus();

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Form0::choosePort(int position)
{
    portList->setToolTip(portList->itemData(position, Qt::ToolTipRole).toString());
    m_module.SelectedPort = quint8(position + 1);
}

void Form0::openMainWindow()
{
    m_module.SelectedPort = quint8(portList->currentIndex() + 1);
    auto *form1 = new Form1(m_module);
    form1->load();
    form1->show();
    close();
}
