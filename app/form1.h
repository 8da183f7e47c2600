#pragma once

#include "commandcatalogue.h"
#include "portlink.h"

#include <QTimer>
#include <QWidget>

#include <map>

class ClickableLabel;
class QLabel;
class QLineEdit;
class QPushButton;
class ReceiveConsole;
struct Module1;

// The main control window. It lays out the controls and binds each to its command of
// protocol/'s catalogue, whose plan gives the bytes; the port, `send`, the receive poll and
// the paced wait come from link/. The window only reads boxes, sends in order, and shows
// the failures.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(Module1 &module, QWidget *parent = nullptr);

    // The open sequence: caption, settings file, baud line, port, receive poll; on failure
    // the message and the return to the port selection window.
    void load();

    // Each control's objectName is its name in the design (the table in form1.cpp).
    ClickableLabel *cardFrameHeading = nullptr;
    QPushButton *accessButton = nullptr;
    QPushButton *resetButton = nullptr;
    QPushButton *informationButton = nullptr;
    QPushButton *counterReadButton = nullptr;
    QPushButton *counterZeroButton = nullptr;
    QLineEdit *counterBox = nullptr;
    QPushButton *counterAssignButton = nullptr;
    QLineEdit *cardNumberBox = nullptr;
    QPushButton *cardReadButton = nullptr;
    QLineEdit *dateBox = nullptr;
    QPushButton *dateButton = nullptr;
    QLineEdit *timeBox = nullptr;
    QPushButton *timeButton = nullptr;
    QLineEdit *companyBox = nullptr;
    QPushButton *companyButton = nullptr;
    QLineEdit *messageBox = nullptr;
    QPushButton *messageButton = nullptr;
    QLineEdit *commandBox = nullptr;
    QPushButton *commandButton = nullptr;
    QLineEdit *phoneNumberBox = nullptr;
    QPushButton *dialButton = nullptr;
    QLabel *receivedHeading = nullptr;
    QPushButton *clearButton = nullptr;
    ReceiveConsole *console = nullptr;
    QLabel *makerLabel = nullptr;

    PortLink &link() { return m_link; }
    QTimer &returnTimer() { return m_returnTimer; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void bindEvents();

    void unload();
    // Runs a catalogue command as its control's click: reads its box, plans, sends, waits
    // where the plan pauses, and shows the failures.
    void runCommand(commandcatalogue::Id id);
    QString boxText(commandcatalogue::Id id) const;
    void showPortFailure(const CommError &failure);
    // Marks the "Alınan Mesajlar" heading while the device is gone and the link waits for it.
    void showLineDown(bool down);
    void showMessage(const QString &text);
    // Asks the operator for a file and writes the received text to it.
    void saveReceived();
    void clearConsole();
    void returnToPortSelection();

    Module1 &m_module;
    PortLink m_link;
    QTimer m_returnTimer;
    bool m_unloaded = false;
    // Each command's control (a button, or the card frame's heading) and box, if it has them.
    struct CommandControls
    {
        QWidget *control = nullptr;
        QLineEdit *box = nullptr;
    };
    std::map<commandcatalogue::Id, CommandControls> m_commands;
    // Clicks whose second half waits for the one running wait, in click order.
    bool m_messageWaitRunning = false;
    QList<commandcatalogue::Id> m_messagesWaiting;
};
