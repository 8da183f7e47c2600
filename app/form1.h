#pragma once

#include "portlink.h"

#include <QTimer>
#include <QWidget>

class ClickableLabel;
class QLabel;
class QLineEdit;
class QPushButton;
class ReceiveConsole;
struct Module1;

// The main control window. It lays out the controls and binds each to its command routine;
// the frames come from protocol/ (pure byte builders), the port, `send`, the receive poll
// and the console from link/. The window only reads boxes, calls `send` in order, and
// shows the failures.
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
    void send(QByteArrayView bytes);
    // Runs a command's writes; a refused write ends them there and is reported.
    template <typename Writes>
    void runCommand(Writes writes);
    // Sends writes worked out beforehand; a refused write ends them there and shows `failure`,
    // leaving the earlier ones on the line.
    void sendOrReport(const QList<QByteArray> &writes, const QString &failure);
    void showPortFailure(const CommError &failure);
    // Marks the "Alınan Mesajlar" heading while the device is gone and the link waits for it.
    void showLineDown(bool down);
    void showMessage(const QString &text);
    // Asks the operator for a file and writes the received text to it.
    void saveReceived();

    // The command routines, in the window's order; form1.cpp names their design controls.
    void sendAccess();
    void sendReset();
    void readInformation();
    void readCounter();
    void zeroCounter();
    void assignCounter();
    void readCard();
    void setDate();
    void setTime();
    void sendCompanyName();
    void writeMessage();
    void sendFreeCommand();
    void dial();
    void sendCardFrame();
    void clearConsole();
    void returnToPortSelection();

    Module1 &m_module;
    PortLink m_link;
    QTimer m_returnTimer;
    bool m_unloaded = false;
    // Message sequences whose second half waits for the one running wait.
    bool m_messageWaitRunning = false;
    int m_messagesWaiting = 0;
};
