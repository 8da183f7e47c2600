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

    ClickableLabel *Label3 = nullptr;
    QPushButton *Command17 = nullptr;
    QPushButton *Command19 = nullptr;
    QPushButton *Command10 = nullptr;
    QPushButton *Command11 = nullptr;
    QPushButton *Command5 = nullptr;
    QLineEdit *Text11 = nullptr;
    QPushButton *Command14 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command4 = nullptr;
    QLineEdit *Text2 = nullptr;
    QPushButton *Command2 = nullptr;
    QLineEdit *Text7 = nullptr;
    QPushButton *Command3 = nullptr;
    QLineEdit *Text6 = nullptr;
    QPushButton *Command1 = nullptr;
    QLineEdit *Text4 = nullptr;
    QPushButton *Command6 = nullptr;
    QLineEdit *Text3 = nullptr;
    QPushButton *Command9 = nullptr;
    QLineEdit *Text10 = nullptr;
    QPushButton *Command18 = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *Command15 = nullptr;
    ReceiveConsole *Text8 = nullptr;
    QLabel *Label2 = nullptr;

    PortLink &link() { return m_link; }
    QTimer &Timer2() { return m_timer2; }

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

    void Timer2_Timer();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command9_Click();
    void Command10_Click();
    void Command11_Click();
    void Command14_Click();
    void Command15_Click();
    void Command17_Click();
    void Command18_Click();
    void Command19_Click();
    void Label3_Click();

    Module1 &m_module;
    PortLink m_link;
    QTimer m_timer2;
    bool m_unloaded = false;
    // Message sequences whose second half waits for the one running wait.
    bool m_messageWaitRunning = false;
    int m_messagesWaiting = 0;
};
